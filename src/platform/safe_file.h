#pragma once
// Files in folders that other logins can write.
//
// The tools run on shared machines, often as root, in folders where other logins can create names
// (the program folder, the data folder, the public temp-data folder, a backup drive). Every file or
// folder the tools create, open for writing, change the mode of or remove there is reached through
// this header:
// - a path is resolved one component at a time, and a symbolic link is followed only when it
//   belongs to the running user or to root (the rule Linux applies in sticky world-writable folders);
//   a link of anyone else fails with ELOOP, and the open's result (Opened) names it;
// - modes and owners are changed on descriptors, never on paths;
// - a file or folder made for every login (the audit file and its folder) takes the access of the
//   folder it is created in;
// - whole files are written through AtomicFile: a hidden temporary beside the target, locked while
//   it is written, synced and renamed into place, so no reader ever sees half a file and the
//   temporaries of killed runs can be told from those of running ones.
//
// Failures are errno values (an invalid Opened or Fd, or -1, with errno set, or std::system_error from
// AtomicFile), and an open's result names the link of another user it stopped at: each caller turns
// them into its own messages (RaiseOsError in os_error.h for the tools' error numbers).
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os_error.h"

namespace platform {

// A file descriptor that closes itself.
class Fd {
public:
    Fd() noexcept = default;
    explicit Fd(int fd) noexcept : fd_(fd) {}
    Fd(Fd &&other) noexcept : fd_(other.release()) {}
    Fd &operator=(Fd &&other) noexcept;
    ~Fd();
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int release() noexcept;
    void reset(int fd = -1) noexcept;

private:
    int fd_ = -1;
};

// What an open under the link rule gives: the descriptor, invalid with errno set on failure; when the
// lookup stopped at a link of another user (ELOOP), that link, as reached (for RaiseOsError).
struct Opened : Fd {
    Opened() noexcept = default;
    Opened(Fd fd) noexcept : Fd(std::move(fd)) {}  // NOLINT: an open's descriptor, no link refused
    std::filesystem::path refusedLink;
};

// The access that a created file or folder takes.
enum class Access {
    Private,     // the mode asked for, less the umask, as open(2) and mkdir(2) give it
    LikeFolder,  // shared by every login: 0666 (0777 for a folder) less the write bits that the folder
                 // it is created in lacks, and that folder's group (when the user may give it)
    GroupShared, // as LikeFolder, but never writable by others: a copy in a folder that every login may
                 // write is shared with the folder's group at most
    Office,      // as LikeFolder, but no access at all for others unless the folder lets others write: a
                 // lock file, which a login outside the folder's group must not be able to hold
};

// open(2) of `path` with `flags` (O_CREAT, O_EXCL, O_APPEND, ... as open takes them; O_CLOEXEC and
// O_NOFOLLOW are added) under the link rule above. A file that this call creates takes `access`
// (`mode` for Access::Private).
Opened OpenFile(const std::filesystem::path &path, int flags, unsigned mode = 0666, Access access = Access::Private);

// The same for the name `name` (one component, or a relative path) in the folder open as `dirfd`.
Opened OpenFileAt(int dirfd, std::string_view name, int flags, unsigned mode = 0666, Access access = Access::Private);

// The folder that holds the last component of `path`, opened for *at calls (O_PATH), and that last
// component in `name`.
Opened OpenParent(const std::filesystem::path &path, std::string &name);

// A folder opened for *at calls (O_PATH | O_DIRECTORY) under the link rule.
Opened OpenFolder(const std::filesystem::path &folder);

// Creates `folder` and every missing folder above it (mkdir -p); the folders it creates take
// `access`. An existing folder is no failure. The folder, opened as OpenFolder opens it.
Opened MakeFolders(const std::filesystem::path &folder, Access access = Access::Private);

// Removes a file (never a link's target: a link at the name is removed itself). False with errno set
// on failure; a missing file is no failure.
bool RemoveFile(const std::filesystem::path &path);

// The names in the folder open as `dirfd` (O_PATH will do), "." and ".." left out; none when it
// cannot be read.
std::vector<std::string> FolderNames(int dirfd);

// Gives a file or folder that the caller has just created the access `access` of the folder open as
// `dirfd` (Access::Private leaves it as it is). Best effort: a mode or group that the user may not
// give is left as it is.
void GiveAccess(int fd, int dirfd, bool isFolder, Access access);

// Whether a link owned by `owner` may be followed under the rule above (the running user's or root's).
bool MayFollowLink(unsigned owner);

// Syncs the folder that holds `file` (reached under the link rule above); raises as os_error.h does.
void SyncFolderOf(const std::filesystem::path &file, OsContext context = OsContext::File);

// A whole file written under a temporary name beside `target` and renamed over it on Commit.
// Until then readers see the old file, or none; a temporary that is not committed is removed when
// the object goes, and one that a killed run left is removed by RemoveStaleTemporaries. The file
// takes `access` (`mode` for Access::Private). Throws std::system_error on failure; platform::Error
// (RefusedLinkError) when the lookup of the target's folder stopped at a link of another user.
class AtomicFile {
public:
    explicit AtomicFile(const std::filesystem::path &target, Access access = Access::Private, unsigned mode = 0666);
    // The same in the folder open as `dirfd` (from OpenFolder), for a writer of many files in one
    // folder: `target` is the file's path, its last component its name in that folder.
    AtomicFile(int dirfd, const std::filesystem::path &target, Access access = Access::Private, unsigned mode = 0666);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    int fd() const noexcept { return file_.get(); }
    const std::filesystem::path &Target() const noexcept { return target_; }
    // Writes every byte at the end of what was written so far.
    void Write(const void *data, std::size_t size);
    // Syncs the data, renames the temporary over the target and syncs the folder.
    void Commit();
    // Renames the temporary over the target and syncs nothing: for a copy of many files, which syncs
    // the file system once when they are all written (SyncFileSystem in copy_tree.h).
    void CommitUnsynced();
    // Gives the temporary, its data synced by the caller, the name `name` in the target's folder
    // unless something of that name is there: false then (nothing followed or replaced), and the
    // temporary stays. The folder is not synced: the caller syncs it with what else it changes there.
    bool CommitAsNew(std::string_view name);

private:
    void Create(Access access, unsigned mode);

    std::filesystem::path target_;
    std::string name_;       // the target's name in its folder
    std::string temporary_;  // the temporary's name in that folder; empty once committed
    Fd folder_;
    Fd file_;
};

// Removes the temporaries of AtomicFile in `folder` that no running process is writing and that are at
// least `minimumAgeSeconds` old (a writer locks its temporary just after creating it: a caller that
// knows no other writer makes them may pass 0); only those of targets whose names `of` accepts, when
// given. Returns the names removed.
std::vector<std::string> RemoveStaleTemporaries(const std::filesystem::path &folder, int minimumAgeSeconds = 10,
                                                const std::function<bool(std::string_view target)> &of = {});

}  // namespace platform
