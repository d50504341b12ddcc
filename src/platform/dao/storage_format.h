#pragma once
// What the engine's database files share with every other program that reads or writes them, for
// those (qvmigrate) that build such files themselves. A file is SQLite 3; dates are TEXT in the form
// of StorageText (clock.h), "long" columns INTEGER; a protected database holds the table db_password
// (sha256 TEXT) with one row, the Sha256Hex of the password's UTF-8 bytes.
#include <string>

namespace platform::dao {

// Lowercase hex SHA-256 of a text's bytes.
std::string Sha256Hex(const std::string &text);

}  // namespace platform::dao
