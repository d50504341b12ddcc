#pragma once
// What the engine's database files share with every other program that reads or writes them, for
// those (qvmigrate) that build such files themselves. A file is SQLite 3; dates are TEXT in the form
// of StorageText (clock.h), "long" columns INTEGER; a protected database holds the table db_password
// (sha256 TEXT) with one row, the Sha256Hex of the password's UTF-8 bytes.
//
// Below SQLite (the restore's whole-file work, qvmigrate's file on a descriptor), SQLite's own file
// format: the header, the lock bytes and the rollback journal's magic.
#include <cstddef>
#include <cstdint>

#include "platform/digest.h"

namespace platform::dao {

using platform::Sha256Hex;

// The database header at the start of the file, which begins with the magic text and its NUL.
inline constexpr std::size_t kSqliteHeaderSize = 100;
inline constexpr char kSqliteMagic[16] = "SQLite format 3";

// The bytes SQLite locks: the pending byte, the reserved byte after it, then the shared range. The page
// that holds them is never used for data.
inline constexpr std::uint64_t kSqlitePendingByte = 0x40000000;
inline constexpr std::uint64_t kSqliteSharedFirst = kSqlitePendingByte + 2;
inline constexpr std::uint64_t kSqliteSharedSize = 510;
inline constexpr std::uint64_t kSqliteLockSize = kSqliteSharedFirst + kSqliteSharedSize - kSqlitePendingByte;

// The first bytes of a rollback journal's header.
inline constexpr unsigned char kSqliteJournalMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};

}  // namespace platform::dao
