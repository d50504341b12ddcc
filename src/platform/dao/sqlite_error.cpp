// The SQLite result table (a file-level failure by the OS error behind it) and the errors raised with
// it; a statement's generic error is told by its message (no such table, syntax, ...).
#include "platform/dao/sqlite_error.h"

#include <sqlite3.h>

#include <cstring>

#include "platform/error.h"
#include "platform/os_error.h"

namespace platform::dao {
namespace {

bool StartsWith(const std::string &s, const std::string &head) { return s.rfind(head, 0) == 0; }

std::string After(const std::string &s, const std::string &head) {
    std::string rest = s.substr(head.size());
    if (StartsWith(rest, "main.")) rest = rest.substr(5);
    return rest;
}

// An error with SQLite's words as its reason: "<words> (<message>)".
[[noreturn]] void WithMessage(int number, std::string words, const std::string &message) {
    Error e(number, std::move(words));
    e.reason = message;
    throw e;
}

// An error about `file` with SQLite's words and the OS error behind them.
[[noreturn]] void AboutFile(int number, const std::filesystem::path &file, const std::string &message, int sysErr) {
    Error e = FileError(number, file, message);
    e.osError = sysErr;
    throw e;
}

// SQLITE_ERROR: the message tells what the statement got wrong.
[[noreturn]] void RaiseStatementError(const std::string &m, const std::string &sql) {
    if (StartsWith(m, "no such table: ")) Raise(3078, ErrorDescription(3078, After(m, "no such table: ")));
    if (StartsWith(m, "no such column: ")) Raise(3061, ErrorDescription(3061, "1"));
    if (m.find(" has no column named ") != std::string::npos) WithMessage(3265, ErrorDescription(3265), m);
    if (StartsWith(m, "table ") && m.find(" already exists") != std::string::npos) {
        std::string name = m.substr(6, m.find(" already exists") - 6);
        Raise(3010, "Table '" + name + "' already exists.");
    }
    if (StartsWith(m, "no such function: "))
        Raise(3085, "Undefined function '" + After(m, "no such function: ") + "' in expression.");
    if (StartsWith(m, "ambiguous column name: "))
        Raise(3079, "The specified field '" + After(m, "ambiguous column name: ") +
                        "' could refer to more than one table listed in the FROM clause of your SQL statement.");
    if (m.find("syntax error") != std::string::npos || StartsWith(m, "incomplete input") ||
        StartsWith(m, "unrecognized token"))
        Raise(3075, ErrorDescription(3075, sql));
    WithMessage(3075, ErrorDescription(3075, sql), m);
}

}  // namespace

int SqliteErrorNumber(int rc, int sysErr, SqliteContext context) {
    switch (rc & 0xff) {
    case SQLITE_FULL: return 61;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return 70;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return 3045;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: return 3343;
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_NOLFS:
    case SQLITE_PROTOCOL: return sysErr ? ErrorNumberOf(sysErr, OsContext::Database) : 75;
    case SQLITE_MISMATCH: return 13;
    case SQLITE_TOOBIG:
    case SQLITE_RANGE: return 6;
    case SQLITE_NOMEM: return 7;
    case SQLITE_CONSTRAINT: return rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY ? 3022 : 3314;
    default:
        if (context == SqliteContext::Statement) return 3075;
        return sysErr ? ErrorNumberOf(sysErr, OsContext::Database) : 75;
    }
}

void RaiseSqlite(int rc, const std::string &message, const std::string &sql, const std::filesystem::path &file,
                 int sysErr) {
    const int number = SqliteErrorNumber(rc, sysErr, SqliteContext::Statement);
    switch (number) {
    case 7: WithMessage(7, "Out of memory", message);
    case 3022:
        WithMessage(3022, "The changes you requested to the table were not successful because they would create "
                          "duplicate values in the index, primary key, or relationship.", message);
    case 3314: WithMessage(3314, "A field of the record cannot hold this value.", message);
    case 3075: RaiseStatementError(message, sql);
    case 3024:
    case 3045:
    case 3343:
    case 61:
    case 68:
    case 70:
    case 75:
    case 76:  // the file could not be found, used, read or written: named, with SQLite's words
        if (!file.empty()) AboutFile(number, file, message, sysErr);
        [[fallthrough]];
    default: WithMessage(number, ErrorDescription(number), message);
    }
}

void RaiseSqliteFileError(const std::filesystem::path &file, int rc, sqlite3 *db) {
    const int sysErr = db ? sqlite3_system_errno(db) : 0;
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    if (sysErr != 0) message += std::string(": ") + std::strerror(sysErr);
    AboutFile(SqliteErrorNumber(rc, sysErr, SqliteContext::WholeFile), file, message, sysErr);
}

}  // namespace platform::dao
