// The child runner: work done in a forked process (as another login when asked), its answer handed
// back as one Record, what else it printed summed up, a crash or a stop told apart.
#include "qvmigrate/child.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <vector>

#include "platform/copy_tree.h"
#include "platform/file_io.h"
#include "platform/logins.h"
#include "platform/safe_file.h"

namespace qvmigrate {

namespace {

[[noreturn]] void Fail(const std::string &what) { throw Failure(Failure::Run, what + ": " + std::strerror(errno)); }

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
        return platform::WriteFully(fd_, s, static_cast<std::size_t>(n)) == 0 ? n : 0;
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

// The child's answer is one Record: its outcome (kDone, else the kind of its Failure), then the
// record its work made, or the failure's text.
constexpr std::uint64_t kDone = 100;

Record RunChild(const std::function<Record(std::ostream &)> &work, const std::function<void()> &become, std::string *said,
                int streamFd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) Fail("cannot make a pipe");
    platform::Fd fromChild(fds[0]), toParent(fds[1]);
    platform::Fd output(::memfd_create("qvmigrate-output", MFD_CLOEXEC));
    if (!output) Fail("cannot make a file for libmdb's output");
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) Fail("cannot start a process");
    if (pid == 0) {
        fromChild.reset();
        Record answer;
        try {
            const int progressFd = ::fcntl(streamFd, F_DUPFD_CLOEXEC, 3);
            FdBuf progressBuf(progressFd);
            std::ostream progress(&progressBuf);
            if (::dup2(output.get(), 1) < 0 || ::dup2(output.get(), 2) < 0) Fail("cannot redirect libmdb's output");
            become();
            const Record done = work(progress);
            answer.Put(kDone);
            answer.Put(done.bytes);
        } catch (const std::exception &e) {
            const auto *failure = dynamic_cast<const Failure *>(&e);
            answer = {};
            answer.Put(failure ? failure->kind : Failure::Run);
            answer.Put(e.what());
        }
        std::fflush(nullptr);
        (void)platform::WriteFully(toParent.get(), answer.bytes.data(), answer.bytes.size());
        ::_exit(0);
    }
    toParent.reset();
    auto passStop = [pid] {
        if (platform::StopSignal()) ::kill(pid, SIGTERM);
    };
    Record answer;
    char buf[4096];
    while (true) {
        passStop();
        const ssize_t n = ::read(fromChild.get(), buf, sizeof buf);
        if (n > 0) answer.bytes.append(buf, static_cast<std::size_t>(n));
        if (n == 0 || (n < 0 && errno != EINTR)) break;
    }
    fromChild.reset();
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) passStop();
    const std::string printed = Summary(ReadAll(output.get()));
    if (said) *said = printed;
    const std::string also = printed.empty() ? "" : " (libmdb said: " + printed + ")";
    if (answer.bytes.empty() && platform::StopSignal()) throw Failure(Failure::Stopped, "stopped");
    if (WIFSIGNALED(status))
        throw Failure(Failure::Run, std::string("libmdb failed reading it (") + ::strsignal(WTERMSIG(status)) + "): the file is damaged" + also);
    std::uint64_t outcome = 0;
    Record done;
    try {
        outcome = answer.Number();
        done.bytes = answer.Text();
    } catch (const Failure &) {
        throw Failure(Failure::Run, "the reading process ended without an answer" + also);
    }
    if (outcome == kDone) return done;
    const auto kind = outcome <= static_cast<std::uint64_t>(Failure::Run) ? static_cast<Failure::Kind>(outcome) : Failure::Run;
    throw Failure(kind, done.bytes + (kind == Failure::Stopped ? "" : also));
}

}  // namespace

void Record::Put(std::uint64_t number) { bytes.append(reinterpret_cast<const char *>(&number), sizeof number); }

void Record::Put(std::string_view text) {
    Put(static_cast<std::uint64_t>(text.size()));
    bytes.append(text);
}

std::uint64_t Record::Number() {
    std::uint64_t number = 0;
    if (bytes.size() - read_ < sizeof number) throw Failure(Failure::Run, "a record ends early");
    std::memcpy(&number, bytes.data() + read_, sizeof number);
    read_ += sizeof number;
    return number;
}

std::string Record::Text() {
    const std::uint64_t size = Number();
    if (bytes.size() - read_ < size) throw Failure(Failure::Run, "a record ends early");
    read_ += size;
    return bytes.substr(read_ - size, size);
}

Record Isolated(const std::function<Record(std::ostream &)> &work, std::string *said, bool toOutput) {
    return RunChild(work, [] {}, said, toOutput ? 1 : 2);
}

Login OwnLogin() {
    Login me;
    me.uid = ::geteuid();
    me.gid = ::getegid();
    me.name = platform::LoginOrNumber(me.uid);
    return me;
}

Login LoginOf(uid_t uid, gid_t gidWithoutLogin) {
    Login l{true, uid, gidWithoutLogin, {gidWithoutLogin}, platform::LoginOrNumber(uid), {}};
    if (const struct passwd *pw = ::getpwuid(uid)) {
        l.gid = pw->pw_gid;
        l.home = pw->pw_dir;
        int n = 64;
        l.groups.assign(static_cast<std::size_t>(n), 0);
        if (::getgrouplist(pw->pw_name, pw->pw_gid, l.groups.data(), &n) < 0) {
            l.groups.assign(static_cast<std::size_t>(n), 0);
            ::getgrouplist(pw->pw_name, pw->pw_gid, l.groups.data(), &n);
        }
        l.groups.resize(static_cast<std::size_t>(n));
    }
    return l;
}

Login GroupMember(gid_t gid, uid_t notUid) {
    if (const struct group *gr = ::getgrgid(gid))
        for (char **m = gr->gr_mem; *m; ++m)
            if (const struct passwd *pw = ::getpwnam(*m); pw && pw->pw_uid != notUid) return LoginOf(pw->pw_uid, gid);
    ::setpwent();
    while (const struct passwd *pw = ::getpwent())
        if (pw->pw_gid == gid && pw->pw_uid != notUid) {
            const uid_t uid = pw->pw_uid;
            ::endpwent();
            return LoginOf(uid, gid);
        }
    ::endpwent();
    // No login of the group yet: a user id that no login has, in the group alone.
    uid_t uid = 65533;
    while (uid > 1000 && (uid == notUid || ::getpwuid(uid))) --uid;
    return Login{true, uid, gid, {gid}, "uid " + std::to_string(uid), {}};
}

Record IsolatedAs(const Login &as, const std::function<Record()> &work) {
    return RunChild([&](std::ostream &) { return work(); },
                    [&] {
                        // The login's own configuration, as its tools read it, not this process's.
                        for (const char *v : {"QUORVANT_DRIVES", "QUORVANT_PROGRAM_FOLDER"}) ::unsetenv(v);
                        if (!as.switchTo) return;
                        ::unsetenv("XDG_CONFIG_HOME");
                        if (::setgroups(as.groups.size(), as.groups.data()) != 0 || ::setgid(as.gid) != 0 || ::setuid(as.uid) != 0)
                            Fail("cannot take the user and group of " + as.name);
                        if (as.home.empty())
                            ::unsetenv("HOME");
                        else
                            ::setenv("HOME", as.home.c_str(), 1);
                    },
                    nullptr, 2);
}

}  // namespace qvmigrate
