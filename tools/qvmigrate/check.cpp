// --check: a converted file against its Jet source, read the second way (jet_pages.h) and every
// stored value decoded here anew, so that a fault of the conversion shows as a difference.
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>

#include "platform/dao/storage_format.h"
#include "qvmigrate/jet.h"
#include "qvmigrate/jet_header.h"
#include "qvmigrate/jet_pages.h"
#include "qvmigrate/migrate.h"
#include "qvmigrate/place.h"
#include "qvmigrate/storage.h"

namespace qvmigrate {

namespace {

namespace pg = pages;

std::optional<std::string> FindNoCase(const std::vector<std::string> &names, const std::string &name) {
    for (const auto &n : names)
        if (SameNoCase(n, name)) return n;
    return std::nullopt;
}

std::string Cells(const std::vector<std::string> &names, const Row &row) {
    std::string out;
    for (std::size_t c = 0; c < row.size(); ++c) out += (c ? ", " : "") + names[c] + " " + Display(row[c]);
    return out;
}

template <class T>
T Stored(const pg::Cell &cell) {
    T v{};
    std::memcpy(&v, cell.bytes.data(), std::min(sizeof v, cell.bytes.size()));
    return v;
}

std::string Utf8(const std::u32string &chars) {
    return QString::fromUcs4(chars.data(), static_cast<qsizetype>(chars.size())).toStdString();
}

// A Decimal: a sign byte, then a 128-bit magnitude as four 32-bit little-endian words, the most
// significant first; the value is the magnitude over ten to the column's scale.
std::string DecimalText(const pg::Cell &cell, int scale) {
    const auto *b = reinterpret_cast<const unsigned char *>(cell.bytes.data());
    std::uint32_t words[4];  // most significant first
    for (int w = 0; w < 4; ++w) words[w] = static_cast<std::uint32_t>(b[1 + 4 * w] | b[2 + 4 * w] << 8 | b[3 + 4 * w] << 16) |
                                           static_cast<std::uint32_t>(b[4 + 4 * w]) << 24;
    std::string digits;
    do {  // long division by ten, word by word
        std::uint64_t rest = 0;
        for (auto &w : words) {
            const std::uint64_t part = rest << 32 | w;
            w = static_cast<std::uint32_t>(part / 10);
            rest = part % 10;
        }
        digits.insert(digits.begin(), static_cast<char>('0' + rest));
    } while (words[0] || words[1] || words[2] || words[3]);
    if (scale > 0) {
        if (digits.size() <= static_cast<std::size_t>(scale)) digits.insert(0, static_cast<std::size_t>(scale) + 1 - digits.size(), '0');
        digits.insert(digits.size() - static_cast<std::size_t>(scale), ".");
    }
    return (b[0] & 0x80 ? "-" : "") + digits;
}

// A Jet date (days from 1899-12-30; before that day the fraction still counts forward) as the
// storage text, to the nearest second.
std::string DateText(double days) {
    const double whole = std::trunc(days);
    const long long seconds = static_cast<long long>(whole) * 86400 + std::llround(std::fabs(days - whole) * 86400);
    long long day = seconds / 86400, second = seconds % 86400;
    if (second < 0) second += 86400, --day;
    // The civil date of a day count from 1899-12-30, through days from 0000-03-01.
    const long long z = day + 693899, era = (z >= 0 ? z : z - 146096) / 146097, doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365, doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153, d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = yoe + era * 400 + (m <= 2);
    char text[96];
    if (second == 0)
        std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", y, m, d);
    else
        std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", y, m, d, second / 3600, second / 60 % 60, second % 60);
    return text;
}

std::string GuidShown(const pg::Cell &cell) {
    const auto *b = reinterpret_cast<const unsigned char *>(cell.bytes.data());
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-", Stored<std::uint32_t>(cell),
                  static_cast<unsigned>(b[4] | b[5] << 8), static_cast<unsigned>(b[6] | b[7] << 8), b[8], b[9]);
    std::string out = text;
    for (int i = 10; i < 16; ++i) {
        std::snprintf(text, sizeof text, "%02X", b[i]);
        out += text;
    }
    return out + "}";
}

// What the storage format must hold for a stored cell.
Value Expected(const pg::File &jet, const pg::Column &col, const pg::Cell &cell) {
    static constexpr std::size_t kSize[] = {0, 0, 1, 2, 4, 8, 4, 8, 8, 0, 0, 0, 0, 0, 0, 16, 17};
    Value v;
    if (col.type == pg::kBool) {
        v.SetInteger(cell.null ? 0 : 1);
        return v;
    }
    if (cell.null) return v;
    if (col.type < 17 && kSize[col.type] && cell.bytes.size() != kSize[col.type]) {
        v.kind = Value::Kind::Text;
        v.s = "(a stored value of " + std::to_string(cell.bytes.size()) + " bytes)";
        return v;
    }
    switch (col.type) {
    case pg::kByte: v.SetInteger(static_cast<unsigned char>(cell.bytes[0])); break;
    case pg::kInt: v.SetInteger(Stored<std::int16_t>(cell)); break;
    case pg::kLong: v.SetInteger(Stored<std::int32_t>(cell)); break;
    case pg::kFloat: v.SetReal(Stored<float>(cell)); break;
    case pg::kDouble: v.SetReal(Stored<double>(cell)); break;
    case pg::kMoney: v.SetReal(static_cast<double>(Stored<std::int64_t>(cell)) / 10000); break;
    case pg::kNumeric: v.SetReal(std::strtod(DecimalText(cell, col.scale).c_str(), nullptr)); break;
    case pg::kDateTime:
        v.kind = Value::Kind::Text;
        v.s = DateText(Stored<double>(cell));
        break;
    case pg::kText: case pg::kMemo:
        v.kind = Value::Kind::Text;
        if (jet.Jet4()) {
            const std::u16string units = pg::Jet4Units(cell.bytes);
            v.s = QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size())).toStdString();
        } else {
            v.s = Utf8(pg::Jet3Chars(cell.bytes, jet.CodePage()));
        }
        break;
    case pg::kGuid:
        v.kind = Value::Kind::Text;
        v.s = GuidShown(cell);
        break;
    default:
        v.kind = Value::Kind::Blob;
        v.s = cell.bytes;
    }
    return v;
}

// Equal values; in a text, a character that the second decoder does not know (U+FFFD) stands for any
// one character (Windows gives some bytes characters of its own).
bool Same(const Value &expected, const Value &target) {
    if (expected == target) return true;
    static const std::string kUnknown = "\xef\xbf\xbd";
    if (expected.kind != Value::Kind::Text || target.kind != Value::Kind::Text || expected.s.find(kUnknown) == std::string::npos)
        return false;
    const std::u32string a = QString::fromStdString(expected.s).toStdU32String(), b = QString::fromStdString(target.s).toStdU32String();
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && a[i] != U'\ufffd') return false;
    return true;
}

std::string Password(const pg::File &jet) {
    const auto *page0 = reinterpret_cast<const unsigned char *>(jet.Header().data());
    const std::string raw = PasswordBytes(page0, jet.Jet4());
    if (!jet.Jet4()) return Utf8(pg::Jet3Chars(raw, jet.CodePage()));
    const std::u16string units = pg::Jet4Units(raw);
    return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size())).toStdString();
}

// The indexes of a table against those of the converted table (named table_index).
void CompareIndexes(const pg::Table &table, StorageFile &db, const std::string &targetTable,
                    const std::function<void(const std::string &)> &report) {
    const std::string head = "[" + table.name + "] index ";
    auto target = db.Indexes(targetTable);
    for (const auto &idx : table.indexes) {
        if (!idx.unreadable.empty()) {
            report(head + idx.name + " cannot be read: " + idx.unreadable);
            continue;
        }
        const auto it = std::find_if(target.begin(), target.end(),
                                     [&](const StorageIndex &t) { return SameNoCase(t.name, table.name + "_" + idx.name); });
        if (it == target.end()) {
            report(head + idx.name + " is missing");
            continue;
        }
        std::string keys;
        for (std::size_t k = 0; k < idx.columns.size(); ++k)
            keys += (k ? ", " : "") + table.columns[idx.columns[k]].name + (idx.descending[k] ? " DESC" : "");
        if (!SameNoCase(keys, it->keys) || idx.unique != it->unique || idx.primary != it->primary)
            report(head + idx.name + " differs: (" + keys + ")" + (idx.unique ? " unique" : "") + (idx.primary ? " primary key" : "") +
                   " -> (" + it->keys + ")" + (it->unique ? " unique" : "") + (it->primary ? " primary key" : ""));
        target.erase(it);
    }
    for (const auto &t : target) report(head + t.name + " is only in the converted file");
}

}  // namespace

unsigned long CompareJet(const std::filesystem::path &jetFile, const std::filesystem::path &converted,
                         const std::string &name, std::ostream &out) {
    const pg::File jet(jetFile);
    auto db = StorageFile::OpenReadOnly(converted);
    if (!db) {
        Say(out, name + ": not converted (the file is missing)");
        return 1;
    }
    unsigned long differences = 0;
    auto report = [&](const std::string &line) {
        Say(out, name + ": " + line);
        ++differences;
    };
    const std::string password = Password(jet);
    const std::string expected = password.empty() ? "" : platform::dao::Sha256Hex(password);
    if (!SameNoCase(db->PasswordHash(), expected)) report("the database password differs");
    const auto targetTables = db->TableNames();
    std::vector<std::string> matched{"db_password"};
    for (const pg::Table &table : jet.Tables()) {
        const std::string head = "[" + table.name + "] ";
        const auto targetName = FindNoCase(targetTables, table.name);
        if (!targetName) {
            report(head + "is missing");
            continue;
        }
        matched.push_back(*targetName);
        // Only the columns both sides have are compared; the others are reported once.
        const auto targetColumns = db->ColumnNames(*targetName);
        std::vector<std::size_t> used;
        std::vector<std::string> names;
        for (std::size_t c = 0; c < table.columns.size(); ++c) {
            if (auto n = FindNoCase(targetColumns, table.columns[c].name)) {
                used.push_back(c);
                names.push_back(*n);
            } else {
                report(head + "column " + table.columns[c].name + " is missing");
            }
        }
        for (const auto &n : targetColumns)
            if (!FindNoCase(names, n)) report(head + "column " + n + " is only in the converted file");
        CompareIndexes(table, *db, *targetName, report);

        StorageFile::Scan scan(*db, *targetName, names);
        long long rowid = 0;
        Row target;
        bool more = scan.Next(rowid, target);
        pg::File::Rows rows(jet, table);
        for (std::vector<pg::Cell> cells; rows.Next(cells);) {
            const long long n = static_cast<long long>(rows.Count());
            for (; more && rowid < n; more = scan.Next(rowid, target))
                report(head + "row " + std::to_string(rowid) + " added: " + Cells(names, target));
            Row source;
            for (std::size_t k : used) source.push_back(Expected(jet, table.columns[k], cells[k]));
            if (!more || rowid > n) {
                report(head + "row " + std::to_string(n) + " missing: " + Cells(names, source));
                continue;
            }
            std::string changes;
            for (std::size_t k = 0; k < source.size(); ++k)
                if (!Same(source[k], target[k]))
                    changes += (changes.empty() ? "" : "; ") + names[k] + " " + Display(source[k]) + " -> " + Display(target[k]);
            if (!changes.empty()) report(head + "row " + std::to_string(n) + " changed: " + changes);
            more = scan.Next(rowid, target);
        }
        for (; more; more = scan.Next(rowid, target))
            report(head + "row " + std::to_string(rowid) + " added: " + Cells(names, target));
    }
    for (const auto &n : targetTables)
        if (!FindNoCase(matched, n)) report("[" + n + "] is only in the converted file");
    return differences;
}

}  // namespace qvmigrate
