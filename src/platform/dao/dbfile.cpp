// The exclusive hold of a database, and what the whole-file work shares: statements, the header's
// fields, the refusal of another user's link. The check of a chosen copy is in dbfile_check.cpp, the
// safety copy in dbfile_copy.cpp, the replacement in place in dbfile_replace.cpp (of a file that is no
// database, whole, in dbfile_whole.cpp), files that other programs cut or change meanwhile in
// dbfile_cut.cpp.
#include "platform/dao/dbfile.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/dao/dbfile_private.h"
#include "platform/dao/storage_format.h"
#include "platform/error.h"
#include "platform/safe_file.h"

namespace platform::dao {
namespace fs = std::filesystem;

namespace dbfile_detail {

void Exec(sqlite3 *db, const fs::path &file, const char *sql) {
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) RaiseSqliteFileError(file, rc, db);
}

std::uint32_t BigEndian32(const unsigned char *p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void PutBigEndian32(unsigned char *p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

std::uint32_t PageSizeOf(const unsigned char *header) {
    const std::uint32_t size = std::uint32_t{header[16]} << 8 | header[17];
    return size == 1 ? 65536 : size;
}

void RequireRollbackJournal(int fd, const fs::path &database) {
    unsigned char header[kSqliteHeaderSize];
    ReadAt(fd, header, sizeof header, 0, database, kDatabase);
    if (header[18] != 1 || header[19] != 1)
        throw FileError(3343, database, "the file uses a write-ahead log");
}

}  // namespace dbfile_detail

using namespace dbfile_detail;

ExclusiveHold::ExclusiveHold(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ExclusiveHold::~ExclusiveHold() = default;  // closing the engine's connection drops the .ldb lock

void ExclusiveHold::Impl::EndTransaction() {
    // A rollback, never a commit: a commit may cut the file to the size the connection saw at the start.
    if (engine && !sqlite3_get_autocommit(engine->db())) sqlite3_exec(engine->db(), "ROLLBACK", nullptr, nullptr, nullptr);
}

ExclusiveHold::Impl::~Impl() {
    EndTransaction();
    engine.reset();  // before the descriptor (see dbfile_private.h)
}

namespace {

// The database reached under the link rule: every later open of it reopens this file.
void Reach(ExclusiveHold::Impl &h) {
    Opened reached = OpenFile(h.path, O_RDONLY | O_NONBLOCK);
    if (!reached && errno == ENOENT) throw FileError(3024, h.path);
    if (!reached) RaiseOsError(errno, h.path, kDatabase, "open", reached.refusedLink);
    h.reached = std::move(reached);
    struct stat st {};
    if (::fstat(h.reached.get(), &st) != 0 || !S_ISREG(st.st_mode)) throw FileError(3024, h.path);
}

// The descriptor of the raw reads and writes; raises 70 with the reason when the file may not be written.
void OpenForWriting(ExclusiveHold::Impl &h) {
    const std::string reopen = "/proc/self/fd/" + std::to_string(h.reached.get());
    h.fd.reset(::open(reopen.c_str(), O_RDWR | O_CLOEXEC));
    const int openError = errno;
    if (!h.fd || (h.engine && sqlite3_db_readonly(h.engine->db(), "main") == 1)) {
        // The file (or its file system) may not be written.
        const int err = !h.fd ? openError : ::access(reopen.c_str(), W_OK) != 0 ? errno : EACCES;
        RaiseOsError(err, h.path, kDatabase, "open for writing");
    }
}

// SQLite's EXCLUSIVE lock on a database the engine opened: false while another program reads or writes.
bool LockDatabase(ExclusiveHold::Impl &h) {
    sqlite3 *db = h.engine->db();
    sqlite3_busy_timeout(db, 0);
    const int rc = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) return false;
    if (rc != SQLITE_OK) RaiseSqliteFileError(h.path, rc, db);
    RequireRollbackJournal(h.fd.get(), h.path);
    h.journal = sqlite3_filename_journal(sqlite3_db_filename(db, "main"));
    return true;
}

// A file the engine cannot open: the .ldb lock that every engine open takes, and SQLite's lock bytes as
// a writer takes them (a program that uses the file through SQLite directly is kept out, or refuses the
// hold while it holds a lock itself). False while another program holds either.
bool LockDamaged(ExclusiveHold::Impl &h) {
    try {
        h.ldb = LockSidecar(h.path, /*exclusive=*/true, /*readOnly=*/false);
    } catch (const Error &e) {
        if (e.number == 3045) return false;
        throw;
    }
    OpenForWriting(h);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kSqlitePendingByte;
    lock.l_len = kSqliteLockSize;
    if (::fcntl(h.fd.get(), F_SETLK, &lock) != 0) {
        if (errno == EAGAIN || errno == EACCES) return false;
        RaiseOsError(errno, h.path, kDatabase, "lock");
    }
    h.journal = h.path.string() + "-journal";
    return true;
}

// A journal still there once the hold is taken is not hot (taking the lock rolled a hot one back): the
// rest of a replacement killed before its journal counted, or of a file that is no database. Nobody else
// writes one while the hold lasts. A link at its name is left: nothing follows it.
void RemoveDeadJournal(const fs::path &journal) {
    std::string name;
    const Fd folder = OpenParent(journal, name);
    struct stat js {};
    if (folder && ::fstatat(folder.get(), name.c_str(), &js, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(js.st_mode))
        ::unlinkat(folder.get(), name.c_str(), 0);
}

void RemoveTemporariesOf(const fs::path &database, std::string_view safetyPrefix) {
    const std::string live = database.filename().string();
    RemoveStaleTemporaries(database.parent_path(), 0, [&](std::string_view target) {
        return target == live || (!safetyPrefix.empty() && target.starts_with(safetyPrefix));
    });
}

}  // namespace

void ExclusiveHold::RemoveLeftovers(std::string_view safetyPrefix) { RemoveTemporariesOf(impl_->path, safetyPrefix); }

void RemoveRestoreLeftovers(const fs::path &database, std::string_view safetyPrefix) {
    sqlite3 *db = nullptr;
    // A connection of its own, for the write lock: a journal still there under it is no other
    // program's (SQLite rolled back one that counted as the lock was taken).
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK &&
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
        RemoveDeadJournal(database.string() + "-journal");
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
    RemoveTemporariesOf(database, safetyPrefix);
}

std::unique_ptr<ExclusiveHold> ExclusiveHold::Acquire(const fs::path &database) {
    auto impl = std::make_unique<Impl>();
    impl->path = database;
    Reach(*impl);
    try {
        impl->engine = Connection::Open(database, /*exclusive=*/true, /*readOnly=*/false, impl->reached.get());
    } catch (const Error &e) {
        if (e.number == 3045) return nullptr;
        if (e.number != 3343) throw;  // empty, cut short or no database: held all the same
    }
    if (impl->engine) {
        OpenForWriting(*impl);
        if (!LockDatabase(*impl)) return nullptr;
    } else if (!LockDamaged(*impl)) {
        return nullptr;
    }
    impl->held = FileState::Of(impl->fd.get(), database);
    RemoveDeadJournal(impl->journal);
    return std::unique_ptr<ExclusiveHold>(new ExclusiveHold(std::move(impl)));
}


}  // namespace platform::dao
