// Checking a copy made by the copier: every file a pass takes (WalkCopySource) compared byte for byte
// with its copy, read back from the disk under the link rule, the first few that differ named.
#include "platform/copy_tree.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <tuple>

#include "platform/ascii.h"
#include "platform/file_io.h"
#include "platform/os_error.h"
#include "platform/paths.h"
#include "platform/safe_file.h"

namespace platform {

namespace fs = std::filesystem;
namespace {

constexpr std::size_t kChunk = 1 << 20;

std::string WindowsRelative(const fs::path &relative) {
    std::string text = relative.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

enum class CopyState { Same, Missing, Differs, Newer, Unreadable, Refused };

// An audit log ("AUDIT\\<name>.LOG" in the folder copied): lines are only ever added to it, so a copy
// that holds its beginning holds the log as it stood when it was copied (a correction may write it
// during a backup).
bool IsAuditLog(const fs::path &relative) {
    const auto first = relative.begin();
    return std::distance(first, relative.end()) == 2 && EqualsNoCase(first->string(), "AUDIT") &&
           EqualsNoCase(relative.extension().string(), ".LOG");
}

// Compares the copy open as `b` with the source open as `a`, size then every byte; with `appendedTo`,
// a source that grew since is compared as far as the copy goes. A copy that differs and was modified
// after the source is Newer.
CopyState Compare(const Fd &a, const Fd &b, bool appendedTo) {
    struct stat sa {}, sb {};
    if (::fstat(a.get(), &sa) != 0 || ::fstat(b.get(), &sb) != 0) return CopyState::Unreadable;
    if (!S_ISREG(sb.st_mode)) return CopyState::Missing;
    const CopyState differs = std::tie(sb.st_mtim.tv_sec, sb.st_mtim.tv_nsec) >
                                      std::tie(sa.st_mtim.tv_sec, sa.st_mtim.tv_nsec)
                                  ? CopyState::Newer
                                  : CopyState::Differs;
    const bool grown = appendedTo && sa.st_size > sb.st_size;
    if (sa.st_size != sb.st_size && !grown) return differs;
    for (int fd : {a.get(), b.get()}) (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::unique_ptr<char[]> ba(new char[kChunk]), bb(new char[kChunk]);
    for (off_t left = sb.st_size;;) {
        const std::size_t want = grown ? static_cast<std::size_t>(std::min<off_t>(left, kChunk)) : kChunk;
        const ssize_t na = ReadFully(a.get(), ba.get(), want), nb = ReadFully(b.get(), bb.get(), want);
        left -= na > 0 ? na : 0;
        if (na < 0 || nb < 0) return CopyState::Unreadable;
        if (na != nb || std::memcmp(ba.get(), bb.get(), static_cast<std::size_t>(na)) != 0) return differs;
        if (na == 0) return CopyState::Same;
    }
}

using CheckedFiles = std::vector<std::pair<fs::path, bool>>;  // and whether the pass refuses it

// The copies of a check's files, opened some files ahead of the comparison: each, written out by then,
// is dropped from the page cache, so that what the comparison reads comes from the disk, and its first
// part is asked for at once, so that the disk serves many files at a time.
class CopiesAhead {
public:
    CopiesAhead(const fs::path &copyFolder, const CheckedFiles &files) : to_(copyFolder), files_(files) {}

    // The copy of the next file, invalid with `err` set when it cannot be opened (or is refused).
    Fd Next(int &err) {
        while (opened_ < files_.size() && open_.size() < kAhead) Open(files_[opened_++]);
        Opened next = std::move(open_.front());
        open_.pop_front();
        err = next.err;
        return std::move(next.copy);
    }

private:
    struct Opened {
        Fd copy;
        int err = 0;
    };
    static constexpr std::size_t kAhead = 64;
    static constexpr off_t kAheadBytes = 2 << 20;

    void Open(const std::pair<fs::path, bool> &file) {
        Opened opened;
        const auto &[relative, refused] = file;
        if (!refused) {
            if (!at_ || folder_ != relative.parent_path()) {
                folder_ = relative.parent_path();
                at_ = OpenFolder(to_ / folder_);
                atErr_ = errno;
            }
            opened.copy = at_ ? OpenFileAt(at_.get(), relative.filename().string(), O_RDONLY | O_NONBLOCK) : Fd();
            opened.err = !at_ ? atErr_ : errno;
            if (opened.copy) {
                (void)::posix_fadvise(opened.copy.get(), 0, 0, POSIX_FADV_DONTNEED);
                (void)::posix_fadvise(opened.copy.get(), 0, kAheadBytes, POSIX_FADV_WILLNEED);
            }
        }
        open_.push_back(std::move(opened));
    }

    const fs::path &to_;
    const CheckedFiles &files_;
    std::size_t opened_ = 0;
    std::deque<Opened> open_;
    fs::path folder_;  // the folder of the copy open as `at_`, for the files that lie in it
    Fd at_;
    int atErr_ = 0;
};

}  // namespace

TreeCheck CheckCopiedTree(std::string_view sourceFolder, std::string_view pattern, std::string_view copyFolder,
                          bool databasesApart) {
    const fs::path from = MapPath(sourceFolder), to = MapPath(copyFolder);
    CheckedFiles files;
    try {
        WalkCopySource(from, pattern, true, to,
                       {[&](const fs::path &relative) { files.emplace_back(relative, false); }, {},
                        [&](const fs::path &relative, const fs::path &) { files.emplace_back(relative, true); },
                        databasesApart ? [](const fs::path &) {} : std::function<void(const fs::path &)>()});
    } catch (const fs::filesystem_error &e) {
        RaiseOsError(e.code().value(), e.path1());
    }
    // What the copier wrote goes to the medium first, so that what is read back comes from there.
    if (!SyncFileSystem(to) && errno != ENOENT) RaiseOsError(errno, to);
    TreeCheck check;
    check.files = static_cast<long>(files.size());
    CopiesAhead copies(to, files);
    for (const auto &[relative, refused] : files) {
        int err = 0;
        const Fd copy = copies.Next(err);
        CopyState state = CopyState::Refused;
        if (!refused) {
            const bool missing = !copy && (err == ENOENT || err == ENOTDIR);
            const Fd source = OpenSourceFile(from / relative);
            state = missing            ? CopyState::Missing
                    : !copy || !source ? CopyState::Unreadable
                                       : Compare(source, copy, IsAuditLog(relative));
        }
        if (state == CopyState::Same) {
            ++check.good;
            continue;
        }
        if (state == CopyState::Newer) ++check.newer;
        if (check.firstBad.size() < kNamedBadFiles) {
            const char *what = state == CopyState::Missing   ? "missing"
                               : state == CopyState::Differs ? "differs"
                               : state == CopyState::Newer   ? "differs, newer in the copy"
                               : state == CopyState::Refused ? "a link made by another user, not followed"
                                                             : "cannot be read";
            check.firstBad.push_back(WindowsRelative(relative) + " (" + what + ")");
        }
    }
    return check;
}

}  // namespace platform
