#include "platform/process.h"
#include "platform/ascii.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/error.h"
#include "platform/os_error.h"
#include "platform/paths.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

std::mutex recorderMutex;
std::function<void(const std::string &)> recorder;

bool IsExecutable(const fs::path &p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

fs::path FindOnPath(const std::string &name) {
    const char *env = std::getenv("PATH");
    const std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        const fs::path candidate = fs::path(start == end ? "." : path.substr(start, end - start)) / name;
        if (IsExecutable(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

// The program's name as the Windows command line writes it (quoted or up to the first blank), and the
// argument text after it and the one blank that follows it.
void SplitProgram(std::string_view line, std::string &program, std::string &arguments) {
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    size_t end;
    if (!line.empty() && line.front() == '"') {
        const size_t close = line.find('"', 1);
        end = close == std::string_view::npos ? line.size() : close + 1;
        program = std::string(line.substr(1, (close == std::string_view::npos ? line.size() : close) - 1));
    } else {
        end = 0;
        while (end < line.size() && !IsBlank(line[end])) ++end;
        program = std::string(line.substr(0, end));
    }
    line.remove_prefix(end);
    if (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    arguments = std::string(line);
}

// Splits argument text at blanks outside double quotes; the quotes are removed.
std::vector<std::string> SplitArguments(std::string_view text) {
    std::vector<std::string> out;
    std::string current;
    bool quoted = false, any = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (IsBlank(c) && !quoted) {
            if (any) out.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) out.push_back(current);
    return out;
}

// The program's last path component without ".exe", in lower case: "C:\Windows\XCOPY.EXE" -> "xcopy".
std::string BaseName(const std::string &program) {
    std::string name = program.substr(program.find_last_of("\\/:") == std::string::npos
                                          ? 0
                                          : program.find_last_of("\\/:") + 1);
    for (char &c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name.size() > 4 && name.ends_with(".exe")) name.resize(name.size() - 4);
    return name;
}

fs::path OwnFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) Raise(53);
    return exe.parent_path();
}

// Starts argv[0] with its arguments in a new session, as a grandchild that nobody waits for: the
// intermediate child exits at once and is reaped here, so no zombie stays and the program outlives
// this process. Its standard streams go to /dev/null and it inherits no other open file (a database
// lock held here must not live on in the copier). Returns once the program has been executed, or
// raises the error of a failed exec.
void StartDetached(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) RaiseOsError(errno);
    const pid_t child = ::fork();
    if (child < 0) {
        const int err = errno;
        ::close(report[0]);
        ::close(report[1]);
        RaiseOsError(err);
    }
    if (child == 0) {
        // Only async-signal-safe calls from here on.
        ::close(report[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            if (grandchild < 0) {
                const int err = errno;
                (void)!::write(report[1], &err, sizeof err);
            }
            ::_exit(0);
        }
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
            for (int fd = 3; fd < 4096; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM}) ::signal(sig, SIG_DFL);
        ::execve(argv[0], argv.data(), environ);
        const int err = errno;
        (void)!::write(report[1], &err, sizeof err);
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n;
    while ((n = ::read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n == static_cast<ssize_t>(sizeof err)) RaiseOsError(err, args.front(), 53);
}

// The copier beside the running executable, in a terminal window when a desktop is there to show it.
std::vector<std::string> CopierCommand(const std::string &arguments) {
    const fs::path copier = OwnFolder() / "qvxcopy";
    if (!IsExecutable(copier)) RaisePathError(53, copier);
    std::vector<std::string> argv;
    const char *display = std::getenv("DISPLAY");
    if (display && *display) {
        fs::path terminal = FindOnPath("x-terminal-emulator");
        if (terminal.empty()) terminal = FindOnPath("xterm");
        if (!terminal.empty()) argv = {terminal.string(), "-e", copier.string(), kCopierPauseOnFailure};
    }
    if (argv.empty()) argv.push_back(copier.string());
    if (!arguments.empty()) argv.push_back(arguments);
    return argv;
}

// Any other program: a Windows path through the drive map, or a bare name on PATH.
std::vector<std::string> ProgramCommand(const std::string &program, const std::string &arguments) {
    fs::path exe;
    if (program.find_first_of("\\/:") != std::string::npos) {
        exe = MapPath(program);
        if (!IsExecutable(exe)) RaisePathError(53, exe);
    } else {
        exe = FindOnPath(program);
        if (exe.empty()) Raise(53, ErrorDescription(53) + ": '" + program + "'");
    }
    std::vector<std::string> argv = {exe.string()};
    for (auto &a : SplitArguments(arguments)) argv.push_back(std::move(a));
    return argv;
}

}  // namespace

void Shell(std::string_view commandLine) {
    std::function<void(const std::string &)> seam;
    {
        std::lock_guard<std::mutex> lock(recorderMutex);
        seam = recorder;
    }
    if (seam) {
        seam(std::string(commandLine));
        return;
    }
    std::string program, arguments;
    SplitProgram(commandLine, program, arguments);
    if (program.empty()) Raise(53);
    StartDetached(BaseName(program) == "xcopy" ? CopierCommand(arguments) : ProgramCommand(program, arguments));
}

void SetShellRecorderForTests(std::function<void(const std::string &commandLine)> recorder_) {
    std::lock_guard<std::mutex> lock(recorderMutex);
    recorder = std::move(recorder_);
}

}  // namespace platform
