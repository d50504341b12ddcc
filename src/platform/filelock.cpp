// The lock file, taken with flock and created with its folder's access, never through another user's link.
#include "platform/filelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/sysmacros.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/files.h"
#include "platform/os_error.h"

namespace platform {

namespace {

// The owner of a process that holds a flock on the file behind `st`, as the kernel lists it in
// /proc/locks ("1: FLOCK  ADVISORY  WRITE <pid> <major>:<minor>:<inode> 0 EOF", numbers of the device in
// hex); nothing when none is listed (released meanwhile, or held from another pid namespace).
std::optional<uid_t> KernelHolder(const struct stat &st) {
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        fields >> number >> kind;
        if (kind != "FLOCK") continue;  // a waiter ("->"), or another kind of lock
        fields >> mode >> access >> pid >> file;
        struct stat proc {};
        if (file == device && ::stat(("/proc/" + pid).c_str(), &proc) == 0) return proc.st_uid;
    }
    return std::nullopt;
}

bool Refused(int err) { return err == EACCES || err == EPERM; }

// The lock file's folder is what goes missing: 76.
[[noreturn]] void RaiseOpenError(int err, const std::filesystem::path &linuxPath) {
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

LockResult LockAt(int fd, int dir, const std::string &name, int op) {
    // A releasing holder keeps its exclusive lock only from taking it to removing the file.
    constexpr auto kReleaseWait = std::chrono::milliseconds(500);
    const auto until = std::chrono::steady_clock::now() + kReleaseWait;
    for (;;) {
        if (::flock(fd, op | LOCK_NB) == 0) return SameFile(fd, dir, name) ? LockResult::Held : LockResult::Replaced;
        if (errno != EWOULDBLOCK) return LockResult::Failed;
        if (!SameFile(fd, dir, name)) return LockResult::Replaced;
        if (std::chrono::steady_clock::now() >= until) return LockResult::Busy;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

LockFileHold &LockFileHold::operator=(LockFileHold &&other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::move(other.fd_);
        dir_ = std::move(other.dir_);
        name_ = std::move(other.name_);
    }
    return *this;
}

void LockFileHold::Release() noexcept {
    if (!fd_) return;
    // Made exclusive (a shared lock is given up first, as flock converts): it fails while another
    // holder keeps the file. Removed while still locked and only if the name still names it.
    if (dir_ && ::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0 && SameFile(fd_.get(), dir_.get(), name_))
        ::unlinkat(dir_.get(), name_.c_str(), 0);
    fd_.reset();
    dir_.reset();
}

std::unique_ptr<FileLock> FileLock::TryTake(const std::filesystem::path &linuxPath) {
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
        switch (LockAt(fd.get(), dir.get(), name, LOCK_EX)) {
        case LockResult::Held:
            return std::unique_ptr<FileLock>(
                new FileLock(LockFileHold(std::move(fd), std::move(dir), name)));
        case LockResult::Replaced: continue;
        case LockResult::Busy: return nullptr;
        case LockResult::Failed: RaiseOpenError(errno, linuxPath);
        }
    }
}

bool FileLock::HeldByAnyone(const std::filesystem::path &linuxPath) {
    const Fd fd = OpenFile(linuxPath, O_RDONLY | O_NONBLOCK);
    if (!fd) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        RaiseOsError(errno, linuxPath);  // another user's link is named as such
    }
    return ::flock(fd.get(), LOCK_SH | LOCK_NB) != 0;  // closing the descriptor releases the probe's own lock
}

std::string FileLock::HolderOf(const std::filesystem::path &linuxPath) {
    const Fd fd = OpenFile(linuxPath, O_RDONLY | O_NONBLOCK);
    if (!fd) return {};
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return {};
    // The kernel's word, not the file's text: every login of the office may write the file.
    if (const auto holder = KernelHolder(st)) return LoginName(*holder);
    return LoginName(st.st_uid);
}

Fd TryLockFolder(const std::filesystem::path &folder, bool shared) {
    Fd fd = OpenFile(folder, O_RDONLY | O_DIRECTORY);
    if (fd && ::flock(fd.get(), (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        const int err = errno;
        fd.reset();
        errno = err;
    }
    return fd;
}

}  // namespace platform
