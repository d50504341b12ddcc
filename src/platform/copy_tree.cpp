// The copier's rules: the files a pass takes, the copy of one file through an AtomicFile, the
// destination made ready and what a failing one is told as (the check of a copy: copy_check.cpp).
#include "platform/copy_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <tuple>

#include "platform/digest.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/paths.h"
#include "platform/safe_file.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

bool IsHidden(const std::string &name) { return !name.empty() && name[0] == '.'; }

bool EndsWithNoCase(std::string_view name, std::string_view end) {
    if (name.size() < end.size()) return false;
    return std::equal(end.begin(), end.end(), name.end() - static_cast<std::ptrdiff_t>(end.size()),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                  std::tolower(static_cast<unsigned char>(b)); });
}

// Whether an open file or folder lies on one of the kernel's own file systems, whose "files" are no
// files to copy (endless, or changing as they are read).
bool OnKernelFileSystem(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC: return true;
    default: return false;
    }
}

[[noreturn]] void ThrowUnreadable(const fs::path &path, int err) {
    throw fs::filesystem_error("cannot read the folder", path, std::error_code(err, std::generic_category()));
}

// The visible names in the folder open as `at`, sorted.
std::vector<std::string> VisibleNames(int at, const fs::path &path) {
    Fd listed(::openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR *entries = listed ? ::fdopendir(listed.get()) : nullptr;
    if (!entries) ThrowUnreadable(path, errno);
    (void)listed.release();  // the listing owns it now
    std::vector<std::string> names;
    errno = 0;
    while (const dirent *entry = ::readdir(entries)) {
        if (!IsHidden(entry->d_name)) names.emplace_back(entry->d_name);
        errno = 0;
    }
    const int err = errno;
    ::closedir(entries);
    if (err) ThrowUnreadable(path, err);
    std::sort(names.begin(), names.end());
    return names;
}

struct FolderId {
    dev_t dev;
    ino_t ino;
    bool operator==(const FolderId &) const = default;
};

class SourceWalk {
public:
    SourceWalk(const fs::path &folder, std::string_view pattern, bool subfolders, const fs::path &destination,
               const CopySource &visit)
        : folder_(folder), pattern_(pattern), subfolders_(subfolders), visit_(visit) {
        struct stat st {};
        if (::stat(destination.c_str(), &st) == 0) destination_ = FolderId{st.st_dev, st.st_ino};
    }

    void Start() {
        const Opened top = OpenFile(folder_, O_RDONLY | O_DIRECTORY);
        if (!top.refusedLink.empty()) return Refuse({}, top.refusedLink);
        if (!top) ThrowUnreadable(folder_, errno);
        Walk({}, top);
    }

private:
    void Walk(const fs::path &relative, const Fd &at) {
        struct stat self {};
        if (::fstat(at.get(), &self) != 0) ThrowUnreadable(folder_ / relative, errno);
        if (OnKernelFileSystem(at.get())) return;
        walking_.push_back({{self.st_dev, self.st_ino}, relative});
        for (const std::string &name : VisibleNames(at.get(), folder_ / relative)) {
            struct stat st {};
            if (::fstatat(at.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
            const bool link = S_ISLNK(st.st_mode);
            if (link && !MayFollowLink(st.st_uid)) {
                Refuse(relative / name, folder_ / relative / name);
                continue;
            }
            if (link && ::fstatat(at.get(), name.c_str(), &st, 0) != 0) continue;  // leads nowhere
            if (IsWorkFile(name) && !S_ISDIR(st.st_mode)) continue;
            if (S_ISDIR(st.st_mode) && subfolders_) {
                Folder(relative / name, at, name);
            } else if (S_ISREG(st.st_mode) && WildcardMatch(pattern_, name)) {
                if (link) {  // it may lead through another user's link, or to a file system of the kernel's
                    const Opened file = OpenFileAt(at.get(), name, O_RDONLY | O_NONBLOCK);
                    if (!file.refusedLink.empty()) {
                        Refuse(relative / name, file.refusedLink);
                        continue;
                    }
                    if (file && OnKernelFileSystem(file.get())) continue;
                }
                if (visit_.database && IsDatabaseName(name))
                    visit_.database(relative / name);
                else
                    visit_.file(relative / name);
            }
        }
        walking_.pop_back();
    }

    // Walks the subfolder `name` of the folder open as `at`, unless it is a folder already on the
    // current path or the destination.
    void Folder(const fs::path &relative, const Fd &at, const std::string &name) {
        const Opened sub = OpenFileAt(at.get(), name, O_RDONLY | O_DIRECTORY);
        if (!sub.refusedLink.empty()) return Refuse(relative, sub.refusedLink);
        if (!sub && (errno == ENOENT || errno == ENOTDIR)) return;  // gone or replaced meanwhile
        if (!sub) ThrowUnreadable(folder_ / relative, errno);
        struct stat st {};
        if (::fstat(sub.get(), &st) != 0) ThrowUnreadable(folder_ / relative, errno);
        const FolderId id{st.st_dev, st.st_ino};
        for (const auto &[open, path] : walking_) {
            if (id == open) {
                if (visit_.skipped) visit_.skipped(relative, &path);
                return;
            }
        }
        if (destination_ && id == *destination_) {
            if (visit_.skipped) visit_.skipped(relative, nullptr);
            return;
        }
        Walk(relative, sub);
    }

    void Refuse(const fs::path &relative, const fs::path &link) {
        if (visit_.refused) visit_.refused(relative, link);
    }

    const fs::path &folder_;
    std::string_view pattern_;
    bool subfolders_;
    std::optional<FolderId> destination_;
    const CopySource &visit_;
    std::vector<std::pair<FolderId, fs::path>> walking_;  // the folders on the current path, relative to folder_
};

// Why a write to `fd` failed: `err`, read as a full disk when the file system has no room left
// whatever the call said (a short write is not always ENOSPC).
int WriteError(int fd, int err) {
    if (err == ENOSPC || err == EDQUOT) return ENOSPC;
    struct statvfs room {};
    if (err != EFBIG && ::fstatvfs(fd, &room) == 0 && (::geteuid() == 0 ? room.f_bfree : room.f_bavail) == 0)
        return ENOSPC;
    return err;
}

constexpr std::uint64_t kStopStep = 16 << 20;  // copied between two looks for a stop signal
constexpr std::size_t kDigestStep = 1 << 20;    // read, digested and written at a time

}  // namespace

bool IsWorkFile(std::string_view name) {
    for (std::string_view end : {".ldb", ".frd", "-journal", "-wal", "-shm", ".pending"})
        if (EndsWithNoCase(name, end)) return true;
    return false;
}

bool IsDatabaseName(std::string_view name) { return EndsWithNoCase(name, ".mdb"); }

void WalkCopySource(const fs::path &folder, std::string_view pattern, bool subfolders, const fs::path &destination,
                    const CopySource &visit) {
    SourceWalk(folder, pattern, subfolders, destination, visit).Start();
}

Opened OpenSourceFile(const fs::path &file) {
    Opened in = OpenFile(file, O_RDONLY | O_NONBLOCK);  // a pipe put there meanwhile must not block the open
    struct stat st {};
    if (in && (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode) || OnKernelFileSystem(in.get()))) {
        in.reset();
        errno = ENODEV;
    }
    return in;
}

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void OnStopSignal(int signal) { stopSignal = signal; }

}  // namespace

void StopCopiesOnSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;  // no SA_RESTART: a read or write that waits returns EINTR
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int StopSignal() { return stopSignal; }

CopyFolder::CopyFolder(const fs::path &folder) : path_(folder) {
    Opened made = MakeFolders(folder, Access::GroupShared);
    if (!made) throw CopyFailure{errno, false, made.refusedLink};
    fd_ = std::move(made);
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) throw CopyFailure{errno, false};
    groupWrite_ = st.st_mode & S_IWGRP;
    group_ = st.st_gid;
}

bool CopyFolder::HoldsAsNew(std::string_view name, const fs::path &source) const {
    struct stat copy {}, original {};
    if (::fstatat(fd_.get(), std::string(name).c_str(), &copy, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(copy.st_mode) ||
        ::stat(source.c_str(), &original) != 0)
        return false;
    return std::tie(copy.st_mtim.tv_sec, copy.st_mtim.tv_nsec) >=
           std::tie(original.st_mtim.tv_sec, original.st_mtim.tv_nsec);
}

bool CopyFolder::Keep(std::string_view name, const fs::path &keep) const {
    const std::string leaf(name);
    struct stat existing {};
    if (::fstatat(fd_.get(), leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(existing.st_mode))
        return false;
    const Opened to = MakeFolders(keep, Access::GroupShared);
    if (!to) throw CopyFailure{errno, false, to.refusedLink};
    if (::renameat2(fd_.get(), leaf.c_str(), to.get(), leaf.c_str(), RENAME_NOREPLACE) != 0)
        throw CopyFailure{errno, false};
    return true;
}

void CopyFolder::Copy(const fs::path &source, std::string_view name) const {
    const Opened in = OpenSourceFile(source);
    if (!in) throw CopyFailure{errno, true, in.refusedLink};
    Copy(in, name);
}

void CopyFolder::Copy(const Fd &in, std::string_view name, Sha256 *digest) const {
    struct stat existing {};
    if (::fstatat(fd_.get(), std::string(name).c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(existing.st_mode) && !(existing.st_mode & S_IWUSR))
        throw CopyFailure{EACCES, false};
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) throw CopyFailure{errno, true};
    (void)::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    if (stopSignal) throw CopyFailure{EINTR, false};
    std::optional<AtomicFile> copy;
    try {
        copy.emplace(fd_.get(), path_ / name, Access::Private, 0600);  // its access once it is whole
    } catch (const std::system_error &e) {
        throw CopyFailure{e.code().value(), false};
    }
    const int out = copy->fd();
    // In steps, so that a stop signal ends the copy of a large file soon.
    if (digest) {
        std::unique_ptr<char[]> buffer(new char[kDigestStep]);
        for (std::int64_t at = 0;; at += kDigestStep) {
            if (stopSignal) throw CopyFailure{EINTR, false};
            const ssize_t got = ReadFully(in.get(), buffer.get(), kDigestStep, at);
            if (got < 0) throw CopyFailure{errno, true};
            if (got == 0) break;
            digest->Update(buffer.get(), static_cast<std::size_t>(got));
            if (const int err = WriteFully(out, buffer.get(), static_cast<std::size_t>(got)))
                throw CopyFailure{WriteError(out, err), false};
        }
    }
    while (!digest) {
        if (stopSignal) throw CopyFailure{EINTR, false};
        const CopyResult copied = CopyBytes(in.get(), out, kStopStep);
        if (copied.err) throw CopyFailure{copied.reading ? copied.err : WriteError(out, copied.err), copied.reading};
        if (copied.copied < kStopStep) break;
    }
    // A file system without Unix permissions (the FAT family of removable media) keeps the mode it
    // gives; the copy made by this process may be refused no other change. The folder's group is
    // refused a user outside it: the copy keeps the user's own then.
    (void)!::fchown(out, static_cast<uid_t>(-1), group_);
    if (::fchmod(out, (st.st_mode & 0555) | S_IWUSR | groupWrite_) != 0 && errno != EPERM && errno != EOPNOTSUPP)
        throw CopyFailure{errno, false};
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    if (::futimens(out, times) != 0) throw CopyFailure{errno, false};
    try {
        copy->CommitUnsynced();
    } catch (const std::system_error &e) {
        throw CopyFailure{e.code().value(), false};
    }
}

bool SyncFileSystem(const fs::path &folder) {
    const Fd at(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return at && ::syncfs(at.get()) == 0;
}

bool LiesWithin(std::string_view path, std::string_view folder) {
    struct stat outer {};
    if (::stat(MapPath(folder).c_str(), &outer) != 0) return false;
    std::error_code ec;
    fs::path at = fs::weakly_canonical(MapPath(path), ec);
    if (ec) return false;
    for (;; at = at.parent_path()) {
        struct stat st {};
        if (::stat(at.c_str(), &st) == 0 && st.st_dev == outer.st_dev && st.st_ino == outer.st_ino) return true;
        if (at == at.parent_path()) return false;
    }
}

void PrepareCopyDestination(std::string_view folder) {
    const fs::path target = MapPath(folder);
    auto fail = [&](int err, const fs::path &path, const fs::path &refusedLink = {}) {
        if (err == ENOTDIR && (path == target || path == target.parent_path()))
            Raise(75, "'" + ShownPath(path) + "' is a file, not a folder");
        if (const std::string trouble = DestinationTrouble(err, path); !trouble.empty())
            Raise(err == EROFS ? 70 : 71, trouble);
        RaiseOsError(err, path, OsContext::Folder, {}, refusedLink);
    };
    if (const Opened above = OpenFolder(target.parent_path()); !above)
        fail(errno, target.parent_path(), above.refusedLink);
    if (const Opened made = MakeFolders(target, Access::GroupShared); !made) fail(errno, target, made.refusedLink);
    try {
        AtomicFile probe(target / "qvutil-probe");  // removed again at once
    } catch (const std::system_error &e) {
        fail(e.code().value(), target);
    }
}

std::string DestinationTrouble(int err, const fs::path &path) {
    switch (err) {
    case ENOTCONN:
    case ENODEV:
    case ENXIO:
    case ENOMEDIUM:
    case ESTALE: return "The destination " + ShownPath(path) + " can no longer be reached; was the disk removed?";
    case EROFS:
        return "The disk that holds " + ShownPath(path) +
               " is read-only (write-protected); nothing can be written on it.";
    case EIO:
        return "The disk that holds " + ShownPath(path) +
               " reported an error while writing; was it removed, or is it failing?";
    default: return {};
    }
}

std::string ForbiddenCharacter(std::string_view text, bool path) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (path && (c == '\\' || (c == ':' && i == 1))) continue;
        if (c < 32) return "a control character";
        if (std::strchr("<>:\"|?*/\\", c)) return std::string("the character ") + static_cast<char>(c);
    }
    return {};
}

}  // namespace platform
