#include "platform/dao/sqlite_error.h"

#include <sqlite3.h>

#include "platform/error.h"

namespace platform::dao {
namespace {

bool StartsWith(const std::string &s, const std::string &head) { return s.rfind(head, 0) == 0; }

std::string After(const std::string &s, const std::string &head) {
    std::string rest = s.substr(head.size());
    if (StartsWith(rest, "main.")) rest = rest.substr(5);
    return rest;
}

[[noreturn]] void WithMessage(int number, const std::string &subject, const std::string &message) {
    throw Error(number, ErrorDescription(number, subject) + " (" + message + ")");
}

// SQLITE_ERROR: the message tells what the statement got wrong.
[[noreturn]] void RaiseStatementError(const std::string &m, const std::string &sql) {
    if (StartsWith(m, "no such table: ")) Raise(3078, ErrorDescription(3078, After(m, "no such table: ")));
    if (StartsWith(m, "no such column: ")) Raise(3061, ErrorDescription(3061, "1"));
    if (m.find(" has no column named ") != std::string::npos) WithMessage(3265, {}, m);
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
    WithMessage(3075, sql, m);
}

}  // namespace

void RaiseSqlite(int rc, const std::string &message, const std::string &sql, const std::string &database) {
    switch (rc & 0xff) {
    case SQLITE_FULL: WithMessage(61, {}, message);
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: WithMessage(70, {}, message);
    case SQLITE_BUSY:
    case SQLITE_LOCKED: WithMessage(3045, database, message);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: WithMessage(3343, database, message);
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_NOLFS:
    case SQLITE_PROTOCOL: WithMessage(75, {}, message);
    case SQLITE_MISMATCH: WithMessage(13, {}, message);
    case SQLITE_TOOBIG:
    case SQLITE_RANGE: WithMessage(6, {}, message);
    case SQLITE_NOMEM: throw Error(7, "Out of memory (" + message + ")");
    case SQLITE_CONSTRAINT:
        if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY)
            throw Error(3022, "The changes you requested to the table were not successful because they would "
                              "create duplicate values in the index, primary key, or relationship. (" + message + ")");
        throw Error(3314, "A field of the record cannot hold this value. (" + message + ")");
    default: RaiseStatementError(message, sql);
    }
}

}  // namespace platform::dao
