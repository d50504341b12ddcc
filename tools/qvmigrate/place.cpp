// Target files written under temporary names and renamed, folders made under the link rule, the
// installation handed to the office, and the lines qvmigrate prints.
#include "qvmigrate/place.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/copy_tree.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/filelock.h"
#include "platform/logins.h"
#include "platform/safe_file.h"
#include "qvmigrate/errors.h"

namespace qvmigrate {

namespace fs = std::filesystem;

namespace {

Owner owner;
std::vector<fs::path> roots;  // the trees' roots in the target, which the owner gets with all below
std::set<std::string> made;   // the files that runs made or copied, by identity (IdentityOf)
bool madeNow = false;         // this run made some: the record is written again

// A file as the record of made files knows it: its device, inode and time of birth (which tells a
// file from a later one that reuses its inode; zero where the file system keeps none).
std::string IdentityOf(int fd) {
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &sx) != 0) return {};
    const bool born = (sx.stx_mask & STATX_BTIME) != 0;
    return std::to_string(sx.stx_dev_major) + ":" + std::to_string(sx.stx_dev_minor) + " " + std::to_string(sx.stx_ino) +
           " " + std::to_string(born ? sx.stx_btime.tv_sec : 0) + "." + std::to_string(born ? sx.stx_btime.tv_nsec : 0);
}

// The record of made files: in the running user's own state folder (which, run as root, no other
// login may change: platform::KeepRootToItsOwnFolders).
fs::path MadeRecord() {
    const char *state = std::getenv("XDG_STATE_HOME"), *home = std::getenv("HOME");
    const fs::path folder = state && *state ? fs::path(state) : fs::path(home && *home ? home : "/") / ".local/state";
    return folder / "qvmigrate" / "made";
}

// Reads the record when it is the running user's and no one else may write it.
void LoadMade() {
    const platform::Fd fd = platform::OpenFile(MadeRecord(), O_RDONLY | O_NONBLOCK);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022)) return;
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    text.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::pread(fd.get(), text.data(), text.size(), 0))));
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) made.insert(line);
}

std::string LinkText(const fs::path &link) { return platform::LinkOfAnotherUser(link.string(), "written"); }

// A failure of `what` on `path`; a link of another login that an open stopped at (`refusedLink`) is
// named as such, a full disk as the disk that holds `path`.
[[noreturn]] void Fail(const std::string &what, int err = errno, const fs::path &path = {},
                       const fs::path &refusedLink = {}) {
    if (!refusedLink.empty()) throw Failure(Failure::Run, LinkText(refusedLink));
    throw Failure(Failure::Run, what + ": " + WriteFailure(err, path.parent_path()));
}

struct timespec Timespec(fs::file_time_type t) {
    const auto since = std::chrono::file_clock::to_sys(t).time_since_epoch();
    const auto secs = std::chrono::floor<std::chrono::seconds>(since);
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(secs.count());
    ts.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - secs).count());
    return ts;
}

// Gives a file or folder the run's owner and mode.
void Give(int fd, bool folder, const fs::path &path) {
    if (!owner.given) return;
    if (::fchown(fd, owner.uid, owner.gid) != 0 || ::fchmod(fd, folder ? 02775 : 0664) != 0)
        Fail("cannot give " + path.string() + " to its owner");
}

bool IsAtOrBelow(const fs::path &inner, const fs::path &outer) {
    const fs::path rel = inner.lexically_relative(outer);
    return !rel.empty() && *rel.begin() != "..";
}

// A kept file given to the owner as a written one is, when a run made it or the office's login owns it
// already, unless it is a link (whose target is no file of the installation), or a file that has
// another name (a hard link) or lies on another file system than its folder. Anything else may be a
// file from outside the installation that a login who may write the target linked or moved there: it
// is named and left as it is.
void GiveKept(int parent, const std::string &name, const fs::path &target) {
    if (!owner.given) return;
    const platform::Fd fd(::openat(parent, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {}, folder {};
    if (!fd) {
        if (errno == ELOOP) return;
        Fail("cannot open " + target.string(), errno, target);
    }
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    if (::fstat(parent, &folder) != 0) Fail("cannot open the folder " + target.parent_path().string(), errno, target);
    const std::string left = "left as it is, not given to the office: ";
    const std::string again = ": remove it from TARGET (a run writes it anew) and run again";
    if (st.st_nlink != 1)
        throw Failure(Failure::Run, left + "it has " + std::to_string(st.st_nlink) +
                                 " names (hard links), so it may be a file outside the installation" + again);
    if (st.st_dev != folder.st_dev)
        throw Failure(Failure::Run, left + "it lies on another file system than its folder (something is mounted on it)" + again);
    if (const std::string id = IdentityOf(fd.get()); st.st_uid != owner.uid && (id.empty() || !made.count(id)))
        throw Failure(Failure::Run, left + "it belongs to " + platform::LoginOrNumber(st.st_uid) +
                                 " and no run of qvmigrate made it, so it may be a file from outside the installation" + again);
    Give(fd.get(), false, target);
}

bool Before(const struct timespec &a, const struct timespec &b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// The tools' locks on a database that --replace is to write over: its .ldb (held while a tool has it
// open) and the read-date window's .frd, taken until the new file is in place.
std::vector<std::unique_ptr<platform::FileLock>> HoldToolLocks(const fs::path &target) {
    fs::path ldb = target;
    ldb.replace_extension(".ldb");
    const std::vector<std::pair<fs::path, std::string>> locks = {
        {ldb, "the database is in use (its .ldb is locked): close the tools and run again"},
        {target.string() + ".frd", "a read-date window is open on the database (its .frd is locked): close it and run again"}};
    std::vector<std::unique_ptr<platform::FileLock>> held;
    for (const auto &[file, busy] : locks) {
        try {
            held.push_back(platform::FileLock::TryTake(file));
        } catch (const platform::Error &e) {
            if (e.refusedLink) throw Failure(Failure::Run, LinkText(e.file));
            throw Failure(Failure::Run, "cannot take the lock " + file.string() + ": " + e.what());
        }
        if (!held.back()) throw Failure(Failure::Run, busy);
    }
    return held;
}

}  // namespace

void ThrowIfStopped() {
    if (platform::StopSignal()) throw Failure(Failure::Stopped, "stopped");
}

std::string Shown(std::string_view text) {
    std::string out;
    char buf[12];
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        // The length of a well-formed UTF-8 sequence that starts here (1 for ASCII), 0 for none.
        std::size_t n = c < 0x80 ? 1 : c >= 0xc2 && c < 0xe0 ? 2 : c >= 0xe0 && c < 0xf0 ? 3 : c >= 0xf0 && c < 0xf5 ? 4 : 0;
        for (std::size_t k = 1; k < n; ++k)
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) n = 0;
        if (n == 2 && c == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0) {  // U+0080 to U+009F
            std::snprintf(buf, sizeof buf, "<U+%04X>", static_cast<unsigned char>(text[i + 1]));
            out += buf;
        } else if (n == 0 || (n == 1 && (c < 0x20 || c == 0x7f))) {
            std::snprintf(buf, sizeof buf, "<%02X>", c);
            out += buf;
            n = 1;
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    return out;
}

void Say(std::ostream &out, std::string_view line) { out << Shown(line) << '\n'; }

void SetOwner(const Owner &o, const std::vector<fs::path> &treeRoots) {
    owner = o;
    roots = treeRoots;
    if (owner.given) LoadMade();
}

void SaveMadeFiles() {
    if (!madeNow) return;
    const fs::path record = MadeRecord();
    std::string text;
    for (const auto &line : made) text += line + "\n";
    try {
        if (!platform::MakeFolders(record.parent_path())) throw std::system_error(errno, std::generic_category());
        platform::AtomicFile file(record, platform::Access::Private, 0600);
        file.Write(text.data(), text.size());
        file.Commit();
        madeNow = false;
    } catch (const std::system_error &e) {
        Say(std::cout, "qvmigrate: the record of the files made, " + record.string() + ", could not be written (" +
                           e.code().message() + "): a later run gives the office only the files it owns already");
    }
}

void MakeTargetFolders(const fs::path &folder) {
    static std::set<fs::path> given;
    if (const platform::Opened made = platform::MakeFolders(folder); !made)
        Fail("cannot create the folder " + folder.string(), errno, folder / ".", made.refusedLink);
    if (!owner.given) return;
    for (const auto &root : roots) {
        if (!IsAtOrBelow(folder, root) && folder != root) continue;
        fs::path at = root;
        const fs::path below = folder.lexically_relative(root);
        for (auto part = below.begin();; ++part) {
            if (given.insert(at).second) {
                const platform::Opened fd = platform::OpenFile(at, O_RDONLY | O_DIRECTORY);
                if (!fd) Fail("cannot open the folder " + at.string(), errno, at / ".", fd.refusedLink);
                Give(fd.get(), true, at);
            }
            if (part == below.end() || *part == ".") break;
            at /= *part;
        }
    }
}

Placed PlaceFile(const fs::path &target, bool replace, bool database, fs::file_time_type modified,
                 const std::function<void(int)> &fill) {
    static std::set<fs::path> cleaned;
    const fs::path folder = target.parent_path();
    MakeTargetFolders(folder);
    // A run killed outright (no chance to clean up) leaves its temporary file: it goes now. No other
    // run writes this target while this one holds it, so a temporary of any age that nobody locks is stale.
    if (cleaned.insert(folder).second)
        for (const auto &name : platform::RemoveStaleTemporaries(folder, 0))
            Say(std::cout, "qvmigrate: removed " + (folder / name).string() + ", a temporary file that a stopped run left");
    std::string name;
    const platform::Opened parent = platform::OpenParent(target, name);
    if (!parent) Fail("cannot open the folder " + folder.string(), errno, target, parent.refusedLink);
    struct stat existing {};
    const bool exists = ::fstatat(parent.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISLNK(existing.st_mode) && existing.st_uid != ::geteuid() && existing.st_uid != 0)
        throw Failure(Failure::Run, LinkText(target));
    if (exists && !replace) {
        GiveKept(parent.get(), name, target);
        return S_ISREG(existing.st_mode) && Before(existing.st_mtim, Timespec(modified)) ? Placed::KeptOlder : Placed::Kept;
    }
    if (exists && !S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode))
        throw Failure(Failure::Run, "something other than a file has that name");
    try {
        platform::AtomicFile file(parent.get(), target);
        fill(file.fd());
        ThrowIfStopped();
        const struct timespec times[2] = {{0, UTIME_OMIT}, Timespec(modified)};
        if (::futimens(file.fd(), times) != 0) Fail("cannot set the time of " + target.string());
        Give(file.fd(), false, target);
        if (const std::string id = IdentityOf(file.fd()); owner.given && !id.empty()) madeNow |= made.insert(id).second;
        std::vector<std::unique_ptr<platform::FileLock>> held;
        if (database && exists) held = HoldToolLocks(target);
        ThrowIfStopped();
        file.Commit();
    } catch (const std::system_error &e) {
        Fail("cannot write " + target.string(), e.code().value(), target);
    }
    return Placed::Written;
}

std::string WriteFailure(int err, const fs::path &folder) {
    if (err == ENOSPC || err == EDQUOT)
        return "the disk that holds " + folder.string() + " is full (" + std::strerror(err) + ")";
    return std::strerror(err);
}

void CopyBytes(const fs::path &from, int to, const fs::path &target) {
    const platform::Opened in = platform::OpenFile(from, O_RDONLY | O_NONBLOCK);
    if (!in) Fail("cannot read " + from.string(), errno, from, in.refusedLink);
    constexpr std::uint64_t kStep = 16 << 20;  // copied between looks at a stop
    std::uint64_t copied = 0;
    for (bool more = true; more;) {
        ThrowIfStopped();
        const platform::CopyResult r = platform::CopyBytes(in.get(), to, kStep);
        if (r.err && r.reading) Fail("cannot read " + from.string(), r.err);
        if (r.err) Fail("cannot write " + target.string(), r.err, target);
        copied += r.copied;
        more = r.copied == kStep;
    }
    struct stat st {};
    if (::fstat(in.get(), &st) != 0 || static_cast<std::uint64_t>(st.st_size) != copied)
        throw Failure(Failure::Run, from.string() + " changed while it was copied");
}

}  // namespace qvmigrate
