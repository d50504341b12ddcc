// Link-safe file access: paths walked one component at a time from an open folder, links followed
// only when the running user or root made them, shared access given on descriptors, whole files
// written under locked temporaries.
#include "platform/safe_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <random>
#include <system_error>
#include <utility>

#include "platform/error.h"
#include "platform/file_io.h"

namespace platform {

namespace fs = std::filesystem;

Fd &Fd::operator=(Fd &&other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

Fd::~Fd() { reset(); }

int Fd::release() noexcept { return std::exchange(fd_, -1); }

void Fd::reset(int fd) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

namespace {

constexpr int kMaxLinks = 40;  // the kernel's own limit on links in one lookup
constexpr const char *kTemporarySuffix = ".qvtmp";

bool MayFollow(const struct stat &link) { return MayFollowLink(link.st_uid); }

// One lookup: the folder reached so far and the components still to walk.
class Walk {
public:
    // Starts at the root for an absolute path, else at `base` (AT_FDCWD: the current folder).
    bool Start(const fs::path &path, int base = AT_FDCWD) {
        const std::string &text = path.native();
        if (text.empty()) {
            errno = ENOENT;
            return false;
        }
        Push(text);
        if (text.front() == '/') return Root();
        dir_.reset(base == AT_FDCWD ? ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)
                                    : ::fcntl(base, F_DUPFD_CLOEXEC, 0));
        std::error_code ec;
        walked_ = base == AT_FDCWD ? fs::current_path(ec)
                                   : fs::read_symlink("/proc/self/fd/" + std::to_string(base), ec);
        return static_cast<bool>(dir_);
    }

    // Walks every component but the last.
    bool ToParent() {
        while (parts_.size() > 1)
            if (!Step()) return false;
        return true;
    }

    // Walks every component.
    bool ToEnd() {
        while (!parts_.empty())
            if (!Step()) return false;
        return true;
    }

    // The last component ("." when the path named a folder such as "/").
    std::string Last() const { return parts_.empty() ? std::string(".") : parts_.front(); }
    int Dir() const { return dir_.get(); }
    Fd TakeDir() { return std::move(dir_); }
    // A failed open's result, naming the link of another user the lookup stopped at (errno kept).
    Opened Failed() const {
        const int err = errno;
        Opened failed;
        failed.refusedLink = refused_;
        errno = err;
        return failed;
    }

    // The last component turned out to be a link (after an open without following failed): follows
    // it when the rule allows. False with errno set otherwise, or when it is no link (`err` kept).
    bool FollowLast(int err) {
        const std::string name = Last();
        Fd link(::openat(dir_.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (!link || ::fstat(link.get(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            errno = err;
            return false;
        }
        parts_.pop_front();
        return Follow(link, st, name);
    }

    // Steps into the next component, a folder or a link that may be followed.
    bool Step() {
        const std::string name = parts_.front();
        parts_.pop_front();
        if (name == "..") {
            Fd up(::openat(dir_.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!up) return false;
            dir_ = std::move(up);
            walked_ = walked_.parent_path();
            return true;
        }
        Fd next(::openat(dir_.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (!next || ::fstat(next.get(), &st) != 0) return false;
        if (S_ISLNK(st.st_mode)) return Follow(next, st, name);
        if (!S_ISDIR(st.st_mode)) {
            errno = ENOTDIR;
            return false;
        }
        dir_ = std::move(next);
        walked_ /= name;
        return true;
    }

private:
    bool Root() {
        dir_.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        walked_ = "/";
        return static_cast<bool>(dir_);
    }

    // Puts the components of `text` before those still to walk.
    void Push(const std::string &text) {
        std::deque<std::string> add;
        std::size_t from = 0;
        while (from <= text.size()) {
            std::size_t to = text.find('/', from);
            if (to == std::string::npos) to = text.size();
            if (to > from && text.compare(from, to - from, ".") != 0) add.emplace_back(text, from, to - from);
            from = to + 1;
        }
        parts_.insert(parts_.begin(), add.begin(), add.end());
    }

    bool Follow(const Fd &link, const struct stat &st, const std::string &name) {
        if (!MayFollow(st)) {
            refused_ = walked_ / name;
            errno = ELOOP;
            return false;
        }
        if (++links_ > kMaxLinks) {
            errno = ELOOP;
            return false;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlinkat(link.get(), "", target.data(), target.size());
        if (n < 0) return false;
        if (static_cast<std::size_t>(n) >= target.size()) {
            errno = ENAMETOOLONG;
            return false;
        }
        target.resize(static_cast<std::size_t>(n));
        Push(target);
        return target.front() == '/' ? Root() : true;
    }

    Fd dir_;
    fs::path walked_;  // the folder dir_ is, as reached (for naming a refused link)
    fs::path refused_;  // the link of another user the lookup stopped at
    std::deque<std::string> parts_;
    int links_ = 0;
};

// openat of one name that follows no link; a file it creates for Access::LikeFolder (or GroupShared)
// takes the folder's access.
Fd OpenOne(int dir, const std::string &name, int flags, unsigned mode, Access access) {
    flags |= O_CLOEXEC | O_NOFOLLOW;
    if (access != Access::Private && (flags & O_CREAT)) {
        for (int attempt = 0; attempt < 8; ++attempt) {
            Fd made(::openat(dir, name.c_str(), flags | O_EXCL, 0600));
            if (made) {
                GiveAccess(made.get(), dir, false, access);
                return made;
            }
            if (errno != EEXIST || (flags & O_EXCL)) return {};
            Fd existing(::openat(dir, name.c_str(), flags & ~O_CREAT));
            if (existing || errno != ENOENT) return existing;  // else removed meanwhile: create it
        }
        return {};
    }
    return Fd(::openat(dir, name.c_str(), flags, mode));
}

Opened OpenThrough(Walk &walk, int flags, unsigned mode, Access access) {
    for (;;) {
        if (!walk.ToParent()) return walk.Failed();
        Fd fd = OpenOne(walk.Dir(), walk.Last(), flags, mode, access);
        if (fd) return fd;
        const int err = errno;
        // A link at the name fails with ELOOP, ENOTDIR (a folder was asked for) or, when the open
        // would create in a sticky folder, EACCES.
        if (err != ELOOP && err != ENOTDIR && err != EACCES) return walk.Failed();
        if (!walk.FollowLast(err)) return walk.Failed();
    }
}

[[noreturn]] void Throw(int err, const fs::path &path) {
    throw std::system_error(err, std::generic_category(), path.string());
}

// Whether `name` is a temporary of AtomicFile: "." + target + "." + 16 hex digits + kTemporarySuffix.
bool IsTemporaryName(std::string_view name) {
    const std::string_view suffix = kTemporarySuffix;
    if (name.size() < 1 + 1 + 16 + suffix.size() || name.front() != '.' ||
        name.substr(name.size() - suffix.size()) != suffix)
        return false;
    const std::string_view hex = name.substr(name.size() - suffix.size() - 16, 16);
    return name[name.size() - suffix.size() - 17] == '.' &&
           hex.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace

Opened OpenFile(const fs::path &path, int flags, unsigned mode, Access access) {
    Walk walk;
    if (!walk.Start(path)) return walk.Failed();
    return OpenThrough(walk, flags, mode, access);
}

Opened OpenFileAt(int dirfd, std::string_view name, int flags, unsigned mode, Access access) {
    Walk walk;
    if (!walk.Start(fs::path(name), dirfd)) return walk.Failed();
    return OpenThrough(walk, flags, mode, access);
}

Opened OpenParent(const fs::path &path, std::string &name) {
    Walk walk;
    if (!walk.Start(path) || !walk.ToParent()) return walk.Failed();
    name = walk.Last();
    return walk.TakeDir();
}

Opened OpenFolder(const fs::path &folder) {
    Walk walk;
    if (!walk.Start(folder) || !walk.ToEnd()) return walk.Failed();
    return walk.TakeDir();
}

Opened MakeFolders(const fs::path &folder, Access access) {
    Walk walk;
    if (!walk.Start(folder)) return walk.Failed();
    for (;;) {
        const std::string name = walk.Last();
        if (name == ".") return walk.TakeDir();
        if (name != "..") {
            if (::mkdirat(walk.Dir(), name.c_str(), access != Access::Private ? 0700 : 0777) == 0) {
                Fd made(::openat(walk.Dir(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                if (made) GiveAccess(made.get(), walk.Dir(), true, access);
            } else if (errno != EEXIST) {
                return walk.Failed();
            }
        }
        if (!walk.Step()) return walk.Failed();
    }
}

bool RemoveFile(const fs::path &path) {
    std::string name;
    const Fd dir = OpenParent(path, name);
    if (!dir) return errno == ENOENT;
    return ::unlinkat(dir.get(), name.c_str(), 0) == 0 || errno == ENOENT;
}

void GiveAccess(int fd, int dirfd, bool isFolder, Access access) {
    if (access == Access::Private) return;
    struct stat folder {};
    if (::fstat(dirfd, &folder) != 0) return;
    mode_t mode = (isFolder ? 0777 : 0666) & ~(~folder.st_mode & 0222);
    if (access == Access::GroupShared) mode &= ~S_IWOTH;
    if (isFolder) mode |= folder.st_mode & S_ISGID;  // a folder that gives its group on keeps doing so
    // Refused unless the user is in the folder's group: the file keeps the user's own group, and then
    // Office leaves others their read access, as the folder's group is not the file's.
    const bool grouped = ::fchown(fd, static_cast<uid_t>(-1), folder.st_gid) == 0;
    if (access == Access::Office && grouped && !(folder.st_mode & S_IWOTH)) mode &= ~S_IRWXO;
    (void)::fchmod(fd, mode);
}

std::vector<std::string> FolderNames(int dirfd) {
    std::vector<std::string> names;
    Fd listed(::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR *entries = listed ? ::fdopendir(listed.get()) : nullptr;
    if (!entries) return names;
    listed.release();  // closed with the listing
    while (const dirent *entry = ::readdir(entries))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.emplace_back(entry->d_name);
    ::closedir(entries);
    return names;
}

bool MayFollowLink(unsigned owner) { return owner == ::geteuid() || owner == 0; }

void SyncFolderOf(const fs::path &file, OsContext context) {
    std::string name;
    const Opened folder = OpenParent(file, name);
    const int err = folder ? SyncFolder(folder.get()) : errno;
    if (err) RaiseOsError(err, file, context, "sync the folder of", folder.refusedLink);
}

AtomicFile::AtomicFile(const fs::path &target, Access access, unsigned mode) : target_(target) {
    Opened folder = OpenParent(target, name_);
    if (!folder && !folder.refusedLink.empty()) throw RefusedLinkError(folder.refusedLink);
    if (!folder) Throw(errno, target);
    folder_ = std::move(folder);
    Create(access, mode);
}

AtomicFile::AtomicFile(int dirfd, const fs::path &target, Access access, unsigned mode)
    : target_(target), name_(target.filename().string()) {
    folder_.reset(::fcntl(dirfd, F_DUPFD_CLOEXEC, 0));
    if (!folder_) Throw(errno, target);
    Create(access, mode);
}

void AtomicFile::Create(Access access, unsigned mode) {
    if (name_.empty() || name_ == "." || name_ == "..") Throw(EISDIR, target_);
    thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; !file_; ++attempt) {
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
        temporary_ = "." + name_.substr(0, 200) + "." + suffix + kTemporarySuffix;
        file_.reset(::openat(folder_.get(), temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             access == Access::Private ? mode : 0600));
        if (!file_ && (errno != EEXIST || attempt == 8)) {
            const int err = errno;
            temporary_.clear();
            Throw(err, target_);
        }
    }
    (void)::flock(file_.get(), LOCK_EX);  // a temporary being written is not stale
    GiveAccess(file_.get(), folder_.get(), false, access);
}

AtomicFile::~AtomicFile() {
    if (!temporary_.empty()) (void)::unlinkat(folder_.get(), temporary_.c_str(), 0);
}

void AtomicFile::Write(const void *data, std::size_t size) {
    if (const int err = WriteFully(file_.get(), data, size)) Throw(err, target_);
}

void AtomicFile::Commit() {
    if (::fdatasync(file_.get()) != 0) Throw(errno, target_);
    if (::renameat(folder_.get(), temporary_.c_str(), folder_.get(), name_.c_str()) != 0) Throw(errno, target_);
    temporary_.clear();
    const int err = SyncFolder(folder_.get());
    if (err && err != EACCES) Throw(err, target_);  // a folder that may be written but not read is not synced
}

void AtomicFile::CommitUnsynced() {
    if (::renameat(folder_.get(), temporary_.c_str(), folder_.get(), name_.c_str()) != 0) Throw(errno, target_);
    temporary_.clear();
}

bool AtomicFile::CommitAsNew(std::string_view name) {
    const std::string to(name);
    if (::renameat2(folder_.get(), temporary_.c_str(), folder_.get(), to.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) return false;
        if (errno != EINVAL && errno != ENOSYS) Throw(errno, target_.parent_path() / to);
        // A file system without RENAME_NOREPLACE: a hard link never replaces either.
        if (::linkat(folder_.get(), temporary_.c_str(), folder_.get(), to.c_str(), 0) != 0) {
            if (errno == EEXIST) return false;
            Throw(errno, target_.parent_path() / to);
        }
        (void)::unlinkat(folder_.get(), temporary_.c_str(), 0);
    }
    temporary_.clear();
    return true;
}

std::vector<std::string> RemoveStaleTemporaries(const fs::path &folder, int minimumAgeSeconds,
                                                const std::function<bool(std::string_view target)> &of) {
    std::vector<std::string> removed;
    const Fd at = OpenFolder(folder);
    if (!at) return removed;
    const std::time_t now = std::time(nullptr);
    for (const std::string &name : FolderNames(at.get())) {
        if (!IsTemporaryName(name) ||
            (of && !of(std::string_view(name).substr(1, name.size() - 18 - std::strlen(kTemporarySuffix)))))
            continue;
        const Fd file(::openat(at.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        // A writer locks its temporary right after creating it: one only seconds old may be in between.
        if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || now - st.st_mtime < minimumAgeSeconds) continue;
        if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0 && ::unlinkat(at.get(), name.c_str(), 0) == 0)
            removed.push_back(name);
    }
    return removed;
}

}  // namespace platform
