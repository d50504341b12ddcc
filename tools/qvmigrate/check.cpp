// --check: a converted file against its Jet source, read the second way (jet_pages.h) and every
// stored value decoded anew, so that a fault of the conversion shows as a difference: the password
// row, each table's columns and their declared types, its indexes and its rows.
#include <algorithm>
#include <functional>
#include <optional>

#include "platform/dao/storage_format.h"
#include "qvmigrate/codepage.h"
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

// Equal values; in a text, a character that the second decoder does not know (U+FFFD) stands for any
// one character (Windows gives some bytes characters of its own).
bool Same(const Value &expected, const Value &target) {
    if (expected == target) return true;
    static const std::string kUnknown = "\xef\xbf\xbd";
    if (expected.kind != Value::Kind::Text || target.kind != Value::Kind::Text || expected.s.find(kUnknown) == std::string::npos)
        return false;
    const std::u32string a = Utf32FromUtf8(expected.s), b = Utf32FromUtf8(target.s);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && a[i] != U'\ufffd') return false;
    return true;
}

std::string Password(const pg::File &jet) {
    const auto *page0 = reinterpret_cast<const unsigned char *>(jet.Header().data());
    return jet.Text(PasswordBytes(page0, jet.Jet4()));
}

using Report = std::function<void(const std::string &)>;

// The settings database holds its password as exactly one row (the tools read the first row only).
void ComparePassword(const pg::File &jet, StorageFile &db, const Report &report) {
    const std::string password = Password(jet);
    const auto hashes = db.PasswordHashes();
    if (hashes.size() > 1 && !password.empty())
        report("db_password holds " + std::to_string(hashes.size()) + " rows instead of one");
    else if (!SameNoCase(hashes.empty() ? "" : hashes.front(), password.empty() ? "" : platform::dao::Sha256Hex(password)))
        report("the database password differs");
}

// The indexes of a table against those of the converted table (named table_index): key columns, their
// order and direction, SQLite's own collation, uniqueness, the primary key, and no WHERE clause.
void CompareIndexes(const pg::Table &table, StorageFile &db, const std::string &targetTable, const Report &report) {
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
        if (!SameNoCase(keys, it->keys) || idx.unique != it->unique || idx.primary != it->primary || !it->where.empty())
            report(head + idx.name + " differs: (" + keys + ")" + (idx.unique ? " unique" : "") + (idx.primary ? " primary key" : "") +
                   " -> (" + it->keys + ")" + (it->unique ? " unique" : "") + (it->primary ? " primary key" : "") +
                   (it->where.empty() ? "" : " " + it->where));
        target.erase(it);
    }
    for (const auto &t : target) report(head + t.name + " is only in the converted file");
}

// The columns both sides have (positions in the Jet table, names in the converted one), each declared
// with the storage type of its Jet type; the others are reported once.
std::pair<std::vector<std::size_t>, std::vector<std::string>> CompareColumns(const pg::Table &table, StorageFile &db,
                                                                            const std::string &targetTable, const Report &report) {
    const std::string head = "[" + table.name + "] column ";
    const auto columns = db.Columns(targetTable);
    std::vector<std::size_t> used;
    std::vector<std::string> names;
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        const auto to = std::find_if(columns.begin(), columns.end(), [&](const StorageColumn &t) { return SameNoCase(t.name, table.columns[c].name); });
        if (to == columns.end()) {
            report(head + table.columns[c].name + " is missing");
            continue;
        }
        used.push_back(c);
        names.push_back(to->name);
        const std::string expected = pg::StorageType(table.columns[c].type);
        if (!SameNoCase(to->type, expected))
            report(head + to->name + " is declared " + (to->type.empty() ? "without a type" : to->type) + " instead of " + expected);
    }
    for (const auto &t : columns)
        if (!FindNoCase(names, t.name)) report(head + t.name + " is only in the converted file");
    return {used, names};
}

// The rows of a table against the converted rows, matched by their number (the rowid).
void CompareRows(const pg::File &jet, const pg::Table &table, StorageFile &db, const std::string &targetTable, const Report &report) {
    const std::string head = "[" + table.name + "] ";
    const auto [used, names] = CompareColumns(table, db, targetTable, report);
    CompareIndexes(table, db, targetTable, report);
    StorageFile::Scan scan(db, targetTable, names);
    long long rowid = 0;
    Row target;
    bool more = scan.Next(rowid, target);
    pg::File::Rows rows(jet, table);
    for (std::vector<pg::Cell> cells; rows.Next(cells);) {
        const long long n = static_cast<long long>(rows.Count());
        for (; more && rowid < n; more = scan.Next(rowid, target))
            report(head + "row " + std::to_string(rowid) + " added: " + Cells(names, target));
        Row source;
        for (std::size_t k : used) source.push_back(pg::CellValue(jet, table.columns[k], cells[k]));
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
    const Report report = [&](const std::string &line) {
        Say(out, name + ": " + line);
        ++differences;
    };
    ComparePassword(jet, *db, report);
    const auto targetTables = db->TableNames();
    std::vector<std::string> matched{"db_password"};
    for (const pg::Table &table : jet.Tables()) {
        const auto targetName = FindNoCase(targetTables, table.name);
        if (!targetName) {
            report("[" + table.name + "] is missing");
            continue;
        }
        matched.push_back(*targetName);
        CompareRows(jet, table, *db, *targetName, report);
    }
    for (const auto &n : targetTables)
        if (!FindNoCase(matched, n)) report("[" + n + "] is only in the converted file");
    return differences;
}

}  // namespace qvmigrate
