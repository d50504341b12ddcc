// The lock file, taken with flock and created with its folder's access, never through another user's link.
#include "platform/filelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/files.h"
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
        switch (LockAt(fd.get(), dir.get(), name, LOCK_EX)) {
        case LockResult::Held: {
            // The holder's login, for the message of a login that is refused (a file this login may
            // only read keeps what it holds).
            const std::string login = UserName() + "\n";
            if (::ftruncate(fd.get(), 0) == 0) (void)!::pwrite(fd.get(), login.data(), login.size(), 0);
            return std::unique_ptr<FileLock>(
                new FileLock(LockFileHold(std::move(fd), std::move(dir), name), std::string(shownPath)));
        }
        case LockResult::Replaced: continue;
        case LockResult::Busy: return nullptr;
        case LockResult::Failed: RaiseOpenError(errno, linuxPath);
        }
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

std::string FileLock::HolderOf(std::string_view windowsPath) {
    const Fd fd = OpenFile(MapPath(windowsPath), O_RDONLY | O_NONBLOCK);
    if (!fd) return {};
    char text[64] = {};
    const ssize_t n = ::pread(fd.get(), text, sizeof text - 1, 0);
    std::string login(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    login = login.substr(0, login.find('\n'));
    // Only a login name is taken from the file: any other text was not written by a holder.
    const bool name = !login.empty() && login.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                                 "0123456789._-$") == std::string::npos;
    if (name) return login;
    struct stat st {};
    return ::fstat(fd.get(), &st) == 0 ? LoginName(st.st_uid) : std::string();
}

}  // namespace platform
