// libmdb's catalog, table definitions and row pages, read through its C API. Rows are walked here and
// cracked with mdb_crack_row directly so that each cell's NULL flag (the row's null mask) is kept
// (libmdb's bound values show NULL and empty text alike), deleted rows are passed over and moved rows
// are read where they stand (libmdb takes the one flag for the other).
#include "qvmigrate/jet.h"

#include <fcntl.h>
#include <unistd.h>

#include <mdbtools.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <memory>

#include "platform/clock.h"
#include "qvmigrate/codepage.h"
#include "qvmigrate/jet_header.h"
#include "qvmigrate/jet_pages.h"

namespace qvmigrate {

namespace {

constexpr int kOffsetMask = 0x1fff;
constexpr int kDeletedRow = 0x8000, kMovedRow = 0x4000;
constexpr int kMaxMoves = 8;

template <class T>
T Read(const unsigned char *p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::string Quote(const std::string &s) { return "'" + s + "'"; }

// A decimal text without trailing fraction zeros, a trailing point or a minus sign on zero.
std::string CanonicalDecimal(std::string s) {
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return s;
}

}  // namespace

std::string Jet4Text(const unsigned char *p, std::size_t n) {
    std::u16string units;
    units.reserve(n);
    if (n >= 2 && p[0] == 0xff && p[1] == 0xfe) {
        // Compressed: one byte per character (its high byte 0); a 0 byte switches to and from plain
        // two-byte characters.
        bool compressed = true;
        for (std::size_t i = 2; i < n;) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                units += static_cast<char16_t>(p[i++]);
            } else if (i + 1 < n) {
                units += static_cast<char16_t>(p[i] | (p[i + 1] << 8));
                i += 2;
            } else {
                break;
            }
        }
    } else {
        for (std::size_t i = 0; i + 1 < n; i += 2) units += static_cast<char16_t>(p[i] | (p[i + 1] << 8));
    }
    return Utf8FromUtf16(units);
}

std::string GuidText(const unsigned char *b) {
    static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += kHex[b[kOrder[i]] >> 4];
        out += kHex[b[kOrder[i]] & 15];
    }
    return out + "}";
}

bool JetDateText(double days, std::string &out) {
    using namespace std::chrono;
    // 1899-12-30 is day 0; for earlier days the fraction still counts forward from midnight.
    if (!std::isfinite(days) || std::fabs(days) > 1e7) return false;
    const double whole = std::trunc(days);
    long long secs = std::llround(std::fabs(days - whole) * 86400.0);
    long long day = static_cast<long long>(whole) - 25569;  // days since 1970-01-01
    if (secs >= 86400) {
        secs -= 86400;
        ++day;
    }
    const local_days date{std::chrono::days{day}};
    const int y = static_cast<int>(year_month_day{date}.year());
    if (y < 100 || y > 9999) return false;
    out = platform::StorageText(date + seconds{secs});
    return true;
}

struct JetFile::Impl {
    platform::Fd fd;  // the file, reached under the link rule; libmdb reads it through /proc/self/fd
    MdbHandle *mdb = nullptr;
    std::vector<MdbTableDef *> defs;
    std::unique_ptr<CodePageText> jet3Text;
    ~Impl() {
        for (auto *t : defs) mdb_free_tabledef(t);
        if (mdb) mdb_close(mdb);
    }
};

namespace {

// The indexes of a table as its definition holds them. libmdb is not asked: it loses the key columns
// of an index whose logical number is not its physical one, and then reads those after it at the
// wrong place.
std::vector<JetIndex> Indexes(const pages::Table &table) {
    std::vector<JetIndex> out;
    for (const auto &idx : table.indexes) {
        if (!idx.unreadable.empty())
            throw Failure(Failure::Jet, "index '" + idx.name + "' of [" + table.name + "] cannot be read: " + idx.unreadable);
        out.push_back({idx.name, {idx.columns.begin(), idx.columns.end()}, idx.descending, idx.unique, idx.primary});
    }
    return out;
}

}  // namespace

JetFile::JetFile(const std::filesystem::path &file) : impl_(std::make_unique<Impl>()) {
    impl_->fd = pages::OpenForReading(file);
    const pages::File definitions(impl_->fd.get());
    const auto *page0 = reinterpret_cast<const unsigned char *>(definitions.Header().data());
    const std::string self = "/proc/self/fd/" + std::to_string(impl_->fd.get());
    impl_->mdb = mdb_open(self.c_str(), MDB_NOFLAGS);
    MdbHandle *mdb = impl_->mdb;
    if (!mdb) throw Failure(Failure::Jet, "not a Jet database that libmdb can read");
    const bool jet4 = mdb->f->jet_version == MDB_VER_JET4;
    if (!jet4 && mdb->f->jet_version != MDB_VER_JET3)
        throw Failure(Failure::Jet, "an Access 2007 or later database (.accdb format); only Jet 3 and Jet 4 files are read");
    // A Jet 3 file names the code page of its texts (libmdb, too, takes 1252 where it names none).
    if (!jet4) impl_->jet3Text = std::make_unique<CodePageText>(mdb->f->code_page ? mdb->f->code_page : 1252);
    const std::string raw = PasswordBytes(page0, jet4);
    const auto *rawBytes = reinterpret_cast<const unsigned char *>(raw.data());
    if (jet4)
        password_ = Jet4Text(rawBytes, raw.size());
    else if (!impl_->jet3Text->Decode(rawBytes, raw.size(), password_))
        throw Failure(Failure::Jet, "its database password holds a byte that is no character of code page " +
                       std::to_string(impl_->jet3Text->CodePage()));
    if (!mdb_read_catalog(mdb, MDB_TABLE)) throw Failure(Failure::Jet, "its catalog cannot be read");
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE || !mdb_is_user_table(entry)) continue;
        MdbTableDef *def = mdb_read_table(entry);
        if (!def) throw Failure(Failure::Jet, "table [" + std::string(entry->object_name) + "] cannot be read: the file is damaged or cut short");
        impl_->defs.push_back(def);
        if (!mdb_read_columns(def) || def->columns->len != def->num_cols)
            throw Failure(Failure::Jet, "the columns of [" + std::string(entry->object_name) + "] cannot be read");
        JetTable t;
        t.name = entry->object_name;
        t.rows = def->num_rows;
        for (unsigned c = 0; c < def->columns->len; ++c) {
            auto *col = static_cast<MdbColumn *>(g_ptr_array_index(def->columns, c));
            // Debian's libmdb keeps a Numeric column's precision in col_scale and its scale in col_prec;
            // the scale is never the larger of the two.
            JetColumn jc{col->name, col->col_type, std::min(col->col_scale, col->col_prec),
                         std::max(col->col_scale, col->col_prec), pages::StorageType(col->col_type)};
            if (jc.storageType.empty())
                throw Failure(Failure::Jet, "column " + Quote(jc.name) + " of [" + t.name + "] has a type (" +
                               std::to_string(jc.type) + ") that this tool does not convert");
            t.columns.push_back(std::move(jc));
        }
        const auto table = std::find_if(definitions.Tables().begin(), definitions.Tables().end(),
                                        [&](const pages::Table &d) { return d.definitionPage == entry->table_pg; });
        if (table == definitions.Tables().end() || table->columns.size() != t.columns.size())
            throw Failure(Failure::Jet, "the definition of [" + t.name + "] reads differently through libmdb and from its pages");
        for (std::size_t c = 0; c < t.columns.size(); ++c)
            if (table->columns[c].type != t.columns[c].type)
                throw Failure(Failure::Jet, "column " + Quote(t.columns[c].name) + " of [" + t.name + "] reads differently through libmdb and from its pages");
        t.indexes = Indexes(*table);
        tables_.push_back(std::move(t));
    }
}

JetFile::~JetFile() = default;

struct JetFile::Rows::State {
    JetFile *file;
    const JetTable *table;
    MdbHandle *mdb;
    MdbTableDef *def;
    std::vector<MdbField> fields;
    bool pageLoaded = false;
    bool done = false;
    int rowsOnPage = 0;
    int nextRow = 0;
    unsigned long minusZeros = 0;
    std::string longValue;

    [[noreturn]] void Damaged(unsigned long row, const std::string &what) const {
        throw Failure(Failure::Jet, "[" + table->name + "] row " + std::to_string(row) + ": " + what);
    }
    [[noreturn]] void Refuse(unsigned long row, std::size_t column, const std::string &what) const {
        throw Failure(Failure::Value, "[" + table->name + "] row " + std::to_string(row) + " column " +
                         Quote(table->columns[column].name) + ": " + what);
    }

    // A memo or OLE value: inline in the row, in one row of another page, or a chain of such rows.
    void LongValue(unsigned long row, const MdbField &f, std::string &out) {
        out.clear();
        if (f.siz == 0) return;
        if (f.siz < MDB_MEMO_OVERHEAD) Damaged(row, "a long value is cut short");
        const auto *p = mdb->pg_buf + f.start;
        const std::uint32_t head = Read<std::uint32_t>(p);
        const std::size_t length = head & 0x3fffffff;
        if (head & 0x80000000u) {
            out.assign(reinterpret_cast<const char *>(p) + MDB_MEMO_OVERHEAD, f.siz - MDB_MEMO_OVERHEAD);
            return;
        }
        std::int32_t pgRow = Read<std::int32_t>(p + 4);
        const bool single = head & 0x40000000u;
        if (!single && (head & 0xff000000u)) Damaged(row, "a long value has unknown flags");
        while (out.size() < length) {
            void *buf = nullptr;
            int off = 0;
            size_t len = 0;
            if (pgRow == 0 || mdb_find_pg_row(mdb, pgRow, &buf, &off, &len) != 0)
                Damaged(row, "a long value's pages are missing");
            const auto *q = static_cast<const unsigned char *>(buf) + off;
            if (single) {
                out.assign(reinterpret_cast<const char *>(q), std::min(len, length));
                break;
            }
            if (len <= 4) Damaged(row, "a long value's page is damaged");
            pgRow = Read<std::int32_t>(q);
            out.append(reinterpret_cast<const char *>(q) + 4, len - 4);
        }
        if (out.size() != length) Damaged(row, "a long value is not as long as its header says");
    }

    void Text(unsigned long row, std::size_t c, const unsigned char *p, std::size_t n, std::string &out) {
        if (mdb->f->jet_version == MDB_VER_JET4) {
            out = Jet4Text(p, n);
            return;
        }
        const CodePageText &text = *file->impl_->jet3Text;
        if (!text.Decode(p, n, out))
            Refuse(row, c, "the text holds a byte that is no character of code page " + std::to_string(text.CodePage()));
    }

    // A currency value (units of 1/10000) as a REAL, refused when the REAL does not keep its digits.
    void Money(unsigned long row, std::size_t c, std::int64_t units, Value &v) {
        v.SetReal(static_cast<double>(units) / 10000.0);
        char exact[32], stored[48];
        const unsigned long long mag = units < 0 ? 0ULL - static_cast<unsigned long long>(units)
                                                 : static_cast<unsigned long long>(units);
        std::snprintf(exact, sizeof exact, "%s%llu.%04llu", units < 0 ? "-" : "", mag / 10000, mag % 10000);
        std::snprintf(stored, sizeof stored, "%.4f", v.d);
        if (std::strcmp(exact, stored) != 0)
            Refuse(row, c, "the currency value " + std::string(exact) + " has more digits than a REAL keeps");
    }

    void Cell(unsigned long row, std::size_t c, const MdbField &f, Value &v) {
        const int type = table->columns[c].type;
        if (type == MDB_BOOL) return v.SetInteger(f.is_null ? 0 : 1);  // the null mask bit is the value
        if (f.is_null) return v.SetNull();
        const unsigned char *p = mdb->pg_buf + f.start;
        switch (type) {
        case MDB_BYTE: return v.SetInteger(p[0]);
        case MDB_INT: return v.SetInteger(Read<std::int16_t>(p));
        case MDB_LONGINT: return v.SetInteger(Read<std::int32_t>(p));
        case MDB_FLOAT: case MDB_DOUBLE:
            v.SetReal(type == MDB_FLOAT ? Read<float>(p) : Read<double>(p));
            if (std::isnan(v.d)) Refuse(row, c, "the number is not a number (NaN), which SQLite would store as NULL");
            if (v.d == 0 && std::signbit(v.d)) ++minusZeros;
            return;
        case MDB_MONEY: return Money(row, c, Read<std::int64_t>(p), v);
        case MDB_NUMERIC: {
            const JetColumn &col = table->columns[c];
            const auto *raw = static_cast<const MdbColumn *>(g_ptr_array_index(def->columns, c));
            char *text = mdb_numeric_to_string(mdb, f.start, raw->col_scale, raw->col_prec);  // as libmdb passes them
            const std::string exact = text ? text : "";
            g_free(text);
            v.SetReal(std::strtod(exact.c_str(), nullptr));
            char stored[400];
            std::snprintf(stored, sizeof stored, "%.*f", col.scale, v.d);
            if (CanonicalDecimal(exact) != CanonicalDecimal(stored))
                Refuse(row, c, "the number " + exact + " has more digits than a REAL keeps");
            return;
        }
        case MDB_DATETIME: {
            const double days = Read<double>(p);
            v.kind = Value::Kind::Text;
            if (!JetDateText(days, v.s)) {
                char shown[40];
                std::snprintf(shown, sizeof shown, "%.6f", days);
                Refuse(row, c, "the date (day number " + std::string(shown) + ") lies outside the years 100 to 9999");
            }
            return;
        }
        case MDB_TEXT:
            v.kind = Value::Kind::Text;
            return Text(row, c, p, static_cast<std::size_t>(f.siz), v.s);
        case MDB_MEMO:
            LongValue(row, f, longValue);
            v.kind = Value::Kind::Text;
            return Text(row, c, reinterpret_cast<const unsigned char *>(longValue.data()), longValue.size(), v.s);
        case MDB_OLE:
            v.kind = Value::Kind::Blob;
            return LongValue(row, f, v.s);
        case MDB_BINARY:
            v.kind = Value::Kind::Blob;
            v.s.assign(reinterpret_cast<const char *>(p), static_cast<std::size_t>(f.siz));
            return;
        case MDB_REPID:
            if (f.siz != 16) Damaged(row, "a Replication ID is not 16 bytes long");
            v.kind = Value::Kind::Text;
            v.s = GuidText(p);
            return;
        default: Damaged(row, "unknown column type");
        }
    }
};

JetFile::Rows::Rows(JetFile &file, std::size_t table) : st_(std::make_unique<State>()) {
    st_->file = &file;
    st_->table = &file.tables_.at(table);
    st_->mdb = file.impl_->mdb;
    st_->def = file.impl_->defs.at(table);
    st_->fields.resize(st_->def->num_cols);
    mdb_rewind_table(st_->def);
}

JetFile::Rows::~Rows() = default;

unsigned long JetFile::Rows::MinusZeros() const { return st_->minusZeros; }

bool JetFile::Rows::Next(Row &row) {
    State &s = *st_;
    const auto *fmt = s.mdb->fmt;
    while (!s.done) {
        if (!s.pageLoaded || s.nextRow >= s.rowsOnPage) {
            if (!mdb_read_next_dpg(s.def)) {
                s.done = true;
                break;
            }
            s.pageLoaded = true;
            s.rowsOnPage = mdb_get_int16(s.mdb->pg_buf, fmt->row_count_offset);
            s.nextRow = 0;
            continue;
        }
        int start = 0;
        size_t size = 0;
        if (mdb_find_row(s.mdb, s.nextRow++, &start, &size) != 0 || size == 0 || (start & kDeletedRow)) continue;
        ++count_;
        // A moved row holds the page and row where it now stands (that row is marked deleted): it is
        // read there, and this data page read again afterwards.
        const bool moved = start & kMovedRow;
        for (int hops = 0; start & kMovedRow; ++hops) {
            const auto to = Read<std::uint32_t>(s.mdb->pg_buf + (start & kOffsetMask));
            if (hops == kMaxMoves || size < 4 || !mdb_read_pg(s.mdb, to >> 8) ||
                mdb_find_row(s.mdb, static_cast<int>(to & 0xff), &start, &size) != 0 || size == 0)
                s.Damaged(count_, "its moved row cannot be found");
        }
        start &= kOffsetMask;
        if (mdb_crack_row(s.def, start, size, s.fields.data()) < 0) s.Damaged(count_, "the row cannot be read");
        row.resize(s.table->columns.size());
        for (std::size_t c = 0; c < row.size(); ++c) s.Cell(count_, c, s.fields[c], row[c]);
        if (moved && !mdb_read_pg(s.mdb, s.def->cur_phys_pg)) s.Damaged(count_, "its data page cannot be read again");
        return true;
    }
    if (count_ != s.table->rows)
        throw Failure(Failure::Jet, "[" + s.table->name + "]: " + std::to_string(count_) + " rows read, but the table says it holds " +
                       std::to_string(s.table->rows));
    return false;
}

}  // namespace qvmigrate
