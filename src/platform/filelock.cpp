#include "platform/filelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/paths.h"

namespace platform {

namespace {

bool Refused(int err) { return err == EACCES || err == EPERM; }

[[noreturn]] void RaiseOpenError(int err) {
    if (err == ENOENT || err == ENOTDIR) Raise(76);
    Raise(err == EROFS ? 70 : 75);
}

// True when `fd` is still the file named `path` (the last holder may have removed it in between).
bool SameFile(int fd, const std::string &path) {
    struct stat a {}, b {};
    return fstat(fd, &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens the lock file, creating it readable and writable by everyone whatever the umask, so that
// every user who may use the folder can take the lock after us. A file left by another user that
// we may only read serves as well: flock needs no write access. -1 with errno set on failure.
int OpenLockFile(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 && (Refused(errno) || errno == EROFS)) {
        const int denied = errno;
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) errno = denied;  // missing, and the folder refuses to create it
    }
    if (fd >= 0) (void)::fchmod(fd, 0666);  // refused for another user's file, which is left as it is
    return fd;
}

}  // namespace

std::unique_ptr<FileLock> FileLock::TryTake(std::string_view windowsPath) {
    const std::string linuxPath = MapPath(windowsPath).string();
    for (;;) {
        const int fd = OpenLockFile(linuxPath);
        if (fd < 0) {
            // A file that this user may not open at all is held by someone this user cannot share with.
            if (Refused(errno)) return nullptr;
            RaiseOpenError(errno);
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            if (err == EWOULDBLOCK) return nullptr;
            RaiseOpenError(err);
        }
        if (SameFile(fd, linuxPath))
            return std::unique_ptr<FileLock>(new FileLock(fd, linuxPath, std::string(windowsPath)));
        ::close(fd);  // locked a file that was removed meanwhile: try the new one
    }
}

bool FileLock::HeldByAnyone(std::string_view windowsPath) {
    const std::string linuxPath = MapPath(windowsPath).string();
    const int fd = ::open(linuxPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno != ENOENT && errno != ENOTDIR;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);  // releases the probe's own lock
    return held;
}

FileLock::FileLock(int fd, std::string linuxPath, std::string windowsPath)
    : fd_(fd), linuxPath_(std::move(linuxPath)), path_(std::move(windowsPath)) {}

FileLock::~FileLock() {
    ::unlink(linuxPath_.c_str());  // while still locked, so nobody takes a file that is going away
    ::close(fd_);
}

}  // namespace platform
