#pragma once
// Private to platform_dao: one SQLite connection to a database file, with the .ldb lock it holds, its
// password and a cache of prepared statements. Databases opened in one workspace transaction on the
// same file share one.
#include <sqlite3.h>
#include <sys/types.h>

#include <filesystem>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/filelock.h"
#include "platform/safe_file.h"

namespace platform::dao {

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const FileId &) const = default;
};

class Connection;

// A prepared statement borrowed from a connection's cache; reset (and given back) when it goes.
// `busy` is the cache entry's in-use flag (entries in use are never evicted); null for a statement
// of its own, finalized when it goes.
class Stmt {
public:
    Stmt(Connection *owner, sqlite3_stmt *st, bool *busy) : owner_(owner), st_(st), busy_(busy) {}
    Stmt(Stmt &&o) noexcept : owner_(o.owner_), st_(o.st_), busy_(o.busy_) { o.st_ = nullptr; }
    Stmt(const Stmt &) = delete;
    Stmt &operator=(const Stmt &) = delete;
    Stmt &operator=(Stmt &&) = delete;
    ~Stmt();
    sqlite3_stmt *get() const { return st_; }
    // sqlite3_step; raises on anything but SQLITE_ROW / SQLITE_DONE. True for a row.
    bool Step(const std::string &jetText);

private:
    Connection *owner_;
    sqlite3_stmt *st_;
    bool *busy_;
};

class Connection {
public:
    // Locks the .ldb, opens the file (a change that a killed writer left is rolled back, as SQLite
    // does) and checks its format; the errors of a failed open are raised and nothing is created but
    // the .ldb. With `reached`, the descriptor of `file` opened under the link rule (safe_file.h), the
    // engine opens that very file, never what the name names meanwhile; it must stay open as long as
    // the connection.
    static std::shared_ptr<Connection> Open(const std::filesystem::path &file, bool exclusive, bool readOnly,
                                            int reached = -1);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // 3031 unless `password` opens this database (any does when it has no password).
    void CheckPassword(const std::optional<std::string> &password) const;

    Stmt Prepare(const std::string &sql, const std::string &jetText);
    void Exec(const std::string &sql);
    [[noreturn]] void Fail(int rc, const std::string &jetText) const;

    // Transactions: the workspace sets the level it wants; a write first opens the missing levels
    // (BEGIN IMMEDIATE, then savepoints). EndLevel commits or rolls back one level when it is open.
    void BeforeWrite();
    void SetWantedLevel(int level) { wanted_ = level; }
    void EndLevel(int level, bool commit);

    sqlite3 *db() const { return db_; }
    const FileId &Id() const { return id_; }
    bool ReadOnly() const { return readOnly_; }
    const std::filesystem::path &File() const { return file_; }

private:
    friend class Stmt;
    Connection() = default;
    void Settle(const std::filesystem::path &file);
    void ReadPassword();

    struct Cached {
        std::string sql;
        sqlite3_stmt *st;
        bool busy;
    };
    sqlite3 *db_ = nullptr;
    LockFileHold lockFd_;  // the .ldb, locked; removed with the last holder
    FileId id_;
    bool readOnly_ = false;
    std::filesystem::path file_;
    std::optional<std::string> passwordHash_;
    int wanted_ = 0;
    int level_ = 0;
    bool writing_ = false;  // has written: its page cache is the larger one
    std::list<Cached> lru_;  // most recently used first
    std::unordered_map<std::string, std::list<Cached>::iterator> bySql_;
};

// flock on the sidecar .ldb that every open of `file` takes: shared, or exclusive; a conflict fails at
// once (3045). None when a read-only open finds no way to create or open the .ldb (a read-only
// folder): it then runs unlocked. The last holder to let it go removes the .ldb, as Jet does.
LockFileHold LockSidecar(const std::filesystem::path &file, bool exclusive, bool readOnly);

// Raises 70 naming the link when `file` is a link that another user made (nothing was written).
void RefuseLinkAt(const std::filesystem::path &file);

// SQLite opens a database's journal without following links: when a statement or an open of `db`
// failed (`rc`) where another user's link stands at the journal's name, raises 70 naming it.
void RefuseJournalLink(sqlite3 *db, int rc);

// Before this process writes to a file (or ends a transaction on it): the snapshots still reading
// it read the rest of their rows, so they keep the rows of the moment they opened and hold no
// read lock that the write would wait for.
void SettleReadsOf(const FileId &file);

}  // namespace platform::dao
