#pragma once
// Copying a folder tree as the copier (qvxcopy) does, and checking such a copy afterwards: the files a
// copier pass takes, the copy of one file, the comparison of a copy with its source, and the
// destination folder made ready before anything is copied. The copier and the backup window share
// these rules, so that the check covers exactly the files the copier was to copy.
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/safe_file.h"

namespace platform { class Sha256; }

namespace platform {

// What a copier pass takes from `folder`: the files whose names match `pattern` (DOS wildcards, as
// WildcardMatch matches them) and, with `subfolders`, those of every folder below, in name order, a
// folder's files where its name falls. A hidden name (leading ".") is passed over with all below
// it, and so is whatever is not a plain file or folder (a device, a pipe, the files of the kernel's
// own file systems such as /proc): nothing of it is ever read. Links are followed under the rule of
// safe_file.h: a link made by another user, or one that leads through such a link, goes to
// `refused` with the link it stopped at, and nothing it names is looked at. Followed links never
// lead into a folder that is already on the current path (a link back to an ancestor) nor into
// `destination`: such a folder goes to `skipped` with the ancestor it leads back to (nullptr: it
// leads into the destination). Paths are relative to `folder`. A folder that cannot be read throws
// std::filesystem::filesystem_error.
//
// The tools' lock and work files (IsWorkFile) are never taken. With `database` set, the files that
// hold databases (IsDatabaseName) go there instead of to `file`: they are copied at one moment of
// their own (dao/snapshot.h).
struct CopySource {
    std::function<void(const std::filesystem::path &relative)> file;
    std::function<void(const std::filesystem::path &relative, const std::filesystem::path *ancestor)> skipped;
    std::function<void(const std::filesystem::path &relative, const std::filesystem::path &link)> refused;
    std::function<void(const std::filesystem::path &relative)> database;
};

// A lock or work file of the engine, the tools or SQLite, which holds nothing to back up: ".ldb",
// ".frd", "-journal", "-wal", "-shm" and an audit spool's ".pending" at the end (any letter case).
bool IsWorkFile(std::string_view name);
// A file named as the databases are: ".mdb" at the end (any letter case).
bool IsDatabaseName(std::string_view name);
void WalkCopySource(const std::filesystem::path &folder, std::string_view pattern, bool subfolders,
                    const std::filesystem::path &destination, const CopySource &visit);

// A file that WalkCopySource takes, opened for reading under the link rule; invalid with errno set
// when it cannot be opened, ENODEV when it is no longer a plain file (nothing is read from it then).
Opened OpenSourceFile(const std::filesystem::path &file);

// A copy of one file that failed: the errno value, whether reading the source failed (else writing
// the copy), and the link of another user that an open stopped at (ELOOP), when that is why. A write
// that the file system cut short for want of space is ENOSPC.
struct CopyFailure {
    int err;
    bool reading;
    std::filesystem::path refusedLink = {};
};

// A folder that a copy writes files into: made with its missing parents (each with the access of the
// folder it is made in, never others' write: Access::GroupShared), then opened once, under the link
// rule of safe_file.h.
// Throws CopyFailure when it cannot be made or opened.
class CopyFolder {
public:
    explicit CopyFolder(const std::filesystem::path &folder);
    const std::filesystem::path &path() const { return path_; }
    // Whether `name` here is a file (not a link) modified no earlier than `source`.
    bool HoldsAsNew(std::string_view name, const std::filesystem::path &source) const;
    // Copies the content of `source` (OpenSourceFile) to `name` through an AtomicFile: the copy gets
    // the source's modification time, its read and execute permissions, write permission for its
    // owner (a later copy may replace it) and the group of this folder with group write when the
    // folder gives its group write (in a folder that a group shares, every member may refresh the
    // copy); never others' write, nor a set-user or set-group bit, and no access but the owner's
    // while it is written (a file system without Unix permissions keeps the mode it gives). A file at `name` whose
    // owner may not write it is not replaced (EACCES). Not synced: see SyncFileSystem. Throws
    // CopyFailure; EINTR once a stop signal came (StopCopiesOnSignals), the temporary removed.
    void Copy(const std::filesystem::path &source, std::string_view name) const;
    // The same from the source open as `in`; with `digest`, every byte copied is given to it too.
    void Copy(const Fd &in, std::string_view name, class Sha256 *digest = nullptr) const;
    // Moves the file `name` of this folder, when there is one, to `keep` (a folder, made with its
    // missing parents as this folder is) by a rename, so that the copy that replaces it leaves the
    // earlier one kept. True when a file was moved. A file of that name in `keep` is never replaced
    // (EEXIST). Throws CopyFailure (reading false).
    bool Keep(std::string_view name, const std::filesystem::path &keep) const;

private:
    std::filesystem::path path_;
    Fd fd_;
    unsigned groupWrite_ = 0;  // the folder's group write permission
    unsigned group_ = 0;       // the folder's group
};

// Makes SIGINT, SIGTERM and SIGHUP (a terminal window closed) stop the copies of this process: the
// copy at hand fails with EINTR and removes its temporary, and so does every later one.
void StopCopiesOnSignals();
// The stop signal that came, 0 while none did.
int StopSignal();

// Writes out what is waiting in the page cache for the file system that holds `folder` (syncfs).
// False with errno set on failure.
bool SyncFileSystem(const std::filesystem::path &folder);

// The copy of a whole tree checked file by file: every file that a copier pass of `sourceFolder`
// with `pattern` and subfolders takes is at the same place below `copyFolder` (reached under the link
// rule of safe_file.h) with the same size and the same bytes, read back from the medium: the copy's
// file system is synced and each copy's pages dropped from the page cache before it is read. A
// link that the pass refuses counts as a file that is not in the copy. Windows paths. Raises the
// error of a source folder that cannot be read.
struct TreeCheck {
    long files = 0;  // files the copy should hold
    long good = 0;   // of them, found with the same content
    long newer = 0;  // of the others, copies that differ and are newer than the source (a /D pass keeps them)
    std::vector<std::string> firstBad;  // the first few that are not, "DATA\x.mdb (missing)"
};
// With `databasesApart`, the files that hold databases are left to the check of their own copies.
TreeCheck CheckCopiedTree(std::string_view sourceFolder, std::string_view pattern, std::string_view copyFolder,
                          bool databasesApart = false);
inline constexpr std::size_t kNamedBadFiles = 5;

// True when the Windows path `path` is `folder` or lies below it, judged by the folders themselves
// (links and other names of a folder count as that folder). A path that does not exist yet is
// judged by its nearest existing folder.
bool LiesWithin(std::string_view path, std::string_view folder);

// Makes the folder `folder` (a Windows path) in its existing parent folder unless it exists, with the
// access of that parent but never others' write (Access::GroupShared), under the link rule of safe_file.h, and makes sure that
// files can be created in it. Raises 76 when the parent folder does not exist, 75 when `folder` is a
// file, 70 and 71 with DestinationTrouble's words for a read-only or vanished disk, and the error of
// the failure otherwise (70 for a folder that may not be written, or a link made by another user).
void PrepareCopyDestination(std::string_view folder);

// A clerk's words for a failure `err` of writing at `path` that lies with the disk: one that can no
// longer be reached (removed), is read-only, or reports an input/output error; empty for any other.
std::string DestinationTrouble(int err, const std::filesystem::path &path);

// The first character of `text` that Windows does not allow in names (control characters, < > : " | ? *
// and, in a single name, the separators), as a message names it ("the character :"); in a Windows path
// (`path`), its separators and its drive's colon aside. Empty when there is none.
std::string ForbiddenCharacter(std::string_view text, bool path = false);

}  // namespace platform
