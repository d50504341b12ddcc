#include "qvmigrate/place.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace qvmigrate {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> stopRequested{false};

void OnStopSignal(int) { stopRequested = true; }

[[noreturn]] void Fail(const std::string &what, int err = errno) {
    throw std::runtime_error(what + ": " + std::strerror(err));
}

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

void SyncPath(const fs::path &p, int flags) {
    Fd f{::open(p.c_str(), flags | O_CLOEXEC)};
    if (f.fd < 0 || ::fsync(f.fd) != 0) Fail("cannot flush " + p.string());
}

mode_t CreationMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
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

std::string Isolated(const std::function<std::string()> &work) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) Fail("cannot make a pipe");
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = ::fork();
    if (pid < 0) Fail("cannot start a process");
    if (pid == 0) {
        ::close(fds[0]);
        std::string msg;
        try {
            msg = "K" + work();
        } catch (const Stopped &) {
            msg = "S";
        } catch (const std::exception &e) {
            msg = std::string("F") + e.what();
        }
        std::cout.flush();
        std::cerr.flush();
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
    if (msg.empty() && stopRequested) throw Stopped();
    if (WIFSIGNALED(status))
        throw std::runtime_error(std::string("libmdb failed reading it (") + ::strsignal(WTERMSIG(status)) + "): the file is damaged");
    if (msg.empty()) throw std::runtime_error("the reading process ended without an answer");
    if (msg[0] == 'S') throw Stopped();
    if (msg[0] == 'F') throw std::runtime_error(msg.substr(1));
    return msg.substr(1);
}

Placed PlaceFile(const fs::path &target, bool replace, bool database, fs::file_time_type modified,
                 const std::function<void(const fs::path &)> &fill) {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) throw std::runtime_error("cannot create the folder " + target.parent_path().string() + ": " + ec.message());
    // A run killed outright (no chance to clean up) leaves its temporary file: it goes now.
    const std::string stem = "." + target.filename().string() + ".qvmigrate-";
    for (const auto &e : fs::directory_iterator(target.parent_path(), ec))
        if (const auto name = e.path().filename().string(); name.size() == stem.size() + 6 && name.rfind(stem, 0) == 0)
            fs::remove(e.path(), ec);
    const auto existing = fs::symlink_status(target, ec);
    if (fs::exists(existing)) {
        if (!replace) return Placed::Kept;
        if (!fs::is_regular_file(existing)) throw std::runtime_error("something other than a file has that name");
    }
    std::string temp = (target.parent_path() / (stem + "XXXXXX")).string();
    Fd created{::mkstemp(temp.data())};
    if (created.fd < 0) Fail("cannot create a file in " + target.parent_path().string());
    ::fchmod(created.fd, CreationMode());
    try {
        fill(temp);
        ThrowIfStopped();
        fs::last_write_time(temp, modified);
        SyncPath(temp, O_RDONLY);
        Fd lock{-1};
        if (database && fs::exists(existing)) {
            // The engine holds the sidecar .ldb while a database is open: never replace one in use.
            fs::path ldb = target;
            ldb.replace_extension(".ldb");
            lock.fd = ::open(ldb.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (lock.fd < 0 || ::flock(lock.fd, LOCK_EX | LOCK_NB) != 0)
                throw std::runtime_error("the database is in use (its .ldb is locked): close the tools and run again");
        }
        ThrowIfStopped();
        if (::rename(temp.c_str(), target.c_str()) != 0) Fail("cannot rename the finished file to " + target.string());
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
    SyncPath(target.parent_path(), O_RDONLY | O_DIRECTORY);
    return Placed::Written;
}

void CopyBytes(const fs::path &from, const fs::path &to) {
    Fd in{::open(from.c_str(), O_RDONLY | O_CLOEXEC)};
    if (in.fd < 0) Fail("cannot read " + from.string());
    Fd out{::open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC)};
    if (out.fd < 0) Fail("cannot write " + to.string());
    std::vector<char> buf(1 << 20);
    long long copied = 0;
    while (true) {
        ThrowIfStopped();
        const ssize_t n = ::read(in.fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail("cannot read " + from.string());
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out.fd, buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) Fail("cannot write " + to.string());
            done += w;
        }
        copied += n;
    }
    struct stat st {};
    if (::fstat(in.fd, &st) != 0 || st.st_size != copied)
        throw std::runtime_error(from.string() + " changed while it was copied");
}

}  // namespace qvmigrate
