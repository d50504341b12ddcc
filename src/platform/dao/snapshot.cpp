// A database copied at one moment, its bytes digested as they go, and the copy checked against that
// digest.
#include "platform/dao/snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/copy_tree.h"
#include "platform/dao/connection.h"
#include "platform/dao/sqlite_error.h"
#include "platform/dao/storage_format.h"
#include "platform/digest.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/os_error.h"
#include "platform/safe_file.h"

namespace platform::dao {
namespace fs = std::filesystem;
namespace {

// A writer's commit, or a restore, may hold the database for a while: the copy waits for it.
constexpr int kWaitForWriterMs = 10 * 60 * 1000;
constexpr std::size_t kChunk = 1 << 20;

// The SHA-256 of what can be read from `fd` from its start; -1 in `err` when reading failed.
std::string DigestOf(int fd, int &err) {
    Sha256 digest;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (std::int64_t at = 0;; at += kChunk) {
        const ssize_t got = ReadFully(fd, buffer.get(), kChunk, at);
        if (got < 0) {
            err = errno;
            return {};
        }
        if (got == 0) return digest.Hex();
        digest.Update(buffer.get(), static_cast<std::size_t>(got));
    }
}

bool IsSqliteFile(int fd) {
    char head[sizeof kSqliteMagic] = {};
    return ReadFully(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
           std::memcmp(head, kSqliteMagic, sizeof head) == 0;
}

// The engine's open of `database` (a change that a killed writer left is rolled back on the way); null
// for a file that the engine does not take as a database, which is copied as it is.
std::shared_ptr<Connection> OpenToRead(const fs::path &database) {
    std::shared_ptr<Connection> c;
    try {
        c = Connection::Open(database, false, ::access(database.c_str(), W_OK) != 0);
    } catch (const Error &e) {
        if (e.number == 3343) return nullptr;  // damaged: its bytes are still worth keeping
        throw;
    }
    std::error_code ec;
    if (fs::exists(fs::path(database.string() + "-wal"), ec))
        throw FileError(3343, database, "it is in write-ahead-log mode, which the tools do not use");
    sqlite3_busy_timeout(c->db(), kWaitForWriterMs);
    return c;
}

// What tells one committed state of the database from another: SQLite's change counter, which every
// commit raises, and the file's size and times, which every write changes; and whether a write
// transaction is under way (its journal is there).
struct Moment {
    std::uint32_t counter = 0;
    std::int64_t size = 0, mtime = 0, mtimeNs = 0, ctime = 0, ctimeNs = 0;
    bool writing = false;
    bool operator==(const Moment &) const = default;
};

// Takes SQLite's shared lock on the database and tells the moment it stands at; the lock stays until End.
Moment Begin(Connection &c, int fd, const fs::path &database) {
    c.Exec("BEGIN");
    c.Exec("PRAGMA schema_version");  // takes the shared lock
    unsigned char bytes[4] = {};
    if (ReadFully(fd, bytes, sizeof bytes, 24) != static_cast<ssize_t>(sizeof bytes))
        RaiseOsError(errno ? errno : EIO, database, OsContext::Database, "read");
    struct stat st {};
    if (::fstat(fd, &st) != 0) RaiseOsError(errno, database, OsContext::Database, "read");
    std::error_code ec;
    return {static_cast<std::uint32_t>(bytes[0] << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3]), st.st_size,
            st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec,
            fs::exists(fs::path(database.string() + "-journal"), ec)};
}

void End(Connection &c) { c.Exec("COMMIT"); }

// Copies that may run without the lock before one holds it throughout.
constexpr int kUnlockedTries = 3;

}  // namespace

SnapshotCopy CopyDatabaseSnapshot(const fs::path &database, const fs::path &folder, const std::string &name,
                                  bool newerOnly, const fs::path &keep) {
    const fs::path copyPath = folder / name;
    const auto failed = [&](const CopyFailure &f) -> SnapshotCopy {
        RaiseOsError(f.err, f.reading ? database : copyPath, OsContext::Database, f.reading ? "read" : "write",
                     f.refusedLink);
    };
    // Our own descriptor is opened before SQLite locks the file and closed after it let go: closing
    // a descriptor of a file drops every POSIX lock of the process on it, SQLite's among them.
    const Opened in = OpenSourceFile(database);
    if (!in) RaiseOsError(errno, database, OsContext::Database, "open", in.refusedLink);
    std::shared_ptr<Connection> reading = IsSqliteFile(in.get()) ? OpenToRead(database) : nullptr;

    // Copied without SQLite's lock while no commit falls between the moment before and the one after,
    // so that a writer does not wait for a copy to a slow disk; a commit meanwhile makes the copy
    // again, and the last try holds the lock throughout.
    SnapshotCopy result;
    std::string state;
    try {
        const CopyFolder to(folder);
        RemoveStaleTemporaries(folder);  // of copies that were killed
        bool asNew = newerOnly && to.HoldsAsNew(name, database);
        // The copy there is replaced from here on: the one it replaces is kept first.
        const auto copyAnew = [&] {
            asNew = false;
            if (!keep.empty()) result.kept = to.Keep(name, keep);
        };
        if (!asNew) copyAnew();
        for (int attempt = 0;; ++attempt) {
            const bool locked = attempt == kUnlockedTries;
            Moment before;
            if (reading) {
                before = Begin(*reading, in.get(), database);
                if (!locked) End(*reading);
                // A commit since the first look: the copy there is older than this state.
                if (asNew && !to.HoldsAsNew(name, database)) copyAnew();
            }
            if (asNew) {
                int err = 0;
                state = DigestOf(in.get(), err);
                if (err) RaiseOsError(err, database, OsContext::Database, "read");
            } else {
                Sha256 digest;
                to.Copy(in, name, &digest);
                state = digest.Hex();
                result.copied = true;
            }
            if (!reading) break;
            if (locked) {
                End(*reading);  // the read ends: writers go on
                break;
            }
            const Moment after = Begin(*reading, in.get(), database);
            End(*reading);
            if (after == before && !before.writing) break;
            if (asNew) copyAnew();  // a commit meanwhile: the copy there no longer holds this state
        }
    } catch (const CopyFailure &f) {
        return failed(f);
    }
    struct stat source {};
    (void)::fstat(in.get(), &source);
    reading.reset();  // the engine's lock goes too

    // The copy, read back from its disk.
    if (!SyncFileSystem(folder)) RaiseOsError(errno, folder, OsContext::Folder, "sync");
    const Opened copy = OpenFile(copyPath, O_RDONLY | O_NONBLOCK);
    if (!copy) RaiseOsError(errno, copyPath, OsContext::Database, "open", copy.refusedLink);
    (void)::posix_fadvise(copy.get(), 0, 0, POSIX_FADV_DONTNEED);
    int err = 0;
    const std::string read = DigestOf(copy.get(), err);
    if (err) RaiseOsError(err, copyPath, OsContext::Database, "read");
    struct stat st {};
    (void)::fstat(copy.get(), &st);
    result.size = static_cast<std::uint64_t>(st.st_size);
    result.good = read == state;
    result.newer = !result.good && !result.copied &&
                   (st.st_mtim.tv_sec > source.st_mtim.tv_sec ||
                    (st.st_mtim.tv_sec == source.st_mtim.tv_sec && st.st_mtim.tv_nsec > source.st_mtim.tv_nsec));
    return result;
}

}  // namespace platform::dao
