#pragma once
// A forked child process of a test, killed when the object goes.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>

namespace qvtest {

// A forked child running `body`; its exit status is body's return value (99 when it throws).
class Child {
public:
    explicit Child(const std::function<int()> &body) {
        pid_ = ::fork();
        if (pid_ == 0) {
            int rc = 99;
            try {
                rc = body();
            } catch (...) {
            }
            ::_exit(rc);
        }
    }
    ~Child() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    void Kill() { ::kill(pid_, SIGKILL); }
    // Stops it and returns once it stands still; Continue lets it go on.
    void Stop() {
        int status = 0;
        ::kill(pid_, SIGSTOP);
        ::waitpid(pid_, &status, WUNTRACED);
    }
    void Continue() { ::kill(pid_, SIGCONT); }
    pid_t Pid() const { return pid_; }
    // Whether it has ended (its status is kept for Wait).
    bool Ended() const {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
    }
    // The exit status, or 128 + the signal that ended it.
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    bool waited_ = false;
};

// Runs `body` in a forked child as the login nobody (the caller is root): body's return value, 98 when
// the login cannot be taken, 99 when body throws.
inline int AsNobody(const std::function<int()> &body) {
    Child child([&] { return ::setgid(65534) == 0 && ::setuid(65534) == 0 ? body() : 98; });
    return child.Wait();
}

}  // namespace qvtest
