#pragma once
// SQLite failures as the utility's numbered errors.
#include <string>

namespace platform::dao {

// Raises the platform::Error nearest to a SQLite result code and message. `sql` is the Jet text the
// caller ran (named by syntax errors); `database` is the Windows path of the file (named by format,
// lock and busy errors).
[[noreturn]] void RaiseSqlite(int rc, const std::string &message, const std::string &sql, const std::string &database);

}  // namespace platform::dao
