#include "platform/dao/dbfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/dao/connection.h"
#include "platform/error.h"
#include "platform/paths.h"

namespace platform::dao {
namespace fs = std::filesystem;

namespace {

// How long an operation waits for another connection's SQLite lock before it gives up.
constexpr int kBusyTimeoutMs = 3000;

int NumberForErrno(int err) {
    switch (err) {
    case ENOSPC:
    case EDQUOT: return 61;
    case EACCES:
    case EPERM:
    case EROFS: return 70;
    case ENOENT: return 3024;
    default: return 75;
    }
}

// Files are named in their Windows form.
std::string Describe(int number, const fs::path &file, const std::string &reason) {
    const std::string shown = ShownPath(file);
    std::string text = ErrorDescription(number, shown);
    if (number != 3024 && number != 3045 && number != 3343) text += ": '" + shown + "'";
    if (!reason.empty()) text += " (" + reason + ")";
    return text;
}

[[noreturn]] void FailErrno(const fs::path &file, const char *doing, int err) {
    throw Error(NumberForErrno(err), Describe(NumberForErrno(err), file, std::string(doing) + ": " + std::strerror(err)));
}

// Maps a SQLite result (and the OS error behind it) to the utility's error numbers.
[[noreturn]] void FailSqlite(const fs::path &file, int rc, sqlite3 *db) {
    int sysErr = db ? sqlite3_system_errno(db) : 0;
    std::string reason = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    if (sysErr != 0) reason += std::string(": ") + std::strerror(sysErr);
    int number = 75;
    switch (rc & 0xff) {
    case SQLITE_FULL: number = 61; break;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH: number = 70; break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: number = 3045; break;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: number = 3343; break;
    case SQLITE_CANTOPEN: number = fs::exists(file) ? (sysErr ? NumberForErrno(sysErr) : 75) : 3024; break;
    default: number = sysErr ? NumberForErrno(sysErr) : 75; break;
    }
    throw Error(number, Describe(number, file, reason));
}

// A plain SQLite connection; its failures name `shownAs` (the file the caller knows it by).
class SqlConn {
public:
    SqlConn(const fs::path &file, int flags, const fs::path &shownAs = {}) : file_(shownAs.empty() ? file : shownAs) {
        int rc = sqlite3_open_v2(file.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) FailSqlite(file_, rc, db_);
        sqlite3_extended_result_codes(db_, 1);
    }
    ~SqlConn() { sqlite3_close_v2(db_); }
    SqlConn(const SqlConn &) = delete;
    SqlConn &operator=(const SqlConn &) = delete;

    sqlite3 *get() const { return db_; }
    const fs::path &file() const { return file_; }
    int TryExec(const char *sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
    void Exec(const char *sql) {
        int rc = TryExec(sql);
        if (rc != SQLITE_OK) FailSqlite(file_, rc, db_);
    }

private:
    fs::path file_;
    sqlite3 *db_ = nullptr;
};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { if (fd_ >= 0) ::close(fd_); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

void RequireExisting(const fs::path &database) {
    std::error_code ec;
    if (!fs::is_regular_file(database, ec)) throw Error(3024, ErrorDescription(3024, ShownPath(database)));
}

// Copies every page of `from` into `to` in one step (one read transaction on `from`, one write
// transaction on `to`). Either connection's failure raises, naming that connection's file.
void OnlineBackup(SqlConn &from, SqlConn &to) {
    sqlite3_backup *backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
    if (!backup) FailSqlite(to.file(), sqlite3_errcode(to.get()), to.get());
    int rc = sqlite3_backup_step(backup, -1);
    int finished = sqlite3_backup_finish(backup);
    if (rc == SQLITE_DONE) rc = finished;
    if (rc == SQLITE_OK || rc == SQLITE_DONE) return;
    // The source's failures are reported on the source connection, the rest on the destination.
    if (sqlite3_errcode(from.get()) == rc && sqlite3_errcode(to.get()) != rc) FailSqlite(from.file(), rc, from.get());
    FailSqlite(to.file(), rc, to.get());
}

void SyncPath(const fs::path &p, int flags) {
    FileDescriptor fd(::open(p.c_str(), flags | O_CLOEXEC));
    if (fd.get() < 0) FailErrno(p, "open for sync", errno);
    if (::fsync(fd.get()) != 0) FailErrno(p, "sync", errno);
}

fs::path WithSuffix(const fs::path &target, int n) {
    if (n < 2) return target;
    fs::path name = target.stem();
    name += "-" + std::to_string(n);
    name += target.extension();
    return target.parent_path() / name;
}

// Renames `from` to `to` unless `to` exists; false when it does.
bool RenameNoReplace(const fs::path &from, const fs::path &to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS) FailErrno(to, "rename", errno);
    // File systems without RENAME_NOREPLACE: a hard link never overwrites either.
    if (::link(from.c_str(), to.c_str()) != 0) {
        if (errno == EEXIST) return false;
        FailErrno(to, "link", errno);
    }
    ::unlink(from.c_str());
    return true;
}

// The hidden temporary files that copies of `source` are written under in `folder`.
std::string TemporaryPrefix(const fs::path &source) { return "." + source.filename().string() + ".copy-"; }

// Removes the temporary files that copies of `source` left in `folder` when their process died:
// a live writer holds a lock on its file.
void RemoveLeftovers(const fs::path &folder, const fs::path &source) {
    const std::string prefix = TemporaryPrefix(source);
    DIR *dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return;
    while (const dirent *e = ::readdir(dir)) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0) continue;
        const fs::path leftover = folder / e->d_name;
        FileDescriptor fd(::open(leftover.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (fd.get() >= 0 && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) ::unlink(leftover.c_str());
    }
    ::closedir(dir);
}

// A hidden temporary file in `folder` for a copy of `source`, locked while this object lives;
// removed again unless kept. Failures name `shownAs`, the file the copy is meant to become.
class TempFile {
public:
    TempFile(const fs::path &folder, const fs::path &source, const fs::path &shownAs) {
        RemoveLeftovers(folder, source);
        std::string name = (folder / (TemporaryPrefix(source) + "XXXXXX")).string();
        fd_ = ::mkstemp(name.data());
        if (fd_ < 0) FailErrno(shownAs, "create", errno);
        path_ = name;
        ::flock(fd_, LOCK_EX | LOCK_NB);
    }
    ~TempFile() {
        if (!kept_) ::unlink(path_.c_str());
        ::close(fd_);
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    const fs::path &path() const { return path_; }
    int fd() const { return fd_; }
    void Keep() { kept_ = true; }

private:
    fs::path path_;
    int fd_ = -1;
    bool kept_ = false;
};

// Opens the database and reads it once: SQLite rolls back a journal left by an interrupted write
// transaction. Failures are left for the next open.
void SettleJournal(const fs::path &database) {
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
    }
    sqlite3_close_v2(db);
}

}  // namespace

fs::path LockFileOf(const fs::path &database) {
    fs::path lock = database;
    return lock.replace_extension(".ldb");
}

void CheckDatabaseFile(const fs::path &database) {
    // Opened as the tools open the data database: the engine's header, size and lock rules, no password.
    const auto engine = Connection::Open(database, ShownPath(database), /*exclusive=*/false, /*readOnly=*/true);
    try {
        engine->CheckPassword(std::nullopt);
    } catch (const Error &e) {
        throw Error(e.number, e.description + " (the file is protected by a password; the data database has none)");
    }
    sqlite3 *db = engine->db();
    sqlite3_stmt *stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &stmt, nullptr);
    if (rc != SQLITE_OK) FailSqlite(database, rc, db);
    std::string problems;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
        std::string line = text ? text : "";
        if (line != "ok") problems += (problems.empty() ? "" : "; ") + line;
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) FailSqlite(database, rc, db);
    if (!problems.empty()) throw Error(3343, Describe(3343, database, problems));

    rc = sqlite3_prepare_v2(
        db, "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!'", -1,
        &stmt, nullptr);
    if (rc != SQLITE_OK) FailSqlite(database, rc, db);
    rc = sqlite3_step(stmt);
    const bool hasTable = rc == SQLITE_ROW && sqlite3_column_int(stmt, 0) > 0;
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW) FailSqlite(database, rc, db);
    if (!hasTable) throw Error(3343, Describe(3343, database, "the database holds no table"));
}

std::unique_ptr<ExclusiveHold> ExclusiveHold::Acquire(const fs::path &database) {
    RequireExisting(database);
    std::shared_ptr<Connection> engine;
    try {
        engine = Connection::Open(database, database.string(), /*exclusive=*/true, /*readOnly=*/false);
    } catch (const Error &e) {
        if (e.number == 3045) return nullptr;
        throw;
    }
    if (sqlite3_db_readonly(engine->db(), "main") == 1) {
        // SQLite opened it read-only: the file (or its file system) may not be written.
        const int err = ::access(database.c_str(), W_OK) != 0 ? errno : EACCES;
        FailErrno(database, "open for writing", err);
    }
    sqlite3_busy_timeout(engine->db(), 0);
    int rc = sqlite3_exec(engine->db(), "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) return nullptr;
    if (rc != SQLITE_OK) FailSqlite(database, rc, engine->db());
    sqlite3_exec(engine->db(), "COMMIT", nullptr, nullptr, nullptr);
    return std::unique_ptr<ExclusiveHold>(new ExclusiveHold(std::move(engine)));
}

ExclusiveHold::ExclusiveHold(std::shared_ptr<Connection> engine) : engine_(std::move(engine)) {}
ExclusiveHold::~ExclusiveHold() = default;  // closing the engine's connection drops the .ldb lock

bool ProbeInUse(const fs::path &database) { return ExclusiveHold::Acquire(database) == nullptr; }

fs::path BackupToNewFile(const fs::path &live, const fs::path &target) {
    RequireExisting(live);
    struct stat st {};
    if (::stat(live.c_str(), &st) != 0) FailErrno(live, "read", errno);
    TempFile temp(target.parent_path(), live, target);
    {
        // Read-write, so that a journal left by a writer that died is rolled back before copying.
        SqlConn from(live, SQLITE_OPEN_READWRITE);
        sqlite3_busy_timeout(from.get(), kBusyTimeoutMs);
        SqlConn to(temp.path(), SQLITE_OPEN_READWRITE, target);
        // A fresh private file: no journal needed, it is synced below before it gets its name.
        to.Exec("PRAGMA journal_mode=OFF");
        to.Exec("PRAGMA synchronous=OFF");
        OnlineBackup(from, to);
    }
    // The live file's permissions (SQLite gives the files it creates its own).
    if (::fchmod(temp.fd(), st.st_mode & 0777) != 0) FailErrno(target, "set the permissions of", errno);
    if (::fsync(temp.fd()) != 0) FailErrno(target, "sync", errno);
    for (int n = 1;; ++n) {
        fs::path name = WithSuffix(target, n);
        if (RenameNoReplace(temp.path(), name)) {
            temp.Keep();
            SyncPath(target.parent_path().empty() ? fs::path(".") : target.parent_path(), O_RDONLY | O_DIRECTORY);
            return name;
        }
    }
}

void ReplaceContent(const fs::path &chosen, const fs::path &live) {
    RequireExisting(chosen);
    RequireExisting(live);
    try {
        SqlConn from(chosen, SQLITE_OPEN_READONLY);
        sqlite3_busy_timeout(from.get(), kBusyTimeoutMs);
        SqlConn to(live, SQLITE_OPEN_READWRITE);
        sqlite3_busy_timeout(to.get(), kBusyTimeoutMs);
        // Durable commit: the journal is synced before any page of the live file is overwritten.
        to.Exec("PRAGMA synchronous=FULL");
        OnlineBackup(from, to);
    } catch (const Error &) {
        // A commit that failed half-way leaves its journal for the next open to roll back; do that
        // now, so the live file is back to its old bytes and no journal is left lying beside it.
        SettleJournal(live);
        throw;
    }
}

}  // namespace platform::dao
