// The exclusive hold of a database, and what the whole-file work shares: statements, the header's
// fields, the refusal of another user's link. The check of a chosen copy is in dbfile_check.cpp, the
// safety copy in dbfile_copy.cpp, the replacement in place in dbfile_replace.cpp, files that other
// programs cut or change meanwhile in dbfile_cut.cpp.
#include "platform/dao/dbfile.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

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

}  // namespace

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
        RaiseOsError(err, database, kDatabase, "open for writing");
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

void dbfile_detail::RefuseLinkAt(const fs::path &file) {
    const Fd probe = OpenFile(file, O_RDONLY | O_NONBLOCK);
    if (!probe && IsRefusedLink(errno)) throw Error(70, RefusedLinkText());
}

}  // namespace platform::dao
