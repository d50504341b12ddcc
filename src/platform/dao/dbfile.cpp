// Whole-file database work: the errors, raw file access, the exclusive hold and the byte copy. The
// check is in dbfile_check.cpp, the replacement in dbfile_replace.cpp, files cut or changed by other
// programs in dbfile_cut.cpp.
#include "platform/dao/dbfile.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/dao/dbfile_private.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/safe_file.h"

namespace platform::dao {
namespace fs = std::filesystem;

namespace dbfile_detail {

void Exec(sqlite3 *db, const fs::path &file, const char *sql) {
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) RaiseSqliteFileError(file, rc, db);
}

std::vector<bool> PagesThatDiffer(int beforeFd, std::uint64_t beforeSize, int afterFd, std::uint64_t afterSize,
                                  std::uint32_t pageSize, const fs::path &beforeShown, const fs::path &afterShown) {
    const std::uint64_t pages = beforeSize / pageSize;
    const std::uint64_t common = std::min(pages * pageSize, afterSize / pageSize * pageSize);
    Mapping before(beforeFd, common, beforeShown, kDatabase), after(afterFd, common, afterShown, kDatabase);
    std::vector<bool> differs(pages + 1, true);
    differs[0] = false;
    for (std::uint64_t at = 0; at < common; at += pageSize) {
        differs[at / pageSize + 1] = std::memcmp(before.data() + at, after.data() + at, pageSize) != 0;
        before.Done(at);
        after.Done(at);
    }
    return differs;
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
    unsigned char header[100];
    ReadAt(fd, header, sizeof header, 0, database, kDatabase);
    if (header[18] != 1 || header[19] != 1)
        throw Error(3343, ErrorDescription(3343, ShownPath(database)) + " (the file uses a write-ahead log)");
}

}  // namespace dbfile_detail

using namespace dbfile_detail;

namespace {

void RequireExisting(const fs::path &database) {
    std::error_code ec;
    if (!fs::is_regular_file(database, ec))
        throw Error(3024, WithDriveNote(ErrorDescription(3024, ShownPath(database)), database));
}

fs::path WithSuffix(const fs::path &target, int n) {
    if (n < 2) return target;
    fs::path name = target.stem();
    name += "-" + std::to_string(n);
    name += target.extension();
    return target.parent_path() / name;
}

}  // namespace

fs::path LockFileOf(const fs::path &database) {
    fs::path lock = database;
    return lock.replace_extension(".ldb");
}

// ---- the hold ----

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

std::unique_ptr<ExclusiveHold> ExclusiveHold::Acquire(const fs::path &database) {
    RequireExisting(database);
    auto impl = std::make_unique<Impl>();
    impl->path = database;
    try {
        impl->engine = Connection::Open(database, ShownPath(database), /*exclusive=*/true, /*readOnly=*/false);
    } catch (const Error &e) {
        if (e.number == 3045) return nullptr;
        throw;
    }
    sqlite3 *db = impl->engine->db();
    impl->fd = OpenFile(database, O_RDWR);  // never through another user's link
    const int openError = errno;
    if (impl->fd.get() < 0 || sqlite3_db_readonly(db, "main") == 1) {
        // The file (or its file system) may not be written.
        const int err = impl->fd.get() < 0 ? openError : ::access(database.c_str(), W_OK) != 0 ? errno : EACCES;
        RaiseOsError(err, database, OsContext::Database, "open for writing");
    }
    sqlite3_busy_timeout(db, 0);
    const int rc = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) return nullptr;
    if (rc != SQLITE_OK) RaiseSqliteFileError(database, rc, db);
    RequireRollbackJournal(impl->fd.get(), database);
    impl->held = FileState::Of(impl->fd.get(), database);
    // A journal still there now is not hot (taking the lock rolled a hot one back): the rest of a
    // replacement killed before its journal counted. Nobody else writes one while the hold lasts.
    impl->journal = sqlite3_filename_journal(sqlite3_db_filename(db, "main"));
    std::string name;
    const Fd folder = OpenParent(impl->journal, name);
    struct stat js {};
    if (folder && ::fstatat(folder.get(), name.c_str(), &js, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(js.st_mode))
        ::unlinkat(folder.get(), name.c_str(), 0);
    return std::unique_ptr<ExclusiveHold>(new ExclusiveHold(std::move(impl)));
}

bool ProbeInUse(const fs::path &database) { return ExclusiveHold::Acquire(database) == nullptr; }

void dbfile_detail::RefuseLinkAt(const fs::path &file) {
    const Fd probe = OpenFile(file, O_RDONLY | O_NONBLOCK);
    if (!probe && IsRefusedLink(errno)) throw Error(70, RefusedLinkText());
}

PendingCopy::PendingCopy(int fromFd, const fs::path &database, const FileState &state, const fs::path &target) {
    RemoveStaleTemporaries(target.parent_path());
    RefuseLinkAt(target);
    try {
        file_.emplace(target, Access::Private, 0600);
    } catch (const std::system_error &e) {
        RaiseOsError(e.code().value(), target, OsContext::Database, "create");
    }
    DirectWriter out(file_->fd(), target, kDatabase);
    const std::uint64_t size = state.size;
    const CutWatch watch({{fromFd, &database, size}});
    try {
        Mapping from(fromFd, size, database, kDatabase);
        for (std::uint64_t at = 0; at < size; at += DirectWriter::kChunk) {
            out.Append(from.data() + at, static_cast<std::size_t>(std::min<std::uint64_t>(DirectWriter::kChunk, size - at)));
            from.Done(at);
        }
        out.Finish();
    } catch (const Error &) {
        watch.Check();
        throw;
    }
    watch.Check();
    state.RequireSame(fromFd, database);
    struct stat st {};
    if (::fstat(fromFd, &st) != 0) RaiseOsError(errno, database, OsContext::Database, "read");
    if (::fchmod(file_->fd(), st.st_mode & 0777) != 0) RaiseOsError(errno, target, OsContext::Database, "set the permissions of");
    Sync(file_->fd(), target, kDatabase);
}

fs::path PendingCopy::Name() {
    const fs::path &target = file_->Target();
    for (int n = 1;; ++n) {
        const fs::path name = WithSuffix(target, n);
        try {
            if (file_->CommitAsNew(name.filename().native())) return named_ = name;
        } catch (const std::system_error &e) {
            RaiseOsError(e.code().value(), name, OsContext::Database, "rename");
        }
    }
}

void PendingCopy::Remove() {
    if (!named_.empty()) RemoveFile(named_);
    named_.clear();
}

fs::path ExclusiveHold::CopyToNewFile(const fs::path &target) {
    PendingCopy copy(impl_->fd.get(), impl_->path, impl_->held, target);
    const fs::path name = copy.Name();
    SyncFolderOf(name, kDatabase);
    return name;
}

}  // namespace platform::dao
