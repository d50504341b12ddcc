#pragma once
// Whole-file work on database files under SQLite's own locking, for the restore tool: checking a
// chosen copy, holding the live database, a byte copy of it, and putting the chosen copy's content
// in its place.
//
// Paths are Linux paths (map Windows paths with platform::MapPath first). Failures raise
// platform::Error with a description that names the file in its Windows form and the reason:
//   3024 missing file, 3343 not a database or damaged, 3045 in use, 3031 password, 61 disk full,
//   70 permission denied, 75 other input/output failures.
#include <cstdint>
#include <filesystem>
#include <memory>

namespace platform::dao {

// A database that the tools can use as their data database, kept as it was checked: it is held
// under SQLite's shared lock (and the engine's shared .ldb lock) until this object goes, so nobody
// writes it in between.
class SoundDatabase {
public:
    // Accepts only what the engine opens (its header, size and lock rules) without a password, in
    // the rollback-journal format, passing SQLite's quick integrity check and holding at least one
    // table. Raises otherwise, with the reason. Writes no database. Given the database that the
    // copy is to replace, it also finds, while the check runs, which of that database's pages the
    // copy's content changes (what ExclusiveHold::ReplaceContent needs first).
    static std::unique_ptr<SoundDatabase> Check(const std::filesystem::path &database,
                                                const class ExclusiveHold *replacing = nullptr);
    ~SoundDatabase();
    SoundDatabase(const SoundDatabase &) = delete;
    SoundDatabase &operator=(const SoundDatabase &) = delete;

private:
    friend class ExclusiveHold;
    struct Impl;
    explicit SoundDatabase(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Exclusive use of a database by this process, for the whole of a restore.
//
// Acquiring opens the database through the engine exclusively (its flock on the sidecar
// "<name>.ldb"), so no engine open of the database, here or in another program, coexists with the
// hold; and it takes SQLite's EXCLUSIVE lock without waiting, which keeps out programs that use the
// file with SQLite directly (it fails while one of them reads or writes in a transaction). Both are
// kept until the hold goes. A journal left by a writer that died is rolled back on the way, as any
// SQLite open does, and one that no longer counts (a replacement killed before its journal was
// complete) is removed.
class ExclusiveHold {
public:
    // Nothing (an empty pointer) when another program holds the database. Raises for a missing
    // database (3024), one the engine cannot open (3343 not a database, ...), one that may not be
    // written (70, with the reason: a read-only file or file system, or a link another user made)
    // and one in write-ahead-log mode (3343).
    static std::unique_ptr<ExclusiveHold> Acquire(const std::filesystem::path &database);
    ~ExclusiveHold();
    ExclusiveHold(const ExclusiveHold &) = delete;
    ExclusiveHold &operator=(const ExclusiveHold &) = delete;

    // Writes a byte copy of the held database to a new file named `target`, never overwriting a
    // file: when `target` exists, "-2", "-3"... go before its extension. The copy gets the
    // database's permissions; it is written under a hidden temporary name in the target's folder
    // (AtomicFile), synced, and given its name, and the folder is synced. Returns the path written.
    // On failure nothing is left behind; the temporaries that killed runs left in that folder are
    // removed by the next one. A link that another user made at `target` is refused (70, named).
    std::filesystem::path CopyToNewFile(const std::filesystem::path &target);

    // Makes a safety copy of the held database (as CopyToNewFile does, to `safetyTarget`) and puts
    // the content of `chosen` in its place, in the file itself (a program that has it open sees
    // the new content). Meanwhile with the safety copy, the old content of every part that changes
    // is written to the database's rollback journal, in SQLite's format, and synced; only when both
    // are complete and synced are the changed parts written and synced. The content in place is then
    // checked as the chosen copy was (SoundDatabase::Check), the chosen copy must be as it was
    // checked and the database as it was written; only then does the safety copy take its name, and
    // removing the journal commits. Killed at any point, the file holds all its old content (SQLite
    // rolls the journal back at the next open) or all the new. On failure the old content is put
    // back at once and no safety copy is left. A file cut short or written by another program
    // meanwhile is a failure (75) that names it; a link another user made at the journal's or the
    // safety copy's name is refused (70, named) before anything is written. Returns the safety copy's path; `safetyCopied` tells
    // a failure after the safety copy was complete from one before.
    std::filesystem::path ReplaceContent(const SoundDatabase &chosen, const std::filesystem::path &safetyTarget,
                                         bool &safetyCopied);

private:
    friend class SoundDatabase;
    struct Impl;
    explicit ExclusiveHold(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// True when another program holds the database (see ExclusiveHold); holds nothing afterwards.
bool ProbeInUse(const std::filesystem::path &database);

// The sidecar lock file of a database: the same name with the extension ".ldb".
std::filesystem::path LockFileOf(const std::filesystem::path &database);

}  // namespace platform::dao
