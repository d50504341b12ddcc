// The lock file, taken with flock and created whole with its folder's group and access (none for logins outside
// that group), never through another user's link; one held only from outside that group is replaced.
#include "platform/filelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/logins.h"
#include "platform/os_error.h"

namespace platform {
namespace fs = std::filesystem;

namespace {

// The pids that /proc/locks lists as holding an flock on the file behind `st` ("1: FLOCK  ADVISORY  WRITE
// <pid> <major>:<minor>:<inode> 0 EOF", numbers of the device in hex): the pid that took each lock,
// which may have handed its descriptor on and ended, or whose pid a new process may have taken since;
// none for a lock held from another pid namespace.
std::vector<pid_t> KernelHolders(const struct stat &st) {
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    std::vector<pid_t> pids;
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, file;
        long pid = 0;
        fields >> number >> kind;
        if (kind != "FLOCK") continue;  // a waiter ("->"), or another kind of lock
        if (fields >> mode >> access >> pid >> file && file == device && pid > 0) pids.push_back(static_cast<pid_t>(pid));
    }
    return pids;
}

// Whether the process `pid` has the file behind `st` open: nothing when its descriptors cannot be seen
// (a process of another login, seen by a login other than root).
std::optional<bool> HasOpen(pid_t pid, const struct stat &st) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ec;
    fs::directory_iterator it(fds, ec);
    if (ec) return ec == std::errc::no_such_file_or_directory ? std::optional<bool>(false) : std::nullopt;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        struct stat open {};
        if (::stat(it->path().c_str(), &open) == 0 && open.st_dev == st.st_dev && open.st_ino == st.st_ino) return true;
    }
    return false;
}

// The effective user of the process `pid` and its groups, from /proc/<pid>/status; nothing once it has ended.
struct Credentials {
    uid_t uid = 0;
    std::vector<gid_t> groups;  // the effective group first
};
std::optional<Credentials> CredentialsOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    Credentials c;
    bool uid = false, gid = false;
    for (std::string line; std::getline(status, line);) {
        std::istringstream fields(line.substr(line.find(':') + 1));
        unsigned long real = 0, effective = 0, group = 0;
        if (line.starts_with("Uid:") && (uid = static_cast<bool>(fields >> real >> effective))) c.uid = effective;
        if (line.starts_with("Gid:") && (gid = static_cast<bool>(fields >> real >> effective)))
            c.groups.insert(c.groups.begin(), effective);
        if (line.starts_with("Groups:"))
            while (fields >> group) c.groups.push_back(group);
    }
    if (!uid || !gid) return std::nullopt;
    return c;
}

// The processes known to hold the flock on the file behind `st` now: listed by the kernel and seen to
// have the file open. A process whose descriptors cannot be seen is taken at the kernel's word only when
// `unseen` says so.
std::vector<Credentials> KnownHolders(const struct stat &st, bool unseen) {
    std::vector<Credentials> holders;
    for (const pid_t pid : KernelHolders(st)) {
        const std::optional<bool> open = HasOpen(pid, st);
        if (open == false || (!open && !unseen)) continue;
        if (auto c = CredentialsOf(pid)) holders.push_back(std::move(*c));
    }
    return holders;
}

// Whether a login outside the office of the folder behind `folder` (its owner, its group, root) holds
// the lock file `fd` and none of the office may: a file that such a login may open at all (left by an
// earlier version, or given others' access by a folder whose group its creator was not in) and no
// holder of the office among the processes that may hold it.
bool HeldFromOutside(int fd, const struct stat &folder) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || (folder.st_mode & S_IWOTH)) return false;  // others are of the office
    if (st.st_gid == folder.st_gid && !(st.st_mode & S_IRWXO)) return false;  // only the office opens it
    for (const Credentials &c : KnownHolders(st, true))
        if (c.uid == 0 || c.uid == folder.st_uid || std::find(c.groups.begin(), c.groups.end(), folder.st_gid) != c.groups.end())
            return false;
    return true;
}

bool Refused(int err) { return err == EACCES || err == EPERM; }

// The lock file's folder is what goes missing: 76.
[[noreturn]] void RaiseOpenError(int err, const fs::path &linuxPath, const fs::path &refusedLink = {}) {
    RaiseOsError(err, linuxPath, OsContext::Folder, {}, refusedLink);
}

// True when `fd` is still the file `name` in `dir` (the last holder may have removed it in between).
bool SameFile(int fd, int dir, const std::string &name) {
    struct stat a {}, b {};
    return fstat(fd, &a) == 0 && fstatat(dir, name.c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// Creates the lock file `name` whole: a file without a name (or, where the file system has none, under a
// hidden name) takes its group and access first and is then linked at `name`, so no other login ever
// opens it before its access is given. EEXIST when someone made it meanwhile.
Fd CreateWhole(int dir, const std::string &name) {
    Fd made(::openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    std::string hidden;
    if (!made && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        thread_local std::mt19937_64 random{std::random_device{}()};
        hidden = "." + name + "." + std::to_string(random()) + ".new";
        made.reset(::openat(dir, hidden.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    }
    if (!made) return {};
    GiveAccess(made.get(), dir, false, Access::Office);
    const std::string self = "/proc/self/fd/" + std::to_string(made.get());
    const int linked = hidden.empty() ? ::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW)
                                      : ::linkat(dir, hidden.c_str(), dir, name.c_str(), 0);
    const int err = errno;
    if (!hidden.empty()) ::unlinkat(dir, hidden.c_str(), 0);
    if (linked != 0) {
        errno = err;
        return {};
    }
    return made;
}

}  // namespace

Opened OpenLockFile(int dir, const std::string &name, bool &uncreatable) {
    uncreatable = false;
    for (int attempt = 0; attempt < 8; ++attempt) {
        Opened fd = OpenFileAt(dir, name, O_RDWR);
        // A file left by another user that we may only read serves as well: flock needs no write access.
        if (!fd && (Refused(errno) || errno == EROFS)) fd = OpenFileAt(dir, name, O_RDONLY);
        if (fd || errno != ENOENT) return fd;
        fd = CreateWhole(dir, name);
        if (fd || errno != EEXIST) {
            uncreatable = !fd && (Refused(errno) || errno == EROFS);
            return fd;
        }
    }
    return {};  // made and removed again every time: EEXIST
}

LockResult LockAt(int fd, int dir, const std::string &name, int op) {
    // A releasing holder keeps its exclusive lock only from taking it to removing the file.
    constexpr auto kReleaseWait = std::chrono::milliseconds(500);
    const auto until = std::chrono::steady_clock::now() + kReleaseWait;
    for (;;) {
        if (::flock(fd, op | LOCK_NB) == 0) return SameFile(fd, dir, name) ? LockResult::Held : LockResult::Replaced;
        if (errno != EWOULDBLOCK) return LockResult::Failed;
        if (!SameFile(fd, dir, name)) return LockResult::Replaced;
        if (std::chrono::steady_clock::now() >= until) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // A holder outside the office gives its file up: a new one is made at the name.
    struct stat folder {};
    if (::fstat(dir, &folder) == 0 && HeldFromOutside(fd, folder) && SameFile(fd, dir, name) &&
        ::unlinkat(dir, name.c_str(), 0) == 0)
        return LockResult::Replaced;
    return LockResult::Busy;
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
    Opened dir = OpenParent(linuxPath, name);
    if (!dir) RaiseOpenError(errno, linuxPath, dir.refusedLink);
    for (;;) {
        bool uncreatable = false;
        Opened fd = OpenLockFile(dir.get(), name, uncreatable);
        if (!fd) {
            // Nobody holds a lock that is not there: this user may not create it (70, naming it).
            if (uncreatable) RaiseOsError(errno, linuxPath);
            // A file that this user may not open at all is held by someone this user cannot share with.
            if (Refused(errno)) return nullptr;
            RaiseOpenError(errno, linuxPath, fd.refusedLink);
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
    const Opened fd = OpenFile(linuxPath, O_RDONLY | O_NONBLOCK);
    if (!fd) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        RaiseOsError(errno, linuxPath, OsContext::File, {}, fd.refusedLink);  // another user's link is named as such
    }
    return ::flock(fd.get(), LOCK_SH | LOCK_NB) != 0;  // closing the descriptor releases the probe's own lock
}

std::string FileLock::HolderOf(const fs::path &linuxPath) {
    std::string name;
    const Fd dir = OpenParent(linuxPath, name);
    struct stat st {};
    if (!dir || ::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
    // The kernel's word, not the file's text, and only for a process seen to have the file open.
    const std::vector<Credentials> holders = KnownHolders(st, false);
    return holders.empty() ? std::string() : LoginName(holders.front().uid);
}

void RemoveUnheldLockFiles(const fs::path &folder, std::string_view extension) {
    const Fd dir = OpenFolder(folder);
    if (!dir) return;
    for (const std::string &name : FolderNames(dir.get())) {
        if (!name.ends_with(extension)) continue;
        Fd fd = OpenFileAt(dir.get(), name, O_RDONLY | O_NONBLOCK);
        if (fd && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
            LockFileHold(std::move(fd), Fd(::fcntl(dir.get(), F_DUPFD_CLOEXEC, 0)), name).Release();
    }
}

Opened TryLockFolder(const std::filesystem::path &folder, bool shared) {
    Opened fd = OpenFile(folder, O_RDONLY | O_DIRECTORY);
    if (fd && ::flock(fd.get(), (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        const int err = errno;
        fd.reset();
        errno = err;
    }
    return fd;
}

}  // namespace platform
