// ShellAndWait: programs started and waited for, the copier in a terminal window when there is a
// desktop, and the status file through which the copier reports.
#include "platform/process.h"
#include "platform/ascii.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/os_error.h"
#include "platform/paths.h"
#include "platform/safe_file.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

std::mutex recorderMutex;
ShellRecorder recorder;

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

// Starts argv[0] with its arguments in a new session, as a child of this process, and returns its pid
// once the program has been executed, or raises the error of a failed exec. Its standard streams go to
// /dev/null and it inherits no other open file (a database lock held here must not live on in the copier).
// With `endWithUs` it is sent SIGTERM when the thread that started it ends, however that ends (a backup
// killed half way must not leave a copier writing into a destination that the next run takes over).
pid_t Start(const std::vector<std::string> &args, bool endWithUs = false) {
    std::vector<char *> argv;
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) RaiseOsError(errno);
    Fd reading(ends[0]), writing(ends[1]);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) RaiseOsError(errno);
    if (child == 0) {
        // Only async-signal-safe calls from here on.
        reading.reset();
        ::setsid();
        if (endWithUs && (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent)) ::_exit(127);
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
        (void)!::write(writing.get(), &err, sizeof err);
        ::_exit(127);
    }
    writing.reset();
    int err = 0;
    if (ReadFully(reading.get(), &err, sizeof err) == static_cast<ssize_t>(sizeof err)) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        RaiseOsError(err, args.front());
    }
    return child;
}

// The copier beside the running executable, in a terminal window when a desktop is there to show it,
// reporting through the status file.
struct CopierStart {
    std::vector<std::string> argv;
    bool inTerminal = false;
};
CopierStart CopierCommand(const std::string &arguments, const std::string &statusFile,
                          const std::vector<std::string> &options) {
    const fs::path copier = OwnFolder() / "qvxcopy";
    if (!IsExecutable(copier)) RaisePathError(53, copier);
    CopierStart start;
    const char *display = std::getenv("DISPLAY");
    if (display && *display) {
        fs::path terminal = FindOnPath("x-terminal-emulator");
        if (terminal.empty()) terminal = FindOnPath("xterm");
        if (!terminal.empty()) {
            start.argv = {terminal.string(), "-e", copier.string(), kCopierPauseOnFailure};
            start.inTerminal = true;
        }
    }
    if (start.argv.empty()) start.argv.push_back(copier.string());
    start.argv.push_back(kCopierStatusFile + statusFile);
    start.argv.insert(start.argv.end(), options.begin(), options.end());
    if (!arguments.empty()) start.argv.push_back(arguments);
    return start;
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

// A private folder holding the copier's status file, both removed when done; the file is made and
// removed through the folder made here, whatever another name on the way has come to lead to.
class StatusFile {
public:
    StatusFile() {
        std::string folder = (fs::temp_directory_path() / "qvxcopy-XXXXXX").string();
        if (!::mkdtemp(folder.data())) RaiseOsError(errno, fs::temp_directory_path());
        folder_ = folder;
        path_ = folder_ / "status";
        dir_.reset(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (dir_) fd_.reset(::openat(dir_.get(), "status", O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd_) {
            const int err = errno;
            ::rmdir(folder_.c_str());
            RaiseOsError(err, path_);
        }
    }
    ~StatusFile() {
        ::unlinkat(dir_.get(), "status", 0);
        ::rmdir(folder_.c_str());
    }
    const fs::path &path() const { return path_; }
    // What the copier wrote, when it no longer holds the file; nullopt while it does.
    std::optional<std::string> Written() const {
        if (::flock(fd_.get(), LOCK_SH | LOCK_NB) != 0) return std::nullopt;
        std::string text;
        char buffer[4096];
        ssize_t n;
        for (off_t at = 0; (n = ::pread(fd_.get(), buffer, sizeof buffer, at)) > 0; at += n) text.append(buffer, n);
        ::flock(fd_.get(), LOCK_UN);
        return text;
    }

private:
    fs::path folder_, path_;
    Fd dir_, fd_;
};

constexpr const char *kStarted = "started\n";
constexpr const char *kEnded = "end ";

// Waits for a child that is no longer needed, off this thread, so that it leaves no zombie.
void ReapLater(pid_t child) {
    std::thread([child] {
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// Waits until the copier started as `child` (itself, or the terminal it runs in) has reported through
// `status`, or has ended without a report. A terminal may hand the copier to a server of its own and
// end at once, so the copier gets a while to appear after the terminal's end.
ShellOutcome AwaitCopier(pid_t child, const StatusFile &status, const CopierStart &start) {
    using Clock = std::chrono::steady_clock;
    const auto grace = start.inTerminal ? std::chrono::seconds(10) : std::chrono::seconds(0);
    std::optional<Clock::time_point> childEnded;
    int childStatus = -1;
    for (;; std::this_thread::sleep_for(std::chrono::milliseconds(40))) {
        if (!childEnded) {
            int st = 0;
            const pid_t r = ::waitpid(child, &st, WNOHANG);
            if (r == child || (r < 0 && errno == ECHILD)) {
                childEnded = Clock::now();
                if (r == child && WIFEXITED(st)) childStatus = WEXITSTATUS(st);
            }
        }
        const std::optional<std::string> text = status.Written();
        if (!text) continue;  // the copier is at work
        if (const std::size_t end = text->find(kEnded); end != std::string::npos) {
            if (!childEnded) ReapLater(child);
            ShellOutcome outcome;
            const std::size_t line = text->find('\n', end);
            outcome.status = std::atoi(text->c_str() + end + std::strlen(kEnded));
            if (line != std::string::npos) outcome.reason = text->substr(line + 1);
            return outcome;
        }
        if (text->rfind(kStarted, 0) == 0) {
            if (!childEnded) ReapLater(child);
            return {-1, "The copier ended before its work was done: its window was closed, or it was stopped."};
        }
        if (childEnded && Clock::now() - *childEnded >= grace) {
            const std::string ended = " ended with status " + std::to_string(childStatus);
            return {-1, start.inTerminal ? "The copier did not run: its terminal window (" + start.argv.front() + ")" +
                                               ended + " before the copier started."
                                         : "The copier did not run: it" + ended + "."};
        }
    }
}

ShellOutcome Run(const std::string &commandLine, const std::vector<std::string> &copierOptions) {
    std::string program, arguments;
    SplitProgram(commandLine, program, arguments);
    if (program.empty()) Raise(53);
    if (BaseName(program) == "xcopy") {
        const StatusFile status;
        const CopierStart start = CopierCommand(arguments, status.path().string(), copierOptions);
        // A copier in a terminal window outlives us: its window shows why it failed until Enter.
        return AwaitCopier(Start(start.argv, !start.inTerminal), status, start);
    }
    const pid_t child = Start(ProgramCommand(program, arguments));
    int st = 0;
    while (::waitpid(child, &st, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(st)) return {WEXITSTATUS(st), {}};
    return {-1, "It was ended by signal " + std::to_string(WTERMSIG(st)) + "."};
}

ShellRecorder Recorder() {
    std::lock_guard<std::mutex> lock(recorderMutex);
    return recorder;
}

}  // namespace

ShellOutcome ShellAndWait(std::string_view commandLine, const std::vector<std::string> &copierOptions) {
    const std::string line(commandLine);
    if (const ShellRecorder seam = Recorder()) return seam(line, [&] { return Run(line, copierOptions); });
    return Run(line, copierOptions);
}

CopierReport::CopierReport(const std::string &path) {
    if (path.empty()) return;
    fd_ = OpenFile(path, O_WRONLY | O_APPEND);
    struct stat st {};
    if (fd_ && (::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_size != 0))
        fd_.reset();  // not a fresh status file of this user's: nothing is written to it
    if (!fd_) return;
    while (::flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
    }
    (void)WriteFully(fd_.get(), kStarted, std::strlen(kStarted));
}

CopierReport::~CopierReport() = default;

void CopierReport::Finish(int status, const std::string &reason) {
    if (!fd_) return;
    const std::string text = kEnded + std::to_string(status) + "\n" + reason;
    (void)WriteFully(fd_.get(), text.data(), text.size());
    fd_.reset();
}

void SetShellRecorderForTests(ShellRecorder recorder_) {
    std::lock_guard<std::mutex> lock(recorderMutex);
    recorder = std::move(recorder_);
}

}  // namespace platform
