// PendingLines: the batches of SpooledAppender that a kill left, found, trusted or left, and completed
// (the pending file's records: text_appender_private.h).
//
// What a pending file says decides what is written where, so only a file that its maker alone could
// write is read for it: a regular file of one name, made by the running login or root, or by another
// login of the folder's group (SpooledAppender makes it 0640 with the folder's group), whose content
// names the log its name names. Names of anyone else are counted from their folder entry alone, and at
// most PendingLines::kExamined files are opened at one call, each closed before the next: planted
// names hold back neither the others nor the process's open files. Each line found again through the
// mark is written only when its digest is the one the batch recorded for its place: a line another
// login changed since (in a table it may write) is counted as missing, never written in the batch's
// name.
#include "platform/pending_lines.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <tuple>
#include <vector>

#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/logins.h"
#include "platform/os_error.h"
#include "platform/safe_file.h"
#include "platform/text_appender_private.h"

namespace platform {

using namespace appender_detail;

namespace {

constexpr std::size_t kDigestDigits = 16;
constexpr off_t kLargest = off_t{1} << 30;  // no batch of ours has a pending file near this size

template <class T>
bool Number(std::string_view text, T &out, int base = 10) {
    return !text.empty() && std::from_chars(text.data(), text.data() + text.size(), out, base).ptr == text.data() + text.size();
}

bool Trusted(uid_t owner) { return owner == ::geteuid() || owner == 0; }

// Whether the login `uid` belongs to the group `gid` (its own group, or a member of it).
bool InGroup(uid_t uid, gid_t gid) {
    passwd entry {}, *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) != 0 || !found) return false;
    if (found->pw_gid == gid) return true;
    const std::string name = found->pw_name;
    group g {}, *in = nullptr;
    std::vector<char> members(1 << 16);
    if (::getgrgid_r(gid, &g, members.data(), members.size(), &in) != 0 || !in) return false;
    for (char **m = in->gr_mem; *m; ++m)
        if (name == *m) return true;
    return false;
}

// Whether this login may remove the pending file `st` from the folder `dir` once it has completed it:
// one that it may only read can record nothing, and completed but left, it would be completed again.
bool Removable(int dir, const struct stat &dirState, const struct stat &st) {
    const uid_t me = ::geteuid();
    if (::faccessat(dir, ".", W_OK | X_OK, AT_EACCESS) != 0) return false;
    return !(dirState.st_mode & S_ISVTX) || me == 0 || st.st_uid == me || dirState.st_uid == me;
}

// A batch of another login that the running one may complete: a file of a login of the folder's group,
// with that group, that no login outside the group may write, in a folder where the running login
// may remove it.
// `members`, when given, keeps what was found of each login.
bool OfTheOffice(const struct stat &st, int dir, const struct stat &folder, std::map<uid_t, bool> *members = nullptr) {
    const auto member = [&] {
        if (!members) return InGroup(st.st_uid, folder.st_gid);
        const auto [at, isNew] = members->try_emplace(st.st_uid, false);
        if (isNew) at->second = InGroup(st.st_uid, folder.st_gid);
        return at->second;
    };
    return S_ISREG(st.st_mode) && st.st_gid == folder.st_gid && !(st.st_mode & S_IWOTH) && member() &&
           Removable(dir, folder, st);
}

}  // namespace

struct PendingLines::Impl {
    fs::path folderPath;
    Fd folder;
    std::string name;  // of the pending file
    std::string left;
    Fd pending;
    bool own = true, readOnly = false;  // made by this login or root; open for reading alone
    std::string log, recordedLog, note, mark, digests;
    bool prepared = false;
    std::uint64_t lines = 0;
    std::int64_t made = 0;
    bool recorded = false;  // an "at" record was found
    std::uint64_t at = 0, from = 0;

    // Reads the records; false when the file is none of this format.
    bool Parse(std::string_view text) {
        bool header = false;
        for (std::size_t end; (end = text.find('\n')) != std::string_view::npos; text.remove_prefix(end + 1)) {
            std::vector<std::string_view> w;
            for (std::string_view line = text.substr(0, end);;) {
                const std::size_t blank = line.find(' ');
                w.push_back(line.substr(0, blank));
                if (blank == std::string_view::npos) break;
                line.remove_prefix(blank + 1);
            }
            if (w.size() == 5 && text.starts_with(kHeader)) {
                header = Number(w[4], made);
            } else if (w.size() == 2 && (w[0] == "note" || w[0] == "log")) {
                if (auto n = FromHex(w[1])) (w[0] == "note" ? note : recordedLog) = *n;
            } else if (w.size() == 4 && w[0] == "mark") {
                const auto m = FromHex(w[1]);
                prepared = m && Number(w[2], lines) && lines <= w[3].size() / kDigestDigits &&
                           w[3].size() == lines * kDigestDigits;
                if (m) mark = *m;
                if (prepared) digests = w[3];
            } else if (w.size() == 3 && w[0] == "at" && Number(w[1], at) && Number(w[2], from)) {
                recorded = true;
            } else if (w.size() == 1 && w[0] == "done") {
                prepared = false;
                break;
            }
        }
        return header;
    }

    // Opens and reads the pending file `name` of the folder open as `dir`: false to pass it over (its
    // writer is alive, or it is gone); `left` says why one is not to be completed.
    bool Read(int dir, const struct stat &dirState) {
        const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        pending.reset(::openat(dir, name.c_str(), O_RDWR | flags));
        if (!pending && errno == EACCES) {  // root's, or another login's of the folder's group (0640)
            pending.reset(::openat(dir, name.c_str(), O_RDONLY | flags));
            readOnly = true;
        }
        struct stat st {};
        if (!pending) {
            const int err = errno;
            if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
            left = S_ISLNK(st.st_mode)         ? "it is a link"
                   : !Trusted(st.st_uid)        ? "it was made by the login " + LoginOrNumber(st.st_uid)
                                                : std::string("it cannot be opened: ") + std::strerror(err);
            return true;
        }
        if (::fstat(pending.get(), &st) != 0) return false;
        own = Trusted(st.st_uid);
        if (!S_ISREG(st.st_mode)) left = "it is not a file";
        else if (!own && !OfTheOffice(st, dir, dirState)) left = "it was made by the login " + LoginOrNumber(st.st_uid);
        else if (st.st_nlink != 1) left = "it has other names (hard links)";
        else if (st.st_size > kLargest) left = "it is larger than any batch of lines";
        else if (readOnly && !Removable(dir, dirState, st))
            left = "this login may not remove it from its folder; its maker's next read-date window writes its lines";
        if (!left.empty()) {
            pending.reset();
            return true;
        }
        if (::flock(pending.get(), LOCK_EX | LOCK_NB) != 0) return false;  // its writer is alive
        std::string text(static_cast<std::size_t>(st.st_size), '\0');
        const ssize_t n = ReadFully(pending.get(), text.data(), text.size(), 0);
        text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        const bool ours = Parse(text);
        if (!prepared) {
            // Its writer ended before its changes could commit; one only seconds old may be between
            // being made and being locked.
            const auto age = std::chrono::system_clock::now() - std::chrono::system_clock::from_time_t(st.st_mtime);
            if (age > std::chrono::seconds(10) || ours) (void)::unlinkat(dir, name.c_str(), 0);
            return false;
        }
        if (!ours) left = "it is not a pending file of this version of the program";
        else if (recordedLog != log) left = "its content names another file";
        return true;
    }
};

PendingLines::PendingLines() : impl_(std::make_unique<Impl>()) {}
PendingLines::PendingLines(PendingLines &&) noexcept = default;
PendingLines &PendingLines::operator=(PendingLines &&) noexcept = default;
PendingLines::~PendingLines() = default;

const std::string &PendingLines::Name() const { return impl_->name; }
const std::string &PendingLines::Left() const { return impl_->left; }
bool PendingLines::Own() const { return impl_->own; }
const std::string &PendingLines::Log() const { return impl_->log; }
const std::string &PendingLines::Note() const { return impl_->note; }
const std::string &PendingLines::Mark() const { return impl_->mark; }
std::uint64_t PendingLines::Lines() const { return impl_->lines; }

DateTime PendingLines::Made() const {
    const std::time_t seconds = static_cast<std::time_t>(impl_->made / 1000000000);
    struct tm local {};
    localtime_r(&seconds, &local);
    return MakeDateTime(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1), static_cast<unsigned>(local.tm_mday),
                        local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec);
}

PendingPassed PendingLines::Each(const fs::path &path, const std::function<void(PendingLines &)> &each) {
    PendingPassed passed;
    const Fd at = OpenFolder(path);
    struct stat folder {};
    if (!at || ::fstat(at.get(), &folder) != 0) return passed;
    struct Candidate {
        bool other;
        struct timespec written;
        std::string name;
    };
    std::vector<Candidate> candidates;
    std::map<uid_t, bool> members;
    for (const std::string &name : FolderNames(at.get())) {
        struct stat st {};
        if (LogOf(name).empty() || ::fstatat(at.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (Trusted(st.st_uid) || OfTheOffice(st, at.get(), folder, &members))
            candidates.push_back({!Trusted(st.st_uid), st.st_mtim, name});
        else
            ++passed.others;
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate &a, const Candidate &b) {
        return std::tie(a.other, a.written.tv_sec, a.written.tv_nsec, a.name) <
               std::tie(b.other, b.written.tv_sec, b.written.tv_nsec, b.name);
    });
    if (candidates.size() > kExamined) passed.later = candidates.size() - kExamined, candidates.resize(kExamined);
    for (const Candidate &c : candidates) {
        PendingLines p;
        Impl &b = *p.impl_;
        b.log = LogOf(c.name);
        b.name = c.name;
        b.own = !c.other;
        if (!b.Read(at.get(), folder)) continue;
        b.folderPath = path;
        b.folder.reset(::fcntl(at.get(), F_DUPFD_CLOEXEC, 0));
        each(p);
    }
    return passed;
}

namespace {

// Where the batch's bytes from `from` on stand in the log at `at` (an earlier append was cut short):
// the part of them the log holds when it ends with them (`whole` true), else the start of the line
// where they part, which is written again whole.
std::uint64_t ResumeAt(int log, Spool &spool, std::uint64_t at, std::uint64_t from, bool &whole, const fs::path &shown) {
    struct stat st {};
    if (::fstat(log, &st) != 0) RaiseOsError(errno, shown);
    const auto size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t same = 0, lineStart = from;
    std::string mine(kBuffer, '\0'), theirs(kBuffer, '\0');
    while (at <= size && from + same < spool.Size() && at + same < size) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>({kBuffer, spool.Size() - from - same, size - at - same}));
        const ssize_t n1 = ReadFully(spool.fd(), mine.data(), want, static_cast<std::int64_t>(from + same));
        const ssize_t n2 = ReadFully(log, theirs.data(), want, static_cast<std::int64_t>(at + same));
        if (n1 <= 0 || n2 <= 0) RaiseOsError(n1 < 0 || n2 < 0 ? errno : EIO, shown);
        const std::size_t n = static_cast<std::size_t>(std::min(n1, n2));
        std::size_t k = 0;
        while (k < n && mine[k] == theirs[k]) {
            if (mine[k] == '\n') lineStart = from + same + k + 1;
            ++k;
        }
        same += k;
        if (k < n) break;
    }
    whole = at <= size && at + same == size;
    return whole ? from + same : lineStart;
}

}  // namespace

CompletedLines PendingLines::Complete(const std::function<bool(std::uint64_t &place, std::string &line)> &next) {
    Impl &b = *impl_;
    if (!b.left.empty()) RaisePathError(75, b.folderPath / b.name);
    const fs::path shown = b.folderPath / b.log;
    Spool spool(b.folder.get(), shown);
    std::uint64_t place = 0, after = 0;  // the next place that may still be the batch's
    for (std::string line; next(place, line);) {
        if (place < after || place >= b.lines) continue;
        after = place + 1;
        if (LineDigest(line) == std::string_view(b.digests).substr(place * kDigestDigits, kDigestDigits)) spool.Add(line);
    }
    spool.Flush();
    const CompletedLines done{spool.lines, b.lines - spool.lines};
    const int pending = b.readOnly ? -1 : b.pending.get();  // another login's: nothing is recorded in it
    if (spool.lines == 0) {
        Finish(pending, b.folder.get(), b.name);
        return done;
    }
    const Fd log = OpenLog(b.folder.get(), b.log, shown);
    Lock(log.get());
    bool whole = false;
    const std::uint64_t from = b.recorded ? ResumeAt(log.get(), spool, b.at, b.from, whole, shown) : 0;
    AppendBatch(log.get(), pending, b.folder.get(), b.name, spool, from, whole, shown);
    return done;
}

}  // namespace platform
