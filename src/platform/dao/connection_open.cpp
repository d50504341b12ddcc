// Opening a database file: the .ldb lock, the SQLite open, the journal a killed writer left, the format
// check and the password.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/dao/connection.h"
#include "platform/dao/sqlite_error.h"
#include "platform/dao/storage_format.h"
#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/os_error.h"
#include "platform/safe_file.h"

namespace platform::dao {
namespace fs = std::filesystem;
namespace {

constexpr int kBusyTimeoutMs = 5000;

std::uint32_t BigEndian(const unsigned char *p, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
    return v;
}

// A SQLite file starts with its magic text; its header's page count (when the header vouches for
// it) tells the size a whole file has. Empty, foreign and truncated files are refused with 3343.
// The file is read through the connection's own descriptor: closing one of our own would drop the
// process's POSIX locks on the file, SQLite's among them.
void CheckFormat(sqlite3 *db, const fs::path &file) {
    sqlite3_file *f = nullptr;
    sqlite3_int64 size = 0;
    unsigned char h[kSqliteHeaderSize] = {};
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &f) != SQLITE_OK || !f || !f->pMethods ||
        f->pMethods->xFileSize(f, &size) != SQLITE_OK)
        RaiseOsError(EIO, file, OsContext::Database, "read");
    const int rc = size > 0 ? f->pMethods->xRead(f, h, sizeof h, 0) : SQLITE_OK;  // a short read fills zeros
    if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ) RaiseOsError(EIO, file, OsContext::Database, "read");
    if (size == 0) throw FileError(3343, file, "the file is empty");
    if (size < static_cast<sqlite3_int64>(sizeof h) || std::memcmp(h, kSqliteMagic, sizeof kSqliteMagic) != 0)
        throw FileError(3343, file);
    std::uint32_t pageSize = BigEndian(h + 16, 2);
    if (pageSize == 1) pageSize = 65536;
    const std::uint32_t pages = BigEndian(h + 28, 4);
    const bool countValid = pages > 0 && BigEndian(h + 24, 4) == BigEndian(h + 92, 4);
    std::error_code ec;
    const bool wal = fs::exists(fs::path(file.string() + "-wal"), ec);
    if (countValid && !wal && static_cast<std::uint64_t>(size) < std::uint64_t{pages} * pageSize)
        throw FileError(3343, file, "the file is shorter than its header says");
}

// SQLite's own file system, but for a database opened with "qvfd=N" in its URI: the engine opens the
// file open as descriptor N (reached under the link rule), by reopening /proc/self/fd/N, which reaches
// that file whatever its name names meanwhile. Its journal keeps the name SQLite gives it beside the
// database's name.
constexpr const char *kReachedVfs = "qv-reached";
constexpr char kReopenPrefix[] = "/proc/self/fd/";
constexpr int kReopenNameSize = 32;  // "/proc/self/fd/N", kept after SQLite's file, which points at it

// SQLite opens every file without following a link, /proc/self/fd/N too (a link to the kernel): the
// open it makes follows that one alone.
int OpenCall(const char *path, int flags, mode_t mode) {
    if (std::strncmp(path, kReopenPrefix, sizeof kReopenPrefix - 1) == 0) flags &= ~O_NOFOLLOW;
    return ::open(path, flags | O_CLOEXEC, mode);
}

int ReachedOpen(sqlite3_vfs *vfs, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags) {
    auto *base = static_cast<sqlite3_vfs *>(vfs->pAppData);
    const char *fd = name && (flags & SQLITE_OPEN_MAIN_DB) ? sqlite3_uri_parameter(name, "qvfd") : nullptr;
    if (!fd) return base->xOpen(base, name, file, flags, outFlags);
    char *reopen = reinterpret_cast<char *>(file) + base->szOsFile;
    std::snprintf(reopen, kReopenNameSize, "%s%d", kReopenPrefix, std::atoi(fd));
    return base->xOpen(base, reopen, file, flags & ~SQLITE_OPEN_URI, outFlags);
}

const char *ReachedVfs() {
    static const bool registered = [] {
        sqlite3_vfs *base = sqlite3_vfs_find(nullptr);
        static sqlite3_vfs vfs = *base;
        vfs.zName = kReachedVfs;
        vfs.pAppData = base;
        vfs.pNext = nullptr;
        vfs.szOsFile = base->szOsFile + kReopenNameSize;
        vfs.xOpen = ReachedOpen;
        return base->iVersion >= 3 && base->xSetSystemCall &&
               base->xSetSystemCall(base, "open", reinterpret_cast<sqlite3_syscall_ptr>(OpenCall)) == SQLITE_OK &&
               sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
    }();
    return registered ? kReachedVfs : nullptr;
}

// The URI of `file` for ReachedVfs, its path escaped.
std::string ReachedUri(const fs::path &file, int fd) {
    std::string uri = "file:";
    for (const unsigned char c : file.native()) {
        if (c == '%' || c == '?' || c == '#' || c < 0x21 || c > 0x7e) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            uri += escaped;
        } else {
            uri += static_cast<char>(c);
        }
    }
    return uri + "?qvfd=" + std::to_string(fd);
}

}  // namespace

// Every login of the data folder shares the .ldb: it is created whole with the folder's access, and
// never through a link another user made; the last holder removes it. Only an .ldb that is missing and
// cannot be made lets a read-only open go on without one (a read-only folder).
LockFileHold LockSidecar(const fs::path &file, bool exclusive, bool readOnly) {
    fs::path ldb = file;
    ldb.replace_extension(".ldb");
    std::string leaf;
    Opened dir = OpenParent(ldb, leaf);
    if (!dir) RaiseOsError(errno, ldb, OsContext::Database, "open", dir.refusedLink);
    for (;;) {
        bool uncreatable = false;
        Opened fd = OpenLockFile(dir.get(), leaf, uncreatable);
        if (!fd) {
            const int err = errno;
            if (readOnly && uncreatable) return {};
            RaiseOsError(err, ldb, OsContext::Database, "open", fd.refusedLink);
        }
        switch (LockAt(fd.get(), dir.get(), leaf, exclusive ? LOCK_EX : LOCK_SH)) {
        case LockResult::Held: return LockFileHold(std::move(fd), std::move(dir), leaf);
        case LockResult::Replaced: continue;  // its last holder removed it meanwhile
        case LockResult::Busy: throw FileError(3045, file);
        case LockResult::Failed: RaiseOsError(errno, ldb, OsContext::Database, "lock");
        }
    }
}

void RefuseLinkAt(const fs::path &file) {
    const Opened probe = OpenFile(file, O_RDONLY | O_NONBLOCK);
    if (!probe.refusedLink.empty()) throw RefusedLinkError(probe.refusedLink);
}

void RefuseJournalLink(sqlite3 *db, int rc) {
    const char *file = db ? sqlite3_db_filename(db, "main") : nullptr;
    if ((rc & 0xff) == SQLITE_CANTOPEN && file && *file) RefuseLinkAt(sqlite3_filename_journal(file));
}

std::shared_ptr<Connection> Connection::Open(const fs::path &file, bool exclusive, bool readOnly, int reached) {
    struct stat sb {};
    if ((reached >= 0 ? ::fstat(reached, &sb) : ::stat(file.c_str(), &sb)) != 0 || !S_ISREG(sb.st_mode))
        throw FileError(3024, file);

    // A database in write-ahead-log mode keeps its log and shared memory beside its name, which a
    // reopened descriptor has none of: refused as the hold and the check refuse it.
    unsigned char h[kSqliteHeaderSize] = {};
    if (reached >= 0 && ::pread(reached, h, sizeof h, 0) == static_cast<ssize_t>(sizeof h) &&
        std::memcmp(h, kSqliteMagic, sizeof kSqliteMagic) == 0 && (h[18] == 2 || h[19] == 2))
        throw FileError(3343, file, "the file uses a write-ahead log");
    std::shared_ptr<Connection> c(new Connection());
    c->file_ = file;
    c->readOnly_ = readOnly;
    c->id_ = {sb.st_dev, sb.st_ino};
    c->lockFd_ = LockSidecar(file, exclusive, readOnly);
    const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    int rc = reached < 0 ? sqlite3_open_v2(file.c_str(), &c->db_, flags, nullptr)
           : ReachedVfs()  ? sqlite3_open_v2(ReachedUri(file, reached).c_str(), &c->db_, flags | SQLITE_OPEN_URI,
                                             ReachedVfs())
                           : SQLITE_CANTOPEN;
    if (rc != SQLITE_OK) c->Fail(rc, {});
    sqlite3_extended_result_codes(c->db_, 1);
    sqlite3_busy_timeout(c->db_, kBusyTimeoutMs);
    // A "quoted" name is always a name: an unknown one is an error, never a text.
    sqlite3_db_config(c->db_, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    c->Settle(file);
    c->ReadPassword();
    return c;
}

// The first read takes SQLite's shared lock, and with it SQLite rolls back a change that a killed
// writer left in the journal (a read-only open refuses such a file, as SQLite does, and writes
// nothing). Only then is the format checked, under that lock: a file in the middle of a change,
// or of a restore's replacement, may be longer or shorter than its header says until the journal
// is rolled back.
void Connection::Settle(const fs::path &file) {
    const int rc = sqlite3_exec(db_, "BEGIN; PRAGMA schema_version", nullptr, nullptr, nullptr);
    const int extended = sqlite3_extended_errcode(db_);
    const std::string message = sqlite3_errmsg(db_);
    if (rc != SQLITE_OK && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK && extended == SQLITE_READONLY_ROLLBACK)
        throw FileError(70, file, "the file holds a change that was cut off; an open that may write it rolls it back");
    if (rc != SQLITE_OK) RefuseJournalLink(db_, extended);
    try {
        CheckFormat(db_, file);
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    if (rc != SQLITE_OK)
        RaiseSqlite((extended & 0xff) == (rc & 0xff) ? extended : rc, message, {}, file_,
                    sqlite3_system_errno(db_));
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);  // ends the read
}

void Connection::ReadPassword() {
    // Reading the schema here also proves the file is a database SQLite can read.
    Stmt probe = Prepare("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'db_password' "
                         "COLLATE NOCASE", {});
    probe.Step({});
    if (sqlite3_column_int(probe.get(), 0) == 0) return;
    Stmt read = Prepare("SELECT sha256 FROM db_password LIMIT 1", {});
    if (read.Step({}) && sqlite3_column_type(read.get(), 0) != SQLITE_NULL)
        passwordHash_ = Lower(reinterpret_cast<const char *>(sqlite3_column_text(read.get(), 0)));
}

void Connection::CheckPassword(const std::optional<std::string> &password) const {
    if (!passwordHash_) return;
    if (!password || Sha256Hex(*password) != *passwordHash_) Raise(3031);
}

}  // namespace platform::dao
