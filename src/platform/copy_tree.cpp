#include "platform/copy_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <tuple>

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

class SourceWalk {
public:
    SourceWalk(const fs::path &folder, std::string_view pattern, bool subfolders, const fs::path &destination,
               const CopySource &visit)
        : folder_(folder), pattern_(pattern), subfolders_(subfolders), destination_(destination), visit_(visit) {}

    void Walk(const fs::path &relative) {
        std::vector<fs::directory_entry> entries;
        for (const auto &entry : fs::directory_iterator(folder_ / relative)) entries.push_back(entry);
        std::sort(entries.begin(), entries.end(),
                  [](const auto &a, const auto &b) { return a.path().filename() < b.path().filename(); });
        walking_.push_back(relative);
        for (const auto &entry : entries) {
            const std::string name = entry.path().filename().string();
            if (IsHidden(name)) continue;
            std::error_code ec;
            if (entry.is_directory(ec)) {
                if (!subfolders_) continue;
                if (const fs::path *ancestor = Ancestor(entry.path()); ancestor || LeadsIntoDestination(entry.path())) {
                    if (visit_.skipped) visit_.skipped(relative / name, ancestor);
                } else {
                    Walk(relative / name);
                }
            } else if (entry.is_regular_file(ec) && WildcardMatch(pattern_, name)) {
                visit_.file(relative / name);
            }
        }
        walking_.pop_back();
    }

private:
    // The folder on the current path that `folder` is (by device and inode), if any.
    const fs::path *Ancestor(const fs::path &folder) const {
        std::error_code ec;
        for (const fs::path &open : walking_)
            if (fs::equivalent(folder, folder_ / open, ec)) return &open;
        return nullptr;
    }
    bool LeadsIntoDestination(const fs::path &folder) const {
        std::error_code ec;
        return fs::equivalent(folder, destination_, ec);
    }

    const fs::path &folder_;
    std::string_view pattern_;
    bool subfolders_;
    const fs::path &destination_;
    const CopySource &visit_;
    std::vector<fs::path> walking_;  // the folders on the current path, relative to folder_
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

constexpr std::size_t kChunk = 1 << 20;

std::string WindowsRelative(const fs::path &relative) {
    std::string text = relative.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

}  // namespace

void WalkCopySource(const fs::path &folder, std::string_view pattern, bool subfolders, const fs::path &destination,
                    const CopySource &visit) {
    SourceWalk(folder, pattern, subfolders, destination, visit).Walk({});
}

CopyFolder::CopyFolder(const fs::path &folder) : path_(folder) {
    if (!MakeFolders(folder)) throw CopyFailure{errno, false};
    fd_ = OpenFolder(folder);
    if (!fd_) throw CopyFailure{errno, false};
}

bool CopyFolder::HoldsAsNew(std::string_view name, const fs::path &source) const {
    struct stat copy {}, original {};
    if (::fstatat(fd_.get(), std::string(name).c_str(), &copy, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(copy.st_mode) ||
        ::stat(source.c_str(), &original) != 0)
        return false;
    return std::tie(copy.st_mtim.tv_sec, copy.st_mtim.tv_nsec) >=
           std::tie(original.st_mtim.tv_sec, original.st_mtim.tv_nsec);
}

void CopyFolder::Copy(const fs::path &source, std::string_view name) const {
    struct stat existing {};
    if (::fstatat(fd_.get(), std::string(name).c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(existing.st_mode) && !(existing.st_mode & S_IWUSR))
        throw CopyFailure{EACCES, false};
    const Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!in || ::fstat(in.get(), &st) != 0) throw CopyFailure{errno, true};
    (void)::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    std::optional<AtomicFile> copy;
    try {
        copy.emplace(fd_.get(), path_ / name);
    } catch (const std::system_error &e) {
        throw CopyFailure{e.code().value(), false};
    }
    const int out = copy->fd();
    const CopyResult copied = CopyBytes(in.get(), out);
    if (copied.err) throw CopyFailure{copied.reading ? copied.err : WriteError(out, copied.err), copied.reading};
    // A file system without Unix permissions (the FAT family of removable media) keeps the mode it
    // gives; the copy made by this process may be refused no other change.
    if (::fchmod(out, (st.st_mode & 0777) | S_IWUSR) != 0 && errno != EPERM && errno != EOPNOTSUPP)
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

namespace {

enum class CopyState { Same, Missing, Differs, Unreadable };

// Compares the copy open as `b` with the source open as `a`, size then every byte.
CopyState Compare(const Fd &a, const Fd &b) {
    struct stat sa {}, sb {};
    if (::fstat(a.get(), &sa) != 0 || ::fstat(b.get(), &sb) != 0) return CopyState::Unreadable;
    if (!S_ISREG(sb.st_mode)) return CopyState::Missing;
    if (sa.st_size != sb.st_size) return CopyState::Differs;
    for (int fd : {a.get(), b.get()}) (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::unique_ptr<char[]> ba(new char[kChunk]), bb(new char[kChunk]);
    for (;;) {
        const ssize_t na = ReadFully(a.get(), ba.get(), kChunk), nb = ReadFully(b.get(), bb.get(), kChunk);
        if (na < 0 || nb < 0) return CopyState::Unreadable;
        if (na != nb || std::memcmp(ba.get(), bb.get(), static_cast<std::size_t>(na)) != 0) return CopyState::Differs;
        if (na == 0) return CopyState::Same;
    }
}

}  // namespace

TreeCheck CheckCopiedTree(std::string_view sourceFolder, std::string_view pattern, std::string_view copyFolder) {
    const fs::path from = MapPath(sourceFolder), to = MapPath(copyFolder);
    std::vector<fs::path> files;
    try {
        WalkCopySource(from, pattern, true, to, {[&](const fs::path &relative) { files.push_back(relative); }, {}});
    } catch (const fs::filesystem_error &e) {
        RaiseOsError(e.code().value(), e.path1());
    }
    TreeCheck check;
    check.files = static_cast<long>(files.size());
    fs::path folder;  // the folder of the copy open as `at`, for the files that lie in it
    Fd at;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const fs::path &relative = files[i];
        if (!at || folder != relative.parent_path()) {
            folder = relative.parent_path();
            at = OpenFolder(to / folder);
        }
        const Fd copy = at ? OpenFileAt(at.get(), relative.filename().string(), O_RDONLY) : Fd();
        const bool missing = !copy && (errno == ENOENT || errno == ENOTDIR);
        const Fd source(::open((from / relative).c_str(), O_RDONLY | O_CLOEXEC));
        const CopyState state = missing            ? CopyState::Missing
                                : !copy || !source ? CopyState::Unreadable
                                                   : Compare(source, copy);
        if (state == CopyState::Same) {
            ++check.good;
        } else if (check.firstBad.size() < kNamedBadFiles) {
            const char *what = state == CopyState::Missing   ? "missing"
                               : state == CopyState::Differs ? "differs"
                                                             : "cannot be read";
            check.firstBad.push_back(WindowsRelative(relative) + " (" + what + ")");
        }
    }
    return check;
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
    auto fail = [&](int err, const fs::path &path) {
        if (err == ENOTDIR && path == target) Raise(75, "'" + ShownPath(target) + "' is a file, not a folder");
        RaiseOsError(err, path, OsContext::Folder);
    };
    if (!OpenFolder(target.parent_path())) fail(errno, target.parent_path());
    if (!MakeFolders(target)) fail(errno, target);
    try {
        AtomicFile probe(target / "qvutil-probe");  // removed again at once
    } catch (const std::system_error &e) {
        fail(e.code().value(), target);
    }
}

}  // namespace platform
