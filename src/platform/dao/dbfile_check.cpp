// The check of a database's content: of a chosen copy before the restore uses it, and of the content
// that a replacement put in place before the replacement commits.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/dao/dbfile_private.h"
#include "platform/error.h"
#include "platform/paths.h"

namespace platform::dao {
namespace fs = std::filesystem;
using namespace dbfile_detail;

namespace dbfile_detail {

void CheckContent(sqlite3 *db, const fs::path &shown, std::uint64_t size, const CutWatch &watch) {
    // Mapped reads: a file that is not in the page cache is read in large steps, not page by page in
    // the check's order.
    Exec(db, shown, ("PRAGMA mmap_size = " + std::to_string(size)).c_str());
    sqlite3_progress_handler(
        db, 4096, [](void *w) { return static_cast<const CutWatch *>(w)->PagesGone() ? 1 : 0; },
        const_cast<CutWatch *>(&watch));
    std::string problems;
    std::int64_t tables = 0;
    auto each = [&](const char *sql, const std::function<void(sqlite3_stmt *)> &row) {
        sqlite3_stmt *stmt = nullptr;
        int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
        if (rc != SQLITE_OK) RaiseSqliteFileError(shown, rc, db);
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) row(stmt);
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE) RaiseSqliteFileError(shown, rc, db);
    };
    each("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!'",
         [&](sqlite3_stmt *s) { tables = sqlite3_column_int64(s, 0); });
    each("PRAGMA quick_check", [&](sqlite3_stmt *s) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(s, 0));
        const std::string line = text ? text : "";
        if (line != "ok") problems += (problems.empty() ? "" : "; ") + line;
    });
    sqlite3_progress_handler(db, 0, nullptr, nullptr);
    if (!problems.empty()) throw Error(3343, ErrorDescription(3343, ShownPath(shown)) + " (" + problems + ")");
    if (tables == 0) throw Error(3343, ErrorDescription(3343, ShownPath(shown)) + " (the database holds no table)");
}

void CheckInPlace(const fs::path &database, int fd, std::uint64_t size) {
    std::string uri = "file:";
    for (const unsigned char c : database.string()) {
        static const char hex[] = "0123456789ABCDEF";
        if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    uri += "?immutable=1";
    sqlite3 *raw = nullptr;
    const int rc = sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    // Closing it keeps the hold's locks: SQLite closes the descriptor only once they are let go.
    const std::unique_ptr<sqlite3, int (*)(sqlite3 *)> db(raw, sqlite3_close_v2);
    if (rc != SQLITE_OK) RaiseSqliteFileError(database, rc, raw);
    sqlite3_extended_result_codes(raw, 1);
    const CutWatch watch({{fd, &database, size}});
    try {
        CheckContent(raw, database, size, watch);
    } catch (const Error &e) {
        watch.Check();
        throw Error(e.number, e.description + " (found in the content put in place, before it counted)");
    }
    watch.Check();
}

}  // namespace dbfile_detail

SoundDatabase::SoundDatabase(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SoundDatabase::~SoundDatabase() = default;

SoundDatabase::Impl::~Impl() {
    if (engine) sqlite3_exec(engine->db(), "ROLLBACK", nullptr, nullptr, nullptr);
    engine.reset();  // before the descriptor (see dbfile_private.h)
}

std::unique_ptr<SoundDatabase> SoundDatabase::Check(const fs::path &database, const ExclusiveHold *replacing) {
    auto impl = std::make_unique<Impl>();
    impl->path = database;
    impl->fd.reset(::open(database.c_str(), O_RDONLY | O_CLOEXEC));
    const int openError = errno;
    // Opened as the tools open the data database: the engine's header, size and lock rules, no password.
    impl->engine = Connection::Open(database, ShownPath(database), /*exclusive=*/false, /*readOnly=*/true);
    if (impl->fd.get() < 0) RaiseOsError(openError, database, OsContext::Database, "read");
    try {
        impl->engine->CheckPassword(std::nullopt);
    } catch (const Error &e) {
        throw Error(e.number, e.description + " (the file is protected by a password; the data database has none)");
    }
    RequireRollbackJournal(impl->fd.get(), database);
    sqlite3 *db = impl->engine->db();
    // One read transaction from the check to the copy: what is copied is what was checked. A program
    // that writes the file all the same changes its state, which the replacement compares.
    Exec(db, database, "BEGIN");
    Exec(db, database, "PRAGMA schema_version");  // takes the shared lock
    impl->checked = FileState::Of(impl->fd.get(), database);

    // While the check reads the copy on this thread, another compares it with the database it is to
    // replace (reading both from start to end, which also brings a copy that is not in the page cache
    // in faster than the check's own order of reads). A comparison that fails is left to the
    // replacement, which raises its error.
    const CutWatch watch({{impl->fd.get(), &impl->path, impl->checked.size}});
    std::jthread comparing;  // joined before the check's result is used, and on every way out
    if (replacing) {
        impl->comparedWith = replacing->impl_.get();
        comparing = std::jthread([self = impl.get()] {
            const ExclusiveHold::Impl &live = *self->comparedWith;
            try {
                unsigned char header[100];
                ReadAt(live.fd.get(), header, sizeof header, 0, live.path, kDatabase);
                self->differs = PagesThatDiffer(live.fd.get(), live.held.size, self->fd.get(), self->checked.size,
                                                PageSizeOf(header), live.path, self->path);
            } catch (...) {
                self->differs.clear();
            }
        });
    }
    try {
        CheckContent(db, database, impl->checked.size, watch);
    } catch (const Error &) {
        if (comparing.joinable()) comparing.join();
        watch.Check();
        throw;
    }
    if (comparing.joinable()) comparing.join();
    watch.Check();
    auto pragma = [&](const char *sql) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) RaiseSqliteFileError(database, SQLITE_ERROR, db);
        const int rc = sqlite3_step(stmt);
        const std::int64_t value = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
        sqlite3_finalize(stmt);
        if (rc != SQLITE_ROW || value <= 0) RaiseSqliteFileError(database, rc == SQLITE_ROW ? SQLITE_CORRUPT : rc, db);
        return value;
    };
    impl->pageSize = static_cast<std::uint32_t>(pragma("PRAGMA page_size"));
    impl->pages = static_cast<std::uint64_t>(pragma("PRAGMA page_count"));
    return std::unique_ptr<SoundDatabase>(new SoundDatabase(std::move(impl)));
}

}  // namespace platform::dao
