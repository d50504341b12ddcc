#pragma once
// Whole-file work on database files that must respect SQLite's own locking: checking a file,
// making a consistent copy of a database, putting another database's content in place of a live
// one, and finding out whether another program holds a database.
//
// Paths are Linux paths (map Windows paths with platform::MapPath first). Failures raise
// platform::Error with a description that names the file in its Windows form and the reason:
//   3024 missing file, 3343 not a database or damaged, 3045 in use, 61 disk full,
//   70 permission denied, 75 other input/output failures.
#include <filesystem>
#include <memory>

namespace platform::dao {

// Accepts only a database that the tools can use as their data database: the engine opens it (its
// header, size and lock rules) without a password, it passes SQLite's quick integrity check and it
// holds at least one table. Raises otherwise (3024 missing, 3343 not a database, damaged, empty or
// without tables, 3031 protected by a password, 3045 held exclusively). Writes no database.
void CheckDatabaseFile(const std::filesystem::path &database);

class Connection;

// Exclusive use of a database by this process, for a sequence of whole-file operations.
//
// Acquiring opens the database through the engine exclusively: the engine's flock on the sidecar
// "<name>.ldb" (every engine open takes it, shared or exclusive), so no engine open of the database,
// here or in another program, coexists with the hold. Programs that use the file with SQLite
// directly never see the .ldb, so acquiring also takes SQLite's EXCLUSIVE lock once without
// waiting: that fails while another connection reads or writes inside a transaction. That SQLite
// lock is released again at once (the operations below take it themselves, each under SQLite's
// normal locking); the .ldb lock is kept until the hold goes. A leftover journal of a writer that
// died is rolled back on the way, as any SQLite open does.
class ExclusiveHold {
public:
    // Nothing (an empty pointer) when another program holds the database. Raises for a missing
    // database (3024), one the engine cannot open (3343 not a database, ...) and one that may not
    // be written (70, with the reason: a read-only file or file system).
    static std::unique_ptr<ExclusiveHold> Acquire(const std::filesystem::path &database);
    ~ExclusiveHold();
    ExclusiveHold(const ExclusiveHold &) = delete;
    ExclusiveHold &operator=(const ExclusiveHold &) = delete;

private:
    explicit ExclusiveHold(std::shared_ptr<Connection> engine);
    std::shared_ptr<Connection> engine_;
};

// True when another program holds the database (see ExclusiveHold); holds nothing afterwards.
bool ProbeInUse(const std::filesystem::path &database);

// The sidecar lock file of a database: the same name with the extension ".ldb".
std::filesystem::path LockFileOf(const std::filesystem::path &database);

// Writes a consistent copy of `live` (SQLite's online backup, under a shared lock) to a new file
// named `target`, never overwriting a file: when `target` exists, "-2", "-3"... go before its
// extension. The copy gets the permissions of `live`. It is written under a hidden temporary name in
// the target's folder, synced, and renamed into place, and the folder is synced. Returns the path
// written. On failure nothing is left behind and `live` is unchanged; a temporary file that a killed
// copy of `live` left in that folder is removed by the next one.
std::filesystem::path BackupToNewFile(const std::filesystem::path &live, const std::filesystem::path &target);

// Replaces the content of the database `live` with that of the database `chosen`, in one write
// transaction of SQLite's online backup under SQLite's locking and journal: a crash at any point
// leaves `live` with all its old content (rolled back by the next open) or all the new. `live` must
// exist; `chosen` is only read.
void ReplaceContent(const std::filesystem::path &chosen, const std::filesystem::path &live);

}  // namespace platform::dao
