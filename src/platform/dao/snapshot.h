#pragma once
// A database copied as it stands at one moment, for the backup, while other logins may be writing it.
//
// The copy is made between two looks under SQLite's shared lock (a read transaction) and the engine's
// shared .ldb lock, as any open of the tools holds them: when SQLite's change counter, the file's size
// and times and the absence of a journal show that nothing was written between the two, the copy holds
// that one committed state, all of a change or none; otherwise it is made again, and after a few tries
// under the shared lock throughout (a writer's commit then waits for that one copy, never longer). A
// restore, which needs the database to itself, is refused while the copy holds the .ldb lock, as for
// any open. The bytes copied are digested on the way; the copy is then read back from its disk and
// must give the same digest, so the check holds the copy to the state it was made of, not to the
// live file that moved on.
// A file that is no SQLite database (a name like a database, other content) is copied as it is.
#include <cstdint>
#include <filesystem>
#include <string>

namespace platform::dao {

struct SnapshotCopy {
    bool copied = false;  // a copy was written; else the one there was as new as the database, and is checked
    bool kept = false;    // the copy that was there went to `keep` first
    bool good = false;    // the copy read back holds the database's state that was copied
    bool newer = false;   // not good: the copy there is newer than the database, and was left as it was
    std::uint64_t size = 0;
};

// Copies the database `database` as `name` into the folder `folder` (made when missing, as CopyFolder
// does), and checks the copy. With `newerOnly`, a copy there that is as new as the database is only
// checked. With `keep` not empty, a copy that is replaced moves there first (CopyFolder::Keep). Raises
// the error of what failed, naming the file (61 for a full disk); the copy that was there then stays,
// at its place or in `keep`.
SnapshotCopy CopyDatabaseSnapshot(const std::filesystem::path &database, const std::filesystem::path &folder,
                                  const std::string &name, bool newerOnly, const std::filesystem::path &keep);

}  // namespace platform::dao
