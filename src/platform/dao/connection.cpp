// Statement cache and transaction levels of one connection.
#include "platform/dao/connection.h"

#include <unistd.h>

#include "platform/dao/sqlite_error.h"
#include "platform/error.h"

namespace platform::dao {
namespace {
constexpr size_t kCachedStatements = 48;
}

Stmt::~Stmt() {
    if (!st_) return;
    if (busy_) {
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
        *busy_ = false;
    } else {
        sqlite3_finalize(st_);
    }
}

bool Stmt::Step(const std::string &jetText) {
    int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3 *db = sqlite3_db_handle(st_);
    int extended = sqlite3_extended_errcode(db);
    if ((extended & 0xff) != (rc & 0xff)) extended = rc;
    const std::string message = sqlite3_errmsg(db);
    const int sysErr = sqlite3_system_errno(db);
    sqlite3_reset(st_);
    RefuseJournalLink(db, extended);
    RaiseSqlite(extended, message, jetText, owner_->File(), sysErr);
}

Connection::~Connection() {
    for (auto &c : lru_) sqlite3_finalize(c.st);
    if (db_) sqlite3_close_v2(db_);
    // lockFd_ closes after this: that releases the flock
}

void Connection::Fail(int rc, const std::string &jetText) const {
    int extended = db_ ? sqlite3_extended_errcode(db_) : rc;
    if ((extended & 0xff) != (rc & 0xff)) extended = rc;
    RefuseJournalLink(db_, extended);
    RaiseSqlite(extended, db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc), jetText, file_,
                db_ ? sqlite3_system_errno(db_) : 0);
}

Stmt Connection::Prepare(const std::string &sql, const std::string &jetText) {
    auto it = bySql_.find(sql);
    if (it != bySql_.end()) {
        auto entry = it->second;
        if (!entry->busy) {
            entry->busy = true;
            lru_.splice(lru_.begin(), lru_, entry);
            return Stmt(this, entry->st, &entry->busy);
        }
    }
    sqlite3_stmt *st = nullptr;
    const char *tail = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &st, &tail);
    if (rc != SQLITE_OK) Fail(rc, jetText);
    if (!st) Fail(SQLITE_ERROR, jetText);  // nothing but blanks
    for (; tail && *tail; ++tail)
        if (*tail != ' ' && *tail != ';' && *tail != '\n' && *tail != '\r' && *tail != '\t') {
            sqlite3_finalize(st);
            throw Error(3142, "Characters found after end of SQL statement.");
        }
    if (it != bySql_.end()) return Stmt(this, st, nullptr);  // the cached one is in use further up
    lru_.push_front({sql, st, true});
    bySql_[sql] = lru_.begin();
    while (lru_.size() > kCachedStatements) {
        auto last = std::prev(lru_.end());
        while (last != lru_.begin() && last->busy) --last;
        if (last->busy) break;
        bySql_.erase(last->sql);
        sqlite3_finalize(last->st);
        lru_.erase(last);
    }
    return Stmt(this, st, &lru_.front().busy);
}

void Connection::Exec(const std::string &sql) {
    char *err = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK) Fail(rc, sql);
}

void Connection::BeforeWrite() {
    SettleReadsOf(id_);
    if (!writing_) {
        // Room for a long run's changed pages, so a large transaction does not spill them to the file
        // before it commits (memory is taken only as pages are used). SQLite also sorts within this
        // much memory; a larger cache would make the memory of a long run grow with it. A connection
        // that only reads keeps SQLite's small cache and reuses its pages, instead of taking memory for
        // every page that a large read passes.
        Exec("PRAGMA cache_size = -16384");
        writing_ = true;
    }
    while (level_ < wanted_) {
        Exec(level_ == 0 ? "BEGIN IMMEDIATE" : "SAVEPOINT qv_" + std::to_string(level_ + 1));
        ++level_;
    }
}

void Connection::EndLevel(int level, bool commit) {
    SettleReadsOf(id_);
    if (level_ >= level) {
        if (!commit && level == 1 && sqlite3_get_autocommit(db_)) {
            // SQLite already rolled the transaction back after a failure: nothing is left to undo.
        } else if (level == 1) {
            Exec(commit ? "COMMIT" : "ROLLBACK");
        } else {
            const std::string sp = "qv_" + std::to_string(level);
            Exec(commit ? "RELEASE " + sp : "ROLLBACK TO " + sp + "; RELEASE " + sp);
        }
        level_ = level - 1;
    }
    wanted_ = level - 1;
}

}  // namespace platform::dao
