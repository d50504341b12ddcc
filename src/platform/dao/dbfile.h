#pragma once
// Whole-file work on database files under SQLite's own locking, for the restore tool: holding the live
// database, and putting a chosen copy's content in its place once the copy is checked and the old
// content is saved.
//
// Paths are Linux paths (map Windows paths with platform::MapPath first). Failures raise
// platform::Error about the file (Error::file, named by its Linux path; see Message in paths.h) with the reason:
//   3024 missing file, 3343 not a database or damaged, 3045 in use, 3031 password, 61 disk full,
//   70 permission denied, 75 other input/output failures.
#include <filesystem>
#include <memory>
#include <string_view>

namespace platform::dao {

// How far a replacement came when it failed.
enum class ReplaceStage {
    Checking,    // the chosen copy is no database the tools can use, or could not be read
    SafetyCopy,  // the old content could not be saved in the safety copy: nothing was replaced
    Journal,     // the old content could not be saved in the journal: nothing was replaced
    Replacing,   // the old content was saved; the new could not be put in place: the old is back
    Naming,      // the new content is in place; the safety copy of the old could not take its name
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
    // database (3024), one that may not be read or written (70, with the reason: a read-only file or
    // file system, or a link another user made) and one in write-ahead-log mode (3343).
    static std::unique_ptr<ExclusiveHold> Acquire(const std::filesystem::path &database);
    ~ExclusiveHold();
    ExclusiveHold(const ExclusiveHold &) = delete;
    ExclusiveHold &operator=(const ExclusiveHold &) = delete;

    // Puts the content of the database `chosen` in place of the held database's, in the file itself (a
    // program that has it open sees the new content), and keeps the old content in a safety copy
    // named `safetyTarget` (when that name is taken, "-2", "-3"... go before its extension; never a
    // file overwritten or a link followed). Returns the safety copy's path.
    //
    // The chosen copy is accepted only as the engine opens a data database (its header, size and lock
    // rules, no password), in the rollback-journal format, passing SQLite's quick integrity check and
    // holding at least one table; it is held under SQLite's shared lock until the end, so what is
    // copied is what was checked. While it is checked, the old content is saved: a byte copy of the
    // whole file under a hidden name beside `safetyTarget` (an AtomicFile, with the database's
    // permissions; the temporaries of killed runs are removed first), and the old bytes of every page
    // that changes in the database's rollback journal, in SQLite's format. Once both are complete and
    // synced, the journal's header makes it count; then the changed pages are written and synced,
    // the content in place is checked as the chosen copy was, the chosen copy must be as it was
    // checked and the database as it was written; only then does the safety copy take its name, and
    // removing the journal commits. Killed at any point, the file holds all its old content (SQLite
    // rolls the journal back at the next open) or all the new. On failure the old content is put back
    // at once and no safety copy is left; `stage` tells how far it came. A file cut short or written
    // by another program meanwhile is a failure (75) that names it; a link another user made at the
    // chosen copy's, the journal's or the safety copy's name is refused (70, named) before anything is
    // written. The chosen copy and the held database are each opened once under the link rule
    // (safe_file.h); the engine, the check and the copy reopen those very files, whatever their names
    // name meanwhile.
    //
    // A held file that is no database (see above) is replaced whole instead (dbfile_whole.cpp): the
    // chosen copy, checked as above, is written under a hidden name beside it (an AtomicFile with the
    // file's owner, group and mode where this user may give them), synced and renamed over it; the
    // safety copy holds the file's bytes as they were and takes its name after that rename.
    std::filesystem::path ReplaceContent(const std::filesystem::path &chosen, const std::filesystem::path &safetyTarget,
                                         ReplaceStage &stage);

    // Removes at once, whatever their age, the hidden temporaries that killed restores of the held
    // database left: of a whole replacement and of safety copies (names beginning with `safetyPrefix`).
    // Nobody else writes them while the hold lasts. (A journal that no longer counts went as the hold
    // began.)
    void RemoveLeftovers(std::string_view safetyPrefix);

    struct Impl;  // dbfile_private.h

private:
    explicit ExclusiveHold(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// What restores of `database` that were killed left beside it, removed at once: its journal when it
// no longer counts (one that does is rolled back by any open of the file), and the temporaries that
// ExclusiveHold::RemoveLeftovers removes. The caller holds the database open through the engine, so no
// restore of it runs meanwhile; the journal goes only under SQLite's write lock, never while another
// program writes the file. What cannot be removed stays; nothing is raised.
void RemoveRestoreLeftovers(const std::filesystem::path &database, std::string_view safetyPrefix);

}  // namespace platform::dao
