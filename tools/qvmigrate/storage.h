#pragma once
// The SQLite side: a database file of the storage format, written in bulk in one unjournaled
// transaction, or read back (cells, indexes; the primary key's index ends in /* primary key */).
// SQLite reaches these files through a VFS of descriptors ("fd:<n>"): the load writes straight into
// the target's AtomicFile, a check reads a file opened under the link rule; nothing is opened by name.
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/safe_file.h"
#include "qvmigrate/jet.h"
#include "qvmigrate/value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qvmigrate {

// An index of a converted table: its key columns as "a, b COLLATE NOCASE DESC" (a collation other
// than SQLite's default named), and the WHERE clause of a partial index.
struct StorageIndex {
    std::string name, keys, where;
    bool unique = false, primary = false;
};

// A column of a converted table and its declared type.
struct StorageColumn {
    std::string name, type;
};

// SQLite reaches these files only through a descriptor opened here or by the caller (under the link
// rule): it opens nothing by name beside them (no journal, WAL or lock file); only its own unnamed
// temporaries for sorting go to its temporary folder.
class StorageFile {
public:
    // The new, empty file open as `fd` (kept open by the caller), set up for a bulk load inside one
    // transaction. Nothing is journaled: a load that fails is thrown away whole, never repaired. A full
    // disk is named: the one that holds `target`, or the temporary folder's.
    static std::unique_ptr<StorageFile> CreateForLoad(int fd, const std::filesystem::path &target);
    // A converted file, read under SQLite's shared lock (a tool that writes it waits); nullptr when it is
    // missing. A link of another user at its name or above is refused (Failure, Storage, naming it).
    static std::unique_ptr<StorageFile> OpenReadOnly(const std::filesystem::path &file);
    ~StorageFile();
    StorageFile(const StorageFile &) = delete;
    StorageFile &operator=(const StorageFile &) = delete;

    void Exec(const std::string &sql);

    // Writing: the table with its columns in storage types, then its rows, then its indexes. An index
    // that cannot be unique over the rows is made without UNIQUE; the returned texts say so.
    void CreateTable(const JetTable &table);
    void Insert(const Row &row);  // into the table created last
    std::vector<std::string> CreateIndexes(const JetTable &table);
    // The password as this format keeps it: table db_password, column sha256.
    void SetPassword(const std::string &password);
    // Commits, checks the file (row counts of `tables`, SQLite's quick check) and closes it.
    void Finish(const std::vector<std::pair<std::string, unsigned long>> &tables);

    // Reading.
    std::vector<std::string> TableNames();
    std::vector<StorageColumn> Columns(const std::string &table);
    std::vector<std::string> PasswordHashes();  // every row of db_password; none when the file has no password
    std::vector<StorageIndex> Indexes(const std::string &table);
    // Rows of a table by rowid: the listed columns (all must exist) of each row.
    class Scan {
    public:
        Scan(StorageFile &file, const std::string &table, const std::vector<std::string> &columns);
        ~Scan();
        bool Next(long long &rowid, Row &row);

    private:
        StorageFile &file_;
        sqlite3_stmt *st_ = nullptr;
    };

private:
    StorageFile() = default;
    static std::unique_ptr<StorageFile> Open(int fd, const std::filesystem::path &where, bool readOnly);
    [[noreturn]] void Fail(const std::string &what) const;
    sqlite3_stmt *Prepare(const std::string &sql);
    sqlite3 *db_ = nullptr;
    sqlite3_stmt *insert_ = nullptr;
    platform::Fd owned_;             // the file's descriptor when this object opened it
    std::filesystem::path where_;    // the file's name for messages
};

// "name" with its double quotes doubled: any Jet name is a valid SQLite name this way.
std::string QuoteName(const std::string &name);

}  // namespace qvmigrate
