#pragma once
// What the whole-file database work shares between its files.
//
// Raw reads and writes of a database go through a descriptor of our own, beside SQLite's. POSIX
// locks belong to the process and closing any descriptor of a file drops all of them, SQLite's too;
// so each object below opens its descriptor before its SQLite connection takes a lock and closes it
// only after that connection has let go (members are destroyed in reverse order).
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dao/connection.h"
#include "platform/dao/dbfile.h"
#include "platform/dao/sqlite_error.h"
#include "platform/file_io.h"
#include "platform/os_error.h"
#include "platform/safe_file.h"

namespace platform::dao::dbfile_detail {

namespace fs = std::filesystem;

// The kind of file whose failures the whole-file work raises (a missing one is 3024).
inline constexpr OsContext kDatabase = OsContext::Database;

// Runs one statement; raises on failure.
void Exec(sqlite3 *db, const fs::path &file, const char *sql);

// A database in write-ahead-log mode keeps part of its content beside the file; the data
// databases never use it, and neither the check nor the replacement reads or writes that part.
// Raises 3343 for one.
void RequireRollbackJournal(int fd, const fs::path &database);

// What tells whether another program wrote a file: its size and its times of change.
struct FileState {
    std::uint64_t size = 0;
    long mtime = 0, mtimeNs = 0, ctime = 0, ctimeNs = 0;
    bool operator==(const FileState &) const = default;
    static FileState Of(int fd, const fs::path &shown);
    // Raises 75 naming `shown` when the file open as `fd` is no longer in this state.
    void RequireSame(int fd, const fs::path &shown) const;
};

// Reads through mappings of files that another program may cut short meanwhile (see dbfile_cut.cpp):
// while a watch lives, a read past the new end finds zeros instead of ending the process. A page that
// goes from a WatchedMapping is counted against its file; one that goes from a mapping of SQLite's own
// (the check's reads) against every watch.
class CutWatch {
public:
    struct Watched {
        int fd;
        const fs::path *shown;
        std::uint64_t size;  // as the reads expect it
    };
    explicit CutWatch(std::initializer_list<Watched> files);
    ~CutWatch();
    CutWatch(const CutWatch &) = delete;
    CutWatch &operator=(const CutWatch &) = delete;
    // True once a read found a page of a watched file gone.
    bool PagesGone() const;
    // Raises 75 naming the watched file that is now shorter than its reads expect, or whose page went
    // and came back (the first one, for a page of SQLite's mappings).
    void Check() const;

private:
    std::vector<Watched> files_;
    std::vector<unsigned long> gone_;  // per file, as counted when the watch began
    unsigned long unknownGone_ = 0;
};

// A mapping of a file read under a watch.
class WatchedMapping : public Mapping {
public:
    WatchedMapping(int fd, std::uint64_t size, const fs::path &file);
    ~WatchedMapping();

private:
    int span_ = -1;
};

// A chosen copy as checked: open, and held under SQLite's shared lock (and the engine's shared .ldb
// lock) while this lives, so that nobody writes it in between.
struct CheckedCopy {
    fs::path path;
    Fd fd;                               // read-only; opened first, closed last
    std::shared_ptr<Connection> engine;  // inside a read transaction while this lives
    std::uint32_t pageSize = 0;
    std::uint64_t pages = 0;             // the database's size as SQLite sees it
    FileState checked;                   // the file as the check read it
    ~CheckedCopy();
};

// Checks the copy `database` by the rules of ExclusiveHold::ReplaceContent (dbfile_check.cpp).
// Meanwhile `beside` runs on a thread of its own, given the copy once it is open and locked; it is
// joined before this returns or raises, and must not throw.
std::unique_ptr<CheckedCopy> CheckCopy(const fs::path &database,
                                       const std::function<void(const CheckedCopy &)> &beside = {});

// A byte copy of a held database (open as `fd`, in the state `state`), written past the page cache,
// complete and synced under a hidden temporary name in `target`'s folder (AtomicFile: temporaries
// that killed runs left there are removed first), with the database's permissions; refused when
// another user's link stands at `target` (dbfile_copy.cpp). It takes a name of its own only when Name
// is called; until then it is removed when this object goes.
class PendingCopy {
public:
    PendingCopy(int fd, const fs::path &database, const FileState &state, const fs::path &target);
    int fd() const { return file_->fd(); }
    // Gives it `target`'s name, or when that is taken the first free one of "<stem>-2<ext>",
    // "<stem>-3<ext>"...; never overwrites a file or follows a link. Returns the name; the caller
    // syncs the folder.
    fs::path Name();
    // Removes it again under the name it was given.
    void Remove();

private:
    std::optional<AtomicFile> file_;
    fs::path named_;
};

// The page size a database header gives (bytes 16-17; 1 stands for 65536).
std::uint32_t PageSizeOf(const unsigned char *header);
std::uint32_t BigEndian32(const unsigned char *p);
void PutBigEndian32(unsigned char *p, std::uint32_t v);

}  // namespace platform::dao::dbfile_detail

namespace platform::dao {

struct ExclusiveHold::Impl {
    std::filesystem::path path;
    Fd reached;                          // read-only, under the link rule; opened first, closed last
    Fd fd;                               // read-write, the same file reopened
    std::shared_ptr<Connection> engine;  // inside BEGIN EXCLUSIVE while this lives
    dbfile_detail::FileState held;       // the file as the hold found it
    std::filesystem::path journal;       // SQLite's rollback journal of it
    LockFileHold ldb;                    // the engine's .ldb, locked, when `engine` is none
    ~Impl();
    // Ends the transaction that keeps the EXCLUSIVE lock; it wrote nothing itself.
    void EndTransaction();
};

namespace dbfile_detail {
// ExclusiveHold::ReplaceContent for a held file that is no database (dbfile_whole.cpp).
std::filesystem::path ReplaceWhole(ExclusiveHold::Impl &held, const std::filesystem::path &chosen,
                                   const std::filesystem::path &safetyTarget, ReplaceStage &stage);
}  // namespace dbfile_detail

}  // namespace platform::dao
