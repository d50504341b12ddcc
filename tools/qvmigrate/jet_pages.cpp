// The page layout read here: a header page (0), then pages of 2 KiB (Jet 3) or 4 KiB (Jet 4), each
// starting with its type. A table's definition (type 2, continued on further pages from byte 8) holds
// its counts, the physical indexes, the columns, their names, the logical indexes and their names;
// a usage map names the data pages (type 1) that hold its rows. A data page ends with its rows,
// listed by a table of 2-byte offsets whose top bits mark a deleted row (0x8000) or a row moved
// elsewhere (0x4000: the row holds a pointer to where it now stands).
#include "qvmigrate/jet_pages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_io.h"
#include "platform/safe_file.h"
#include "qvmigrate/jet.h"
#include "qvmigrate/jet_header.h"
#include "qvmigrate/value.h"

namespace qvmigrate::pages {

namespace {

constexpr unsigned kDeleted = 0x8000, kMoved = 0x4000, kOffsetMask = 0x1fff;
constexpr int kMaxMoves = 8;

std::uint16_t U16(const unsigned char *p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const unsigned char *p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Where the fields of a table definition lie, in Jet 3 and Jet 4.
struct Layout {
    std::size_t rows, varColumns, columns, indexes, realIndexes, usageMap, columnsStart;
    std::size_t realIndexCount, column, realIndex, logicalIndex;
    std::size_t colNumber, colVar, colPrecision, colScale, colFlags, colFixed, colSize;
    std::size_t realKeys, realFlags, logicalReal, logicalType;
};
constexpr Layout kJet3{12, 23, 25, 27, 31, 35, 43, 8, 18, 39, 20, 1, 3, 9, 10, 13, 14, 16, 0, 38, 4, 19};
constexpr Layout kJet4{16, 43, 45, 47, 51, 55, 63, 12, 25, 52, 28, 5, 7, 11, 12, 15, 21, 23, 4, 46, 8, 23};

// Reads a table definition from front to back, refusing to pass its end.
struct Cursor {
    const std::vector<unsigned char> &bytes;
    std::size_t at;
    const std::string &table;
    const unsigned char *Take(std::size_t n) {
        if (at + n > bytes.size()) throw JetError("the definition of [" + table + "] is cut short");
        const unsigned char *p = bytes.data() + at;
        at += n;
        return p;
    }
};

// The column whose definition entry starts at `e` (its name follows the entries).
Column ColumnAt(const Layout &L, const unsigned char *e) {
    Column col;
    col.type = e[0];
    col.number = U16(e + L.colNumber);
    col.varIndex = U16(e + L.colVar);
    col.precision = e[L.colPrecision];
    col.scale = e[L.colScale];
    col.fixed = e[L.colFlags] & 0x01;
    col.fixedOffset = U16(e + L.colFixed);
    col.size = U16(e + L.colSize);
    return col;
}

}  // namespace

std::u16string Jet4Units(const std::string &bytes) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t n = bytes.size();
    std::u16string out;
    if (n < 2 || p[0] != 0xff || p[1] != 0xfe) {
        for (std::size_t i = 1; i < n; i += 2) out.push_back(static_cast<char16_t>(U16(p + i - 1)));
        return out;
    }
    bool wide = false;  // the compressed form starts with one byte a character
    for (std::size_t i = 2; i < n;) {
        if (p[i] == 0) {
            wide = !wide;
            i += 1;
        } else if (!wide) {
            out.push_back(p[i]);
            i += 1;
        } else {
            if (i + 1 >= n) break;
            out.push_back(static_cast<char16_t>(U16(p + i)));
            i += 2;
        }
    }
    return out;
}

std::u32string Jet3Chars(const std::string &bytes, int codePage) {
    QStringDecoder decode(("windows-" + std::to_string(codePage)).c_str(), QStringDecoder::Flag::Stateless);
    if (!decode.isValid()) decode = QStringDecoder(("cp" + std::to_string(codePage)).c_str(), QStringDecoder::Flag::Stateless);
    if (!decode.isValid()) return std::u32string(bytes.size(), U'\ufffd');
    const QString text = decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return text.toStdU32String();
}

platform::Fd OpenForReading(const std::filesystem::path &path) {
    platform::Fd fd = platform::OpenFile(path, O_RDONLY | O_NONBLOCK);
    if (!fd && platform::IsRefusedLink(errno))
        throw JetError(platform::RefusedLink().string() + " is a link made by another user; nothing was read");
    if (!fd) throw JetError(std::string("it cannot be read: ") + std::strerror(errno));
    return fd;
}

File::File(const std::filesystem::path &path) : fd_(OpenForReading(path)) { Read(); }

File::File(int fd) : fd_(::fcntl(fd, F_DUPFD_CLOEXEC, 0)) {
    if (!fd_) throw JetError(std::string("it cannot be read: ") + std::strerror(errno));
    Read();
}

void File::Read() {
    struct stat st {};
    unsigned char head[0x98] = {};
    const ssize_t got = ::fstat(fd_.get(), &st) == 0 ? platform::ReadFully(fd_.get(), head, sizeof head, 0) : -1;
    const std::string problem = got < 0 ? std::string("it cannot be read: ") + std::strerror(errno)
                                        : FormatProblem(head, static_cast<std::size_t>(got));
    if (!problem.empty()) throw JetError(problem);
    header_.assign(reinterpret_cast<const char *>(head), sizeof head);
    jet4_ = head[0x14] == 1;
    pageSize_ = jet4_ ? 4096 : 2048;
    pages_ = static_cast<std::uint64_t>(st.st_size) / pageSize_;
    ToggleHeaderMask(head, jet4_);
    codePage_ = U16(head + 0x3c) ? U16(head + 0x3c) : 1252;
    // The catalog: the rows of MSysObjects, whose definition is always page 2.
    const Table catalog = ReadTable(2, "MSysObjects");
    auto find = [&](const char *name) {
        for (std::size_t c = 0; c < catalog.columns.size(); ++c)
            if (SameNoCase(catalog.columns[c].name, name)) return c;
        throw JetError(std::string("its catalog has no column ") + name);
    };
    const std::size_t id = find("Id"), name = find("Name"), type = find("Type"), flags = find("Flags");
    Rows rows(*this, catalog);
    for (std::vector<Cell> cells; rows.Next(cells);) {
        auto number = [&](std::size_t c) -> std::uint32_t {
            const Cell &cell = cells[c];
            if (cell.null || cell.bytes.size() < 2) return 0;
            const auto *b = reinterpret_cast<const unsigned char *>(cell.bytes.data());
            return cell.bytes.size() >= 4 ? U32(b) : U16(b);
        };
        // A table of the user's: type 1 (the low 7 bits), not flagged as a system table.
        if ((number(type) & 0x7f) != 1 || (number(flags) & 0x80000002u)) continue;
        const Cell &n = cells[name];
        tables_.push_back(ReadTable(number(id) & 0x00ffffff,
                                    Name(reinterpret_cast<const unsigned char *>(n.bytes.data()), n.bytes.size())));
    }
}

File::~File() = default;

std::vector<unsigned char> File::Page(std::uint32_t number) const {
    if (number >= pages_) throw JetError("page " + std::to_string(number) + " lies past the end of the file: it is cut short");
    std::vector<unsigned char> page(pageSize_);
    const ssize_t n = platform::ReadFully(fd_.get(), page.data(), pageSize_, static_cast<std::int64_t>(number) * pageSize_);
    if (n < 0) throw JetError(std::string("it cannot be read: ") + std::strerror(errno));
    if (static_cast<std::size_t>(n) < pageSize_) throw JetError("page " + std::to_string(number) + " is cut short");
    return page;
}

bool File::RowOf(const std::vector<unsigned char> &page, int row, std::size_t &start, std::size_t &size,
                 unsigned &flags) const {
    const std::size_t table = jet4_ ? 0x0c : 0x08;
    const int count = U16(page.data() + table);
    if (row < 0 || row >= count || table + 2 + 2 * static_cast<std::size_t>(count) > pageSize_) return false;
    const unsigned entry = U16(page.data() + table + 2 + 2 * row);
    const std::size_t end = row == 0 ? pageSize_ : U16(page.data() + table + 2 * row) & kOffsetMask;
    flags = entry & ~kOffsetMask;
    start = entry & kOffsetMask;
    if (start > end || end > pageSize_) return false;
    size = end - start;
    return true;
}

File::Span File::RowAt(std::uint32_t pageRow) const {
    Span s;
    s.page = Page(pageRow >> 8);
    if (!RowOf(s.page, static_cast<int>(pageRow & 0xff), s.start, s.size, s.flags))
        throw JetError("row " + std::to_string(pageRow & 0xff) + " of page " + std::to_string(pageRow >> 8) + " is missing");
    return s;
}

std::vector<unsigned char> File::Definition(std::uint32_t page) const {
    std::vector<unsigned char> bytes = Page(page);
    if (bytes[0] != 2) throw JetError("page " + std::to_string(page) + " is not a table definition");
    for (std::uint32_t next = U32(bytes.data() + 4), hops = 0; next != 0; ++hops) {
        if (hops > 1000) throw JetError("the definition pages from page " + std::to_string(page) + " form a loop");
        const std::vector<unsigned char> more = Page(next);
        if (more[0] != 2) throw JetError("page " + std::to_string(next) + " is not a table definition");
        bytes.insert(bytes.end(), more.begin() + 8, more.end());
        next = U32(more.data() + 4);
    }
    return bytes;
}

std::string File::Name(const unsigned char *bytes, std::size_t size) const {
    const std::string raw(reinterpret_cast<const char *>(bytes), size);
    if (jet4_) {
        const std::u16string units = Jet4Units(raw);
        return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size())).toStdString();
    }
    const std::u32string chars = Jet3Chars(raw, codePage_);
    return QString::fromUcs4(chars.data(), static_cast<qsizetype>(chars.size())).toStdString();
}

Table File::ReadTable(std::uint32_t page, const std::string &name) const {
    const Layout &L = jet4_ ? kJet4 : kJet3;
    const std::vector<unsigned char> def = Definition(page);
    Table t;
    t.name = name;
    t.definitionPage = page;
    Cursor at{def, 0, t.name};
    t.rows = U32(at.Take(L.columnsStart) + L.rows);
    const unsigned columns = U16(def.data() + L.columns);
    const std::uint32_t logical = U32(def.data() + L.indexes), real = U32(def.data() + L.realIndexes);
    if (columns > 4096 || logical > 1024 || real > 1024) throw JetError("the definition of [" + name + "] is damaged");
    at.Take(L.realIndexCount * real);
    for (unsigned c = 0; c < columns; ++c) t.columns.push_back(ColumnAt(L, at.Take(L.column)));
    auto name_ = [&] {
        const std::size_t n = jet4_ ? U16(at.Take(2)) : *at.Take(1);
        return Name(at.Take(n), n);
    };
    for (auto &col : t.columns) col.name = name_();
    struct Physical {
        std::vector<int> numbers;
        std::vector<bool> descending;
        bool unique;
    };
    std::vector<Physical> physical;
    for (std::uint32_t i = 0; i < real; ++i) {
        const unsigned char *e = at.Take(L.realIndex);
        Physical p{{}, {}, (e[L.realFlags] & 0x01) != 0};
        for (int k = 0; k < 10; ++k) {
            const unsigned number = U16(e + L.realKeys + 3 * k);
            if (number == 0xffff) continue;
            p.numbers.push_back(static_cast<int>(number));
            p.descending.push_back(e[L.realKeys + 3 * k + 2] == 0);
        }
        physical.push_back(std::move(p));
    }
    std::vector<std::pair<std::uint32_t, int>> logicals;  // physical index, type
    for (std::uint32_t i = 0; i < logical; ++i) {
        const unsigned char *e = at.Take(L.logicalIndex);
        logicals.emplace_back(U32(e + L.logicalReal), e[L.logicalType]);
    }
    std::stable_sort(t.columns.begin(), t.columns.end(), [](const Column &a, const Column &b) { return a.number < b.number; });
    for (const auto &[realNumber, type] : logicals) {
        Index idx;
        idx.name = name_();
        if (type == 2) continue;  // the hidden index of a relationship
        idx.primary = type == 1;
        if (realNumber >= physical.size()) {
            idx.unreadable = "it names physical index " + std::to_string(realNumber) + " of " + std::to_string(physical.size());
        } else {
            const Physical &p = physical[realNumber];
            idx.unique = p.unique || idx.primary;
            idx.descending = p.descending;
            for (int number : p.numbers) {
                const auto c = std::find_if(t.columns.begin(), t.columns.end(), [&](const Column &col) { return col.number == number; });
                if (c == t.columns.end()) {
                    idx.unreadable = "its key column number " + std::to_string(number) + " is not a column of the table";
                    break;
                }
                idx.columns.push_back(static_cast<std::size_t>(c - t.columns.begin()));
            }
            if (idx.unreadable.empty() && idx.columns.empty()) idx.unreadable = "it has no key columns";
        }
        t.indexes.push_back(std::move(idx));
    }
    return t;
}

std::vector<std::uint32_t> File::OwnedPages(const Table &table) const {
    const Layout &L = jet4_ ? kJet4 : kJet3;
    const std::vector<unsigned char> def = Page(table.definitionPage);
    const Span map = RowAt(U32(def.data() + L.usageMap));
    const unsigned char *m = map.page.data() + map.start;
    std::vector<std::uint32_t> pages;
    auto bits = [&](const unsigned char *bitmap, std::size_t bytes, std::uint64_t first) {
        for (std::size_t i = 0; i < bytes * 8; ++i)
            if (bitmap[i / 8] & (1u << (i % 8)) && first + i < pages_) pages.push_back(static_cast<std::uint32_t>(first + i));
    };
    if (map.size >= 5 && m[0] == 0) {
        bits(m + 5, map.size - 5, U32(m + 1));
    } else if (map.size >= 1 && m[0] == 1) {
        // Pointers to map pages (type 5), each a bitmap from its byte 4 of the pages that follow.
        const std::size_t span = (pageSize_ - 4) * 8;
        for (std::size_t k = 0; 1 + 4 * k + 4 <= map.size; ++k) {
            const std::uint32_t mapPage = U32(m + 1 + 4 * k);
            if (mapPage == 0) continue;
            const std::vector<unsigned char> bitmap = Page(mapPage);
            bits(bitmap.data() + 4, pageSize_ - 4, static_cast<std::uint64_t>(k) * span);
        }
    } else {
        throw JetError("the page map of [" + table.name + "] is of an unknown kind");
    }
    return pages;
}

void File::Crack(const Table &t, unsigned long number, const unsigned char *row, std::size_t size,
                 std::vector<Cell> &cells) const {
    auto damaged = [&] { return JetError("[" + t.name + "] row " + std::to_string(number) + " is damaged"); };
    const std::size_t countSize = jet4_ ? 2 : 1;
    if (size < countSize + 1) throw damaged();
    const std::size_t columns = jet4_ ? U16(row) : row[0], mask = (columns + 7) / 8;
    if (mask + countSize + 1 > size) throw damaged();
    const unsigned char *nulls = row + size - mask;
    std::vector<std::size_t> offsets;  // of the variable-length columns, then their end
    const bool anyVariable = std::any_of(t.columns.begin(), t.columns.end(), [](const Column &c) { return !c.fixed; });
    if (anyVariable) {
        if (jet4_) {
            if (mask + 4 > size) throw damaged();
            const std::size_t count = U16(row + size - mask - 2);
            if (mask + 4 + 2 * count > size) throw damaged();
            for (std::size_t i = 0; i <= count; ++i) offsets.push_back(U16(row + size - mask - 4 - 2 * i));
        } else {
            // One-byte offsets, with a table of the entries from which 256, 512, ... are added.
            const std::size_t count = row[size - 1 - mask];
            std::size_t jumps = (size - 1) / 256;
            const std::size_t last = size - 1 - mask - jumps - 1;  // the first offset entry, counted back
            if (mask + jumps + 2 > size || last < count) throw damaged();
            if ((last - count) / 256 < jumps) --jumps;  // the last entry of the jump table is unused
            std::size_t used = 0;
            for (std::size_t i = 0; i <= count; ++i) {
                while (used < jumps && i == row[size - 1 - mask - 1 - used]) ++used;
                offsets.push_back(row[last - i] + 256 * used);
            }
        }
    }
    const std::size_t variable = offsets.empty() ? 0 : offsets.size() - 1;
    const std::size_t fixedInRow = columns >= variable ? columns - variable : 0;
    std::size_t fixedSeen = 0;
    std::vector<Cell> out(t.columns.size());
    for (std::size_t c = 0; c < t.columns.size(); ++c) {
        const Column &col = t.columns[c];
        Cell &cell = out[c];
        const std::size_t bit = static_cast<std::size_t>(col.number);
        cell.null = bit >= mask * 8 || !(nulls[bit / 8] & (1u << (bit % 8)));
        std::size_t from = 0, length = 0;
        bool present = false;
        if (col.fixed && fixedSeen < fixedInRow) {
            ++fixedSeen;
            from = countSize + static_cast<std::size_t>(col.fixedOffset);
            length = static_cast<std::size_t>(col.size);
            present = col.type != kBool;
        } else if (!col.fixed && static_cast<std::size_t>(col.varIndex) < variable) {
            from = offsets[static_cast<std::size_t>(col.varIndex)];
            const std::size_t to = offsets[static_cast<std::size_t>(col.varIndex) + 1];
            if (to < from) throw damaged();
            length = to - from;
            present = true;
        } else if (col.type != kBool) {
            cell.null = true;
        }
        if (cell.null || !present) continue;
        if (from + length > size) throw damaged();
        if (col.type == kMemo || col.type == kOle) {
            try {
                cell.bytes = LongValue(row + from, length);
            } catch (const JetError &e) {
                throw JetError("[" + t.name + "] row " + std::to_string(number) + " column '" + col.name + "': " + e.what());
            }
        } else
            cell.bytes.assign(reinterpret_cast<const char *>(row + from), length);
    }
    cells = std::move(out);
}

std::string File::LongValue(const unsigned char *field, std::size_t size) const {
    if (size == 0) return {};
    if (size < 12) throw JetError("a long value is cut short");
    const std::uint32_t head = U32(field), length = head & 0x3fffffff;
    if (head & 0x80000000u) return std::string(reinterpret_cast<const char *>(field) + 12, size - 12);
    std::uint32_t next = U32(field + 4);
    std::string out;
    if (head & 0x40000000u) {
        const Span s = RowAt(next);
        if (s.size < length) throw JetError("a long value is shorter than its header says");
        return std::string(reinterpret_cast<const char *>(s.page.data() + s.start), length);
    }
    if (head & 0xc0000000u) throw JetError("a long value has unknown flags");
    for (int pieces = 0; out.size() < length; ++pieces) {
        if (next == 0 || pieces > 1 << 20) throw JetError("a long value's pages are missing");
        const Span s = RowAt(next);
        if (s.size < 4) throw JetError("a long value's page is damaged");
        next = U32(s.page.data() + s.start);
        out.append(reinterpret_cast<const char *>(s.page.data() + s.start + 4), s.size - 4);
    }
    if (out.size() != length) throw JetError("a long value is not as long as its header says");
    return out;
}

File::Rows::Rows(const File &file, const Table &table) : file_(file), table_(table) {
    try {
        pages_ = file.OwnedPages(table);
    } catch (const JetError &e) {
        throw JetError("the page map of [" + table.name + "] cannot be read: " + e.what());
    }
}

bool File::Rows::Next(std::vector<Cell> &cells) {
    while (true) {
        if (page_.empty() || nextRow_ >= rowsOnPage_) {
            page_.clear();
            while (page_.empty() && nextPage_ < pages_.size()) {
                std::vector<unsigned char> p = file_.Page(pages_[nextPage_++]);
                // A page of the map that no longer holds this table's rows is passed over.
                if (p[0] == 1 && U32(p.data() + 4) == table_.definitionPage) page_ = std::move(p);
            }
            if (page_.empty()) break;
            rowsOnPage_ = U16(page_.data() + (file_.jet4_ ? 0x0c : 0x08));
            nextRow_ = 0;
        }
        std::size_t start = 0, size = 0;
        unsigned flags = 0;
        if (!file_.RowOf(page_, nextRow_++, start, size, flags) || size == 0 || (flags & kDeleted)) continue;
        ++count_;
        // A moved row holds where it now stands; the row there is marked deleted, which is no matter.
        Span moved;
        const unsigned char *row = page_.data() + start;
        for (int hops = 0; flags & kMoved; ++hops) {
            if (hops == kMaxMoves || size < 4)
                throw JetError("[" + table_.name + "] row " + std::to_string(count_) + ": its moved row cannot be found");
            try {
                moved = file_.RowAt(U32(row));
            } catch (const JetError &e) {
                throw JetError("[" + table_.name + "] row " + std::to_string(count_) + " has moved to a place that cannot be read: " + e.what());
            }
            row = moved.page.data() + moved.start;
            size = moved.size;
            flags = moved.flags;
        }
        file_.Crack(table_, count_, row, size, cells);
        return true;
    }
    if (count_ != table_.rows)
        throw JetError("[" + table_.name + "]: " + std::to_string(count_) + " rows read, but the table says it holds " +
                       std::to_string(table_.rows));
    return false;
}

}  // namespace qvmigrate::pages
