// The check of a chosen copy before the restore uses it: the engine's open rules, no password, the
// rollback-journal format, SQLite's quick integrity check, at least one table; the old content is
// saved beside it meanwhile (dbfile_replace.cpp).
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/dao/dbfile_private.h"
#include "platform/error.h"

namespace platform::dao::dbfile_detail {
namespace {

// What the tools require of a database's content, read through a connection in a read transaction:
// SQLite's quick integrity check passes and the database holds at least one table. Raises 3343 naming
// `shown` otherwise; stops early when `watch` sees a file cut short.
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
    if (!problems.empty()) throw FileError(3343, shown, problems);
    if (tables == 0) throw FileError(3343, shown, "the database holds no table");
}

// One of the database's settings that must be a positive number (page size, page count).
std::int64_t PositiveSetting(sqlite3 *db, const fs::path &database, const char *sql) {
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) RaiseSqliteFileError(database, SQLITE_ERROR, db);
    const int rc = sqlite3_step(stmt);
    const std::int64_t value = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW || value <= 0) RaiseSqliteFileError(database, rc == SQLITE_ROW ? SQLITE_CORRUPT : rc, db);
    return value;
}

}  // namespace

CheckedCopy::~CheckedCopy() {
    if (engine) sqlite3_exec(engine->db(), "ROLLBACK", nullptr, nullptr, nullptr);
    engine.reset();  // before the descriptor (see dbfile_private.h)
}

std::unique_ptr<CheckedCopy> CheckCopy(const fs::path &database, const std::function<void(const CheckedCopy &)> &beside) {
    auto copy = std::make_unique<CheckedCopy>();
    copy->path = database;
    // Never through another user's link: the engine, the check and the copy all read the file reached here.
    Opened reached = OpenFile(database, O_RDONLY | O_NONBLOCK);
    if (!reached && errno == ENOENT) throw FileError(3024, database);
    if (!reached) RaiseOsError(errno, database, kDatabase, "read", reached.refusedLink);
    copy->fd = std::move(reached);
    // Opened as the tools open the data database: the engine's header, size and lock rules, no password.
    copy->engine = Connection::Open(database, /*exclusive=*/false, /*readOnly=*/true, copy->fd.get());
    try {
        copy->engine->CheckPassword(std::nullopt);
    } catch (Error &e) {
        e.reason = "the file is protected by a password; the data database has none";
        throw;
    }
    RequireRollbackJournal(copy->fd.get(), database);
    sqlite3 *db = copy->engine->db();
    // One read transaction from the check to the copy: what is copied is what was checked. A program
    // that writes the file all the same changes its state, which the replacement compares.
    Exec(db, database, "BEGIN");
    Exec(db, database, "PRAGMA schema_version");  // takes the shared lock
    copy->checked = FileState::Of(copy->fd.get(), database);

    const CutWatch watch({{copy->fd.get(), &copy->path, copy->checked.size}});
    std::jthread besideThread;  // joined before the check's result is used, and on every way out
    if (beside) besideThread = std::jthread([&beside, &c = *copy] { beside(c); });
    try {
        CheckContent(db, database, copy->checked.size, watch);
    } catch (const Error &) {
        if (besideThread.joinable()) besideThread.join();
        watch.Check();
        throw;
    }
    if (besideThread.joinable()) besideThread.join();
    watch.Check();
    copy->pageSize = static_cast<std::uint32_t>(PositiveSetting(db, database, "PRAGMA page_size"));
    copy->pages = static_cast<std::uint64_t>(PositiveSetting(db, database, "PRAGMA page_count"));
    return copy;
}

}  // namespace platform::dao::dbfile_detail
