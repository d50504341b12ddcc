// The lock file, taken with flock and created with its folder's access, never through another user's link.
#include "platform/filelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/os_error.h"
#include "platform/paths.h"

namespace platform {

namespace {

bool Refused(int err) { return err == EACCES || err == EPERM; }

// The lock file's folder is what goes missing: 76.
[[noreturn]] void RaiseOpenError(int err, const std::string &linuxPath) {
    RaiseOsError(err, linuxPath, OsContext::Folder);
}

// True when `fd` is still the file `name` in `dir` (the last holder may have removed it in between).
bool SameFile(int fd, int dir, const std::string &name) {
    struct stat a {}, b {};
    return fstat(fd, &a) == 0 && fstatat(dir, name.c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// Opens the lock file, creating it with the access of its folder, so that every user who may use the
// folder can take the lock after us. A file left by another user that we may only read serves as
// well: flock needs no write access. A link another user made at the name is never followed.
// `uncreatable`: the file is missing and the folder refuses to create it (errno tells why).
Fd OpenLockFile(int dir, const std::string &name, bool &uncreatable) {
    uncreatable = false;
    Fd fd = OpenFileAt(dir, name, O_RDWR | O_CREAT, 0666, Access::LikeFolder);
    if (!fd && (Refused(errno) || errno == EROFS)) {
        const int denied = errno;
        fd = OpenFileAt(dir, name, O_RDONLY);
        if (!fd && errno == ENOENT) {
            uncreatable = true;
            errno = denied;
        }
    }
    return fd;
}

}  // namespace

std::unique_ptr<FileLock> FileLock::TryTake(std::string_view windowsPath) {
    return TryTakeAt(MapPath(windowsPath).string(), windowsPath);
}

std::unique_ptr<FileLock> FileLock::TryTakeFile(const std::filesystem::path &linuxPath) {
    return TryTakeAt(linuxPath.string(), linuxPath.string());
}

std::unique_ptr<FileLock> FileLock::TryTakeAt(const std::string &linuxPath, std::string_view shownPath) {
    std::string name;
    Fd dir = OpenParent(linuxPath, name);
    if (!dir) RaiseOpenError(errno, linuxPath);
    for (;;) {
        bool uncreatable = false;
        Fd fd = OpenLockFile(dir.get(), name, uncreatable);
        if (!fd) {
            // Nobody holds a lock that is not there: this user may not create it (70, naming it).
            if (uncreatable) RaiseOsError(errno, linuxPath);
            // A file that this user may not open at all is held by someone this user cannot share with.
            if (Refused(errno)) return nullptr;
            RaiseOpenError(errno, linuxPath);
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) return nullptr;
            RaiseOpenError(errno, linuxPath);
        }
        if (SameFile(fd.get(), dir.get(), name))
            return std::unique_ptr<FileLock>(
                new FileLock(std::move(fd), std::move(dir), std::move(name), std::string(shownPath)));
        // locked a file that was removed meanwhile: try the new one
    }
}

bool FileLock::HeldByAnyone(std::string_view windowsPath) {
    const std::string linuxPath = MapPath(windowsPath).string();
    const Fd fd = OpenFile(linuxPath, O_RDONLY | O_NONBLOCK);
    if (!fd) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        RaiseOsError(errno, linuxPath);  // another user's link is named as such
    }
    return ::flock(fd.get(), LOCK_SH | LOCK_NB) != 0;  // closing the descriptor releases the probe's own lock
}

FileLock::FileLock(Fd fd, Fd dir, std::string name, std::string windowsPath)
    : fd_(std::move(fd)), dir_(std::move(dir)), name_(std::move(name)), path_(std::move(windowsPath)) {}

FileLock::~FileLock() {
    // Removed while still locked, so nobody takes a file that is going away; only if it is still ours.
    if (SameFile(fd_.get(), dir_.get(), name_)) ::unlinkat(dir_.get(), name_.c_str(), 0);
}

}  // namespace platform
