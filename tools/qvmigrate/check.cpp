#include <optional>

#include "platform/dao/connection.h"
#include "qvmigrate/jet.h"
#include "qvmigrate/migrate.h"
#include "qvmigrate/storage.h"

namespace qvmigrate {

namespace {

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

}  // namespace

unsigned long CompareJet(const std::filesystem::path &jetFile, const std::filesystem::path &converted,
                         const std::string &name, std::ostream &out) {
    JetFile jet(jetFile);
    if (!std::filesystem::exists(converted)) {
        out << name << ": not converted (the file is missing)\n";
        return 1;
    }
    auto db = StorageFile::OpenReadOnly(converted);
    unsigned long differences = 0;
    auto report = [&](const std::string &line) {
        out << name << ": " << line << "\n";
        ++differences;
    };
    const std::string expected = jet.Password().empty() ? "" : platform::dao::Sha256Hex(jet.Password());
    if (!SameNoCase(db->PasswordHash(), expected)) report("the database password differs");
    const auto targetTables = db->TableNames();
    std::vector<std::string> matched{"db_password"};
    for (std::size_t t = 0; t < jet.Tables().size(); ++t) {
        const JetTable &table = jet.Tables()[t];
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

        StorageFile::Scan scan(*db, *targetName, names);
        long long rowid = 0;
        Row target, source;
        bool more = scan.Next(rowid, target);
        JetFile::Rows rows(jet, t);
        while (rows.Next(source)) {
            const long long n = static_cast<long long>(rows.Count());
            for (; more && rowid < n; more = scan.Next(rowid, target))
                report(head + "row " + std::to_string(rowid) + " added: " + Cells(names, target));
            Row picked;
            for (std::size_t k : used) picked.push_back(source[k]);
            if (!more || rowid > n) {
                report(head + "row " + std::to_string(n) + " missing: " + Cells(names, picked));
                continue;
            }
            std::string changes;
            for (std::size_t k = 0; k < picked.size(); ++k)
                if (!(picked[k] == target[k]))
                    changes += (changes.empty() ? "" : "; ") + names[k] + " " + Display(picked[k]) + " -> " + Display(target[k]);
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
