#include "qvmigrate/place.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>
#include <streambuf>
#include <string>
#include <system_error>
#include <vector>

#include "platform/safe_file.h"

namespace qvmigrate {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> stopRequested{false};
Owner owner;

void OnStopSignal(int) { stopRequested = true; }

// A failure of `what` on `path`; a link of another login that was not followed is named as such.
[[noreturn]] void Fail(const std::string &what, int err = errno, const fs::path &path = {}) {
    if (platform::IsRefusedLink(err))
        throw std::runtime_error((platform::RefusedLink().empty() ? path : platform::RefusedLink()).string() +
                                 " is a link made by another user; nothing was written");
    throw std::runtime_error(what + ": " + std::strerror(err));
}

// Progress lines of a child, written straight to a descriptor.
class FdBuf : public std::streambuf {
public:
    explicit FdBuf(int fd) : fd_(fd) {}

protected:
    int overflow(int c) override {
        const char ch = static_cast<char>(c);
        return c == traits_type::eof() || xsputn(&ch, 1) == 1 ? c : traits_type::eof();
    }
    std::streamsize xsputn(const char *s, std::streamsize n) override {
        for (std::streamsize done = 0; done < n;) {
            const ssize_t w = ::write(fd_, s + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return done;
            done += w;
        }
        return n;
    }

private:
    int fd_;
};

bool DumpLine(const std::string &line) {
    // libmdb's page dumps: an offset, then bytes in hex ("0016x  02 01 ...").
    std::size_t i = 0;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
    return i > 0 && i < line.size() && line[i] == 'x';
}

// What a child printed, in one line: its first two distinct lines, how many more, page dumps counted.
std::string Summary(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t more = 0, dumped = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto first = line.find_first_not_of(" \t\r"), last = line.find_last_not_of(" \t\r");
        if (first == std::string::npos) continue;
        line = line.substr(first, last - first + 1);
        if (DumpLine(line))
            ++dumped;
        else if (lines.size() < 2 && std::find(lines.begin(), lines.end(), line) == lines.end())
            lines.push_back(line);
        else
            ++more;
    }
    std::string out;
    for (const auto &l : lines) out += (out.empty() ? "" : "; ") + l;
    if (more) out += " (and " + std::to_string(more) + " more lines)";
    if (dumped) out += (out.empty() ? "" : "; ") + std::string("a dump of ") + std::to_string(dumped) + " lines of a page";
    return out;
}

std::string ReadAll(int fd) {
    std::string out;
    char buf[4096];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || out.size() > (1 << 20)) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

std::string RunChild(const std::function<std::string(std::ostream &)> &work, const std::function<void()> &become,
                     std::string *said, int streamFd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) Fail("cannot make a pipe");
    platform::Fd output(::memfd_create("qvmigrate-output", MFD_CLOEXEC));
    if (!output) Fail("cannot make a file for libmdb's output");
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) Fail("cannot start a process");
    if (pid == 0) {
        ::close(fds[0]);
        std::string msg;
        try {
            const int progressFd = ::fcntl(streamFd, F_DUPFD_CLOEXEC, 3);
            FdBuf progressBuf(progressFd);
            std::ostream progress(&progressBuf);
            if (::dup2(output.get(), 1) < 0 || ::dup2(output.get(), 2) < 0) Fail("cannot redirect libmdb's output");
            become();
            msg = "K" + work(progress);
        } catch (const Stopped &) {
            msg = "S";
        } catch (const std::exception &e) {
            msg = std::string("F") + e.what();
        }
        std::fflush(nullptr);
        for (std::size_t done = 0; done < msg.size();) {
            const ssize_t w = ::write(fds[1], msg.data() + done, msg.size() - done);
            if (w <= 0 && errno != EINTR) break;
            if (w > 0) done += static_cast<std::size_t>(w);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    auto passStop = [pid] {
        if (stopRequested) ::kill(pid, SIGTERM);
    };
    std::string msg;
    char buf[4096];
    while (true) {
        passStop();
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n > 0) msg.append(buf, static_cast<std::size_t>(n));
        if (n == 0 || (n < 0 && errno != EINTR)) break;
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) passStop();
    const std::string printed = Summary(ReadAll(output.get()));
    if (said) *said = printed;
    const std::string also = printed.empty() ? "" : " (libmdb said: " + printed + ")";
    if (msg.empty() && stopRequested) throw Stopped();
    if (WIFSIGNALED(status))
        throw std::runtime_error(std::string("libmdb failed reading it (") + ::strsignal(WTERMSIG(status)) + "): the file is damaged" + also);
    if (msg.empty()) throw std::runtime_error("the reading process ended without an answer" + also);
    if (msg[0] == 'S') throw Stopped();
    if (msg[0] == 'F') throw std::runtime_error(msg.substr(1) + also);
    return msg.substr(1);
}

struct timespec Timespec(fs::file_time_type t) {
    const auto since = std::chrono::file_clock::to_sys(t).time_since_epoch();
    const auto secs = std::chrono::floor<std::chrono::seconds>(since);
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(secs.count());
    ts.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - secs).count());
    return ts;
}

// Gives a file or folder just created the run's owner and mode.
void Give(int fd, bool folder, const fs::path &path) {
    if (!owner.given) return;
    if (::fchown(fd, owner.uid, owner.gid) != 0 || ::fchmod(fd, folder ? 02775 : 0664) != 0)
        Fail("cannot give " + path.string() + " to its owner");
}

}  // namespace

void InstallStopHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

void ThrowIfStopped() {
    if (stopRequested) throw Stopped();
}

std::string Isolated(const std::function<std::string(std::ostream &)> &work, std::string *said, bool toOutput) {
    return RunChild(work, [] {}, said, toOutput ? 1 : 2);
}

std::string IsolatedAs(const Owner &as, const std::function<std::string()> &work) {
    return RunChild([&](std::ostream &) { return work(); },
                    [&] {
                        if (!as.given || ::geteuid() != 0) return;
                        const struct passwd *pw = ::getpwuid(as.uid);
                        if ((pw ? ::initgroups(pw->pw_name, as.gid) : ::setgroups(0, nullptr)) != 0 || ::setgid(as.gid) != 0 ||
                            ::setuid(as.uid) != 0)
                            Fail("cannot take the office's user and group");
                        // The login's own configuration, not root's.
                        ::unsetenv("XDG_CONFIG_HOME");
                        if (pw) ::setenv("HOME", pw->pw_dir, 1);
                    },
                    nullptr, 2);
}

void SetOwner(const Owner &o) { owner = o; }

void MakeTargetFolders(const fs::path &folder) {
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path p = folder; !p.empty() && !fs::exists(fs::symlink_status(p, ec)); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    if (!platform::MakeFolders(folder)) Fail("cannot create the folder " + folder.string(), errno, folder);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        platform::Fd fd = platform::OpenFile(*it, O_RDONLY | O_DIRECTORY);
        if (!fd) Fail("cannot open the folder " + it->string(), errno, *it);
        Give(fd.get(), true, *it);
    }
}

Placed PlaceFile(const fs::path &target, bool replace, bool database, fs::file_time_type modified,
                 const std::function<void(int)> &fill) {
    static std::set<fs::path> cleaned;
    const fs::path folder = target.parent_path();
    MakeTargetFolders(folder);
    // A run killed outright (no chance to clean up) leaves its temporary file: it goes now.
    if (cleaned.insert(folder).second) platform::RemoveStaleTemporaries(folder);
    std::string name;
    platform::Fd parent = platform::OpenParent(target, name);
    if (!parent) Fail("cannot open the folder " + folder.string(), errno, folder);
    struct stat existing {};
    const bool exists = ::fstatat(parent.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && !replace) return Placed::Kept;
    if (exists && !S_ISREG(existing.st_mode)) throw std::runtime_error("something other than a file has that name");
    try {
        platform::AtomicFile file(target);
        fill(file.fd());
        ThrowIfStopped();
        const struct timespec times[2] = {{0, UTIME_OMIT}, Timespec(modified)};
        if (::futimens(file.fd(), times) != 0) Fail("cannot set the time of " + target.string());
        Give(file.fd(), false, target);
        platform::Fd lock;
        if (database && exists) {
            // The engine holds the sidecar .ldb while a database is open: never replace one in use.
            fs::path ldb = target;
            ldb.replace_extension(".ldb");
            lock = platform::OpenFile(ldb, O_RDONLY);
            if (!lock && errno != ENOENT) Fail("cannot open " + ldb.string(), errno, ldb);
            if (lock && ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
                throw std::runtime_error("the database is in use (its .ldb is locked): close the tools and run again");
        }
        ThrowIfStopped();
        file.Commit();
    } catch (const std::system_error &e) {
        Fail("cannot write " + target.string(), e.code().value(), target);
    }
    return Placed::Written;
}

PrivateFolder::PrivateFolder() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = (tmp && *tmp == '/' ? std::string(tmp) : std::string("/var/tmp")) + "/qvmigrate-XXXXXX";
    if (!::mkdtemp(pattern.data())) Fail("cannot create a private folder in " + fs::path(pattern).parent_path().string());
    path_ = pattern;
}

PrivateFolder::~PrivateFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void CopyBytes(const fs::path &from, int to) {
    platform::Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) Fail("cannot read " + from.string());
    std::vector<char> buf(1 << 20);
    long long copied = 0;
    while (true) {
        ThrowIfStopped();
        const ssize_t n = ::read(in.get(), buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail("cannot read " + from.string());
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(to, buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) Fail("cannot write a copy of " + from.string());
            done += w;
        }
        copied += n;
    }
    struct stat st {};
    if (::fstat(in.get(), &st) != 0 || st.st_size != copied)
        throw std::runtime_error(from.string() + " changed while it was copied");
}

}  // namespace qvmigrate
