#pragma once
// What the engine's database files share with every other program that reads or writes them, for
// those (qvmigrate) that build such files themselves. A file is SQLite 3; dates are TEXT in the form
// of StorageText (clock.h), "long" columns INTEGER; a protected database holds the table db_password
// (sha256 TEXT) with one row, the Sha256Hex of the password's UTF-8 bytes.
#include "platform/digest.h"

namespace platform::dao {

using platform::Sha256Hex;

}  // namespace platform::dao
