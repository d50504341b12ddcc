#pragma once
// Lock files: an flock on a file beside what it guards, never waited for. A lock file is created
// when missing, whole, with the group and access of its folder and none for logins outside that group
// (Access::Office), never through a link that another user made at its name, and removed again when
// its last holder lets it go. Also a lock on a folder itself.
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/safe_file.h"

namespace platform {

// How taking an flock on a lock file went (LockAt).
enum class LockResult {
    Held,      // locked, and the name still names the locked file
    Replaced,  // its last holder removed it meanwhile: open the name again
    Busy,      // another holder keeps it
    Failed,    // errno tells why
};

// Opens the lock file `name` in the folder open as `dir` for LockAt, creating it whole when missing:
// no other login finds it before it has its final access. A file left by another login that this one
// may only read serves as well. Invalid with errno set on failure; `uncreatable` when the file is
// missing and the folder refuses to create it.
Opened OpenLockFile(int dir, const std::string &name, bool &uncreatable);

// flock(`op` | LOCK_NB) on `fd`, the lock file `name` of the folder open as `dir`. A holder that is
// just removing the file (LockFileHold) is waited for a moment, so two logins opening at once are
// never refused for it. A file held only by logins outside the folder's owner, group and root, which
// the office's own access would not let open it, is removed for a new one (Replaced).
LockResult LockAt(int fd, int dir, const std::string &name, int op);

// An flock that LockAt took, shared with other holders or exclusive. Letting it go removes the lock
// file when no other holder remains: the lock is made exclusive without waiting, and the file is
// removed only while its name still names it, so a holder that opened it meanwhile finds it gone
// (LockAt: Replaced) and takes a new one. Another holder, or a folder this login may not change,
// leaves it in place (the next holder's release removes it, also after a kill).
class LockFileHold {
public:
    LockFileHold() = default;
    LockFileHold(Fd fd, Fd dir, std::string name) : fd_(std::move(fd)), dir_(std::move(dir)), name_(std::move(name)) {}
    LockFileHold(LockFileHold &&) noexcept = default;
    LockFileHold &operator=(LockFileHold &&other) noexcept;
    ~LockFileHold() { Release(); }

    int get() const noexcept { return fd_.get(); }
    explicit operator bool() const noexcept { return static_cast<bool>(fd_); }
    void Release() noexcept;

private:
    Fd fd_;
    Fd dir_;  // the folder that holds the lock file
    std::string name_;
};

// An exclusive lock on a file, held by this object: a second holder (in this process or another)
// is refused at once instead of waiting. The holder's login is written in the file, for the message
// of the login that is refused (a link that another user made at its name is refused: 70, naming it).
class FileLock {
public:
    // Takes the lock on the file `path`; nullptr when someone else holds it, or when this user may not
    // open it at all (another user's file that is not readable by all). Raises 76 when its folder is
    // missing, 70 naming the file when it is missing and this user may not create it, 75 for other
    // failures.
    static std::unique_ptr<FileLock> TryTake(const std::filesystem::path &path);
    // True when someone holds the lock on the file `path` now. Takes nothing and creates nothing. Raises
    // when an existing file cannot be opened to find out: 70 naming a link another user made at its
    // name, else the open's failure naming the file (70 permission denied, ...).
    static bool HeldByAnyone(const std::filesystem::path &path);
    // The login of the process that holds the lock on the file `path`, as the kernel lists it, when that
    // process is seen to have the file open (it may have handed the lock on and ended, or its pid been
    // taken by another process since); empty when that cannot be told (another login's process, seen
    // by a login other than root).
    static std::string HolderOf(const std::filesystem::path &path);
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    explicit FileLock(LockFileHold hold) : hold_(std::move(hold)) {}
    LockFileHold hold_;
};

// Removes the lock files in `folder` whose names end with `extension` and that nobody holds: what
// killed holders left (a release removes the file only while its name still names it).
void RemoveUnheldLockFiles(const std::filesystem::path &folder, std::string_view extension);

// A lock on a folder itself (flock on its descriptor), shared or exclusive, taken without waiting and
// held while the descriptor is open. An invalid Fd with errno set otherwise: EWOULDBLOCK while another
// holder keeps it out, ELOOP at another user's link (the result's refusedLink), the open's failure.
Opened TryLockFolder(const std::filesystem::path &folder, bool shared);

}  // namespace platform
