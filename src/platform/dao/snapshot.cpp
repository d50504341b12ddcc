// A database copied under a read transaction, its bytes digested as they go, and the copy checked
// against that digest.
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

// The engine's open of `database` with its read transaction begun (SQLite's shared lock held); null
// for a file that the engine does not take as a database, which is copied as it is.
std::shared_ptr<Connection> ReadAtOneMoment(const fs::path &database) {
    std::shared_ptr<Connection> c;
    try {
        // An open that may write rolls back what a killed writer left, as every open of the tools does.
        c = Connection::Open(database, database.filename().string(), false, ::access(database.c_str(), W_OK) != 0);
    } catch (const Error &e) {
        if (e.number == 3343) return nullptr;  // damaged: its bytes are still worth keeping
        throw;
    }
    std::error_code ec;
    if (fs::exists(fs::path(database.string() + "-wal"), ec))
        throw FileError(3343, database, "it is in write-ahead-log mode, which the tools do not use", c->Name());
    sqlite3_busy_timeout(c->db(), kWaitForWriterMs);
    c->Exec("BEGIN");
    c->Exec("PRAGMA schema_version");  // takes the shared lock, kept until the connection goes
    return c;
}

}  // namespace

SnapshotCopy CopyDatabaseSnapshot(const fs::path &database, const fs::path &folder, const std::string &name,
                                  bool newerOnly, const fs::path &keep) {
    const fs::path copyPath = folder / name;
    const auto failed = [&](const CopyFailure &f) -> SnapshotCopy {
        RaiseOsError(f.err, f.reading ? database : copyPath, OsContext::Database, f.reading ? "read" : "write");
    };
    // Our own descriptor is opened before SQLite locks the file and closed after it let go: closing
    // a descriptor of a file drops every POSIX lock of the process on it, SQLite's among them.
    const Fd in = OpenSourceFile(database);
    if (!in) RaiseOsError(errno, database, OsContext::Database, "open");
    std::shared_ptr<Connection> reading = IsSqliteFile(in.get()) ? ReadAtOneMoment(database) : nullptr;

    SnapshotCopy result;
    std::string state;
    try {
        const CopyFolder to(folder);
        if (newerOnly && to.HoldsAsNew(name, database)) {
            int err = 0;
            state = DigestOf(in.get(), err);
            if (err) RaiseOsError(err, database, OsContext::Database, "read");
        } else {
            if (!keep.empty()) result.kept = to.Keep(name, keep);
            Sha256 digest;
            to.Copy(in, name, &digest);
            state = digest.Hex();
            result.copied = true;
        }
    } catch (const CopyFailure &f) {
        return failed(f);
    }
    struct stat source {};
    (void)::fstat(in.get(), &source);
    reading.reset();  // the read ends: writers go on

    // The copy, read back from its disk.
    if (!SyncFileSystem(folder)) RaiseOsError(errno, folder, OsContext::Folder, "sync");
    const Fd copy = OpenFile(copyPath, O_RDONLY | O_NONBLOCK);
    if (!copy) RaiseOsError(errno, copyPath, OsContext::Database, "open");
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
