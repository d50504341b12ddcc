#pragma once
// SQLite failures as the tools' error numbers: the one table, and the errors raised with it.
#include <filesystem>
#include <string>

struct sqlite3;

namespace platform::dao {

// What the failing SQLite call was doing. The numbers differ only for SQLite's generic error.
enum class SqliteContext {
    Statement,  // a statement the tools run: its message tells the Jet error (3078 no such table,
                // 3061, 3265, 3010, 3085, 3079, else 3075 syntax error in the statement)
    WholeFile,  // whole-file work on a database (the restore's check and hold): 75, or the number of
                // the OS error behind it
};

// The table (`rc` an extended result code, `sysErr` the errno value behind it, 0 for none):
//   SQLITE_FULL                                          61 Disk full
//   SQLITE_READONLY, SQLITE_PERM, SQLITE_AUTH            70 Permission denied
//   SQLITE_BUSY, SQLITE_LOCKED                           3045 in use
//   SQLITE_NOTADB, SQLITE_CORRUPT                        3343 unrecognized format
//   SQLITE_CANTOPEN, SQLITE_IOERR, SQLITE_NOLFS,
//   SQLITE_PROTOCOL                                      the OS error's number for a database
//                                                        (os_error.h), else 75
//   SQLITE_MISMATCH 13, SQLITE_TOOBIG and SQLITE_RANGE 6, SQLITE_NOMEM 7
//   SQLITE_CONSTRAINT_UNIQUE, _PRIMARYKEY 3022; any other constraint 3314
//   anything else                                        by context, as above
int SqliteErrorNumber(int rc, int sysErr, SqliteContext context);

// Raises the error of a failed statement: `message` is SQLite's, kept as its reason; `sql` the Jet text
// the caller ran (named by syntax errors); `file` the database's Linux path, which an error about the
// file (not found, in use, not a database, not readable or writable) names.
[[noreturn]] void RaiseSqlite(int rc, const std::string &message, const std::string &sql, const std::filesystem::path &file,
                              int sysErr = 0);

// Raises the error of a failed call in whole-file work on a connection (or none) to `file`, its reason
// SQLite's message and the OS error behind it: "<description>: '<file>' (<message>[: <the OS error>])".
[[noreturn]] void RaiseSqliteFileError(const std::filesystem::path &file, int rc, sqlite3 *db);

}  // namespace platform::dao
