// The page layout read here: a header page (0), then pages of 2 KiB (Jet 3) or 4 KiB (Jet 4), each
// starting with its type (in an encoded file, once decoded with the header's key: jet_header.h). A
// table's definition (type 2, continued on further pages from byte 8) holds its counts, the physical
// indexes, the columns, their names, the logical indexes and their names; a usage map names the data
// pages (type 1) that hold its rows. A data page ends with its rows, listed by a table of 2-byte
// offsets whose top bits mark a deleted row (0x8000) or a row moved elsewhere (0x4000: the row holds a
// pointer to where it now stands).
#include "qvmigrate/jet_pages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/safe_file.h"
#include "qvmigrate/codepage.h"
#include "qvmigrate/errors.h"
#include "qvmigrate/jet_header.h"

namespace qvmigrate::pages {

namespace {

constexpr unsigned kOffsetMask = 0x1fff;

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
        if (at + n > bytes.size()) throw Failure(Failure::Jet, "the definition of [" + table + "] is cut short");
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

platform::Fd OpenForReading(const std::filesystem::path &path) {
    platform::Opened fd = platform::OpenFile(path, O_RDONLY | O_NONBLOCK);
    if (!fd.refusedLink.empty()) throw Failure(Failure::Jet, platform::LinkOfAnotherUser(fd.refusedLink.string(), "read"));
    if (!fd) throw Failure(Failure::Jet, std::string("it cannot be read: ") + std::strerror(errno));
    return fd;
}

File::File(const std::filesystem::path &path) : fd_(OpenForReading(path)) { Read(); }

File::File(int fd) : fd_(::fcntl(fd, F_DUPFD_CLOEXEC, 0)) {
    if (!fd_) throw Failure(Failure::Jet, std::string("it cannot be read: ") + std::strerror(errno));
    Read();
}

void File::Read() {
    struct stat st {};
    unsigned char head[0x98] = {};
    const ssize_t got = ::fstat(fd_.get(), &st) == 0 ? platform::ReadFully(fd_.get(), head, sizeof head, 0) : -1;
    const std::string problem = got < 0 ? std::string("it cannot be read: ") + std::strerror(errno)
                                        : FormatProblem(head, static_cast<std::size_t>(got));
    if (!problem.empty()) throw Failure(Failure::Jet, problem);
    header_.assign(reinterpret_cast<const char *>(head), sizeof head);
    jet4_ = head[0x14] == 1;
    pageSize_ = jet4_ ? 4096 : 2048;
    pages_ = static_cast<std::uint64_t>(st.st_size) / pageSize_;
    ToggleHeaderMask(head, jet4_);
    codePage_ = U16(head + 0x3c) ? U16(head + 0x3c) : 1252;
    key_ = EncodingKey(head);
    // The catalog: the rows of MSysObjects, whose definition is always page 2.
    const Table catalog = ReadTable(2, "MSysObjects");
    auto find = [&](const char *name) {
        for (std::size_t c = 0; c < catalog.columns.size(); ++c)
            if (SameNoCase(catalog.columns[c].name, name)) return c;
        throw Failure(Failure::Jet, std::string("its catalog has no column ") + name);
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
                                    Text(n.bytes)));
    }
}

File::~File() = default;

std::vector<unsigned char> File::Page(std::uint32_t number) const {
    if (number >= pages_) throw Failure(Failure::Jet, "page " + std::to_string(number) + " lies past the end of the file: it is cut short");
    std::vector<unsigned char> page(pageSize_);
    const ssize_t n = platform::ReadFully(fd_.get(), page.data(), pageSize_, static_cast<std::int64_t>(number) * pageSize_);
    if (n < 0) throw Failure(Failure::Jet, std::string("it cannot be read: ") + std::strerror(errno));
    if (static_cast<std::size_t>(n) < pageSize_) throw Failure(Failure::Jet, "page " + std::to_string(number) + " is cut short");
    if (key_ && number) TogglePageEncoding(page.data(), pageSize_, key_, number);
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
        throw Failure(Failure::Jet, "row " + std::to_string(pageRow & 0xff) + " of page " + std::to_string(pageRow >> 8) + " is missing");
    return s;
}

std::vector<unsigned char> File::Definition(std::uint32_t page) const {
    std::vector<unsigned char> bytes = Page(page);
    if (bytes[0] != 2)
        throw Failure(Failure::Jet, "page " + std::to_string(page) + " is not a table definition" +
                       (key_ ? " (the file is encoded, and its pages do not decode with the key in its header)" : ""));
    for (std::uint32_t next = U32(bytes.data() + 4), hops = 0; next != 0; ++hops) {
        if (hops > 1000) throw Failure(Failure::Jet, "the definition pages from page " + std::to_string(page) + " form a loop");
        const std::vector<unsigned char> more = Page(next);
        if (more[0] != 2) throw Failure(Failure::Jet, "page " + std::to_string(next) + " is not a table definition");
        bytes.insert(bytes.end(), more.begin() + 8, more.end());
        next = U32(more.data() + 4);
    }
    return bytes;
}

std::string File::Text(const std::string &raw) const {
    return jet4_ ? Utf8FromUtf16(Jet4Units(raw)) : PlainCodePageText(raw, codePage_);
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
    if (columns > 4096 || logical > 1024 || real > 1024) throw Failure(Failure::Jet, "the definition of [" + name + "] is damaged");
    at.Take(L.realIndexCount * real);
    for (unsigned c = 0; c < columns; ++c) t.columns.push_back(ColumnAt(L, at.Take(L.column)));
    auto name_ = [&] {
        const std::size_t n = jet4_ ? U16(at.Take(2)) : *at.Take(1);
        return Text(std::string(reinterpret_cast<const char *>(at.Take(n)), n));
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
        throw Failure(Failure::Jet, "the page map of [" + table.name + "] is of an unknown kind");
    }
    return pages;
}


}  // namespace qvmigrate::pages
