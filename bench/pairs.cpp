#include "pairs.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace bench {

namespace fs = std::filesystem;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Probe::Stop() {
    if (!stopped_) stopped_ = Now();
}

namespace {

// A "Vm...:" line of /proc/self/status, in kB.
long StatusKb(const char *key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, n, key) == 0) return std::atol(line.c_str() + n);
    return 0;
}

// Sets the process's peak resident size back to its current size; false where the kernel refuses.
bool ResetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

std::string LoadAverages() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Min(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

std::string Fixed(double x, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, x);
    return buf;
}

std::string Secs(double s) { return s < 0.1 ? Fixed(s * 1000, 2) + " ms" : Fixed(s, 3) + " s"; }

// The processor time of the process so far (user + system, every thread), in seconds.
double CpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    auto secs = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return secs(ru.ru_utime) + secs(ru.ru_stime);
}

// Bytes of /proc/self/io so far: "write_bytes:" (sent on towards the disk) or "wchar:" (passed to write
// calls, page cache included).
double IoBytes(const char *key) {
    std::ifstream in("/proc/self/io");
    std::string k;
    double v = 0;
    while (in >> k >> v)
        if (k == key) return v;
    return 0;
}

struct Runs {
    std::vector<double> seconds;
    std::vector<double> cpu;       // user + system seconds of this process over the timed run
    std::vector<double> written;   // bytes it wrote towards the disk (write_bytes: counted as pages get dirty) over the run
    double peakExtraMb = 0;  // the largest growth over the resident size a run started with
    double peakMb = 0;       // the largest resident size seen (the child's own for a child)
    bool child = false;
};

}  // namespace

// Runs one side once: reset, timed run, check.
struct Runner {
    bool peakPerRun = ResetPeak();

    void Once(const Side &side, Runs &runs, bool record) {
        if (side.reset) side.reset();
        malloc_trim(0);  // memory freed by earlier runs goes back, so the base is what is live
        peakPerRun = peakPerRun && ResetPeak();
        const long base = StatusKb("VmRSS:");
        const double cpu0 = CpuSeconds(), written0 = IoBytes("write_bytes:");
        Probe probe;
        probe.start_ = Now();
        side.run(probe);
        const double end = probe.stopped_ ? *probe.stopped_ : Now();
        const double cpu = CpuSeconds() - cpu0, written = IoBytes("write_bytes:") - written0;
        const long hwm = StatusKb("VmHWM:");
        if (side.check) side.check();
        if (!record) return;
        runs.seconds.push_back(end - probe.start_);
        runs.cpu.push_back(cpu);
        runs.written.push_back(written);
        if (probe.childPeakKb_) {
            runs.child = true;
            runs.peakExtraMb = std::max(runs.peakExtraMb, *probe.childPeakKb_ / 1024.0);
            runs.peakMb = std::max(runs.peakMb, *probe.childPeakKb_ / 1024.0);
        } else {
            runs.peakExtraMb = std::max(runs.peakExtraMb, (hwm - base) / 1024.0);
            runs.peakMb = std::max(runs.peakMb, hwm / 1024.0);
        }
    }
};

namespace {

struct Options {
    int pairs = 7;
    int warmup = 0;
    std::optional<std::vector<long>> sizes;
    std::vector<std::string> names;
    bool list = false;
};

std::vector<long> SizeList(const std::string &text) {
    std::vector<long> sizes;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        item.erase(std::remove(item.begin(), item.end(), '_'), item.end());
        char *end = nullptr;
        const long v = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || v <= 0) throw std::invalid_argument("bad size: " + item);
        sizes.push_back(v);
    }
    return sizes;
}

Options Parse(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
            return argv[++i];
        };
        if (a == "--pairs") {
            o.pairs = std::stoi(value());
            if (o.pairs < 1) throw std::invalid_argument("--pairs must be at least 1");
        } else if (a == "--warmup") {
            o.warmup = std::stoi(value());
        } else if (a == "--size") {
            o.sizes = SizeList(value());
        } else if (a == "--list") {
            o.list = true;
        } else if (!a.empty() && a[0] == '-') {
            throw std::invalid_argument("unknown option " + a);
        } else {
            o.names.push_back(a);
        }
    }
    return o;
}

bool Selected(const Options &o, const std::string &name) {
    if (o.names.empty()) return true;
    return std::find(o.names.begin(), o.names.end(), name) != o.names.end();
}

void PrintSide(const char *letter, const Side &side, const Runs &r) {
    std::printf("  %s %-40s median %-10s min %-10s peak %s%.1f MB%s\n", letter, side.name.c_str(),
                Secs(Median(r.seconds)).c_str(), Secs(Min(r.seconds)).c_str(), r.child ? "" : "+", r.peakExtraMb,
                r.child ? " (its own process)" : "");
}

// Runs one comparison and prints its figures and targets.
void Run(const std::string &name, const Comparison &c, const Options &o) {
    std::printf("== %s: %s\n", name.c_str(), c.title.c_str());
    std::printf("   %d %s, load average %s at the start\n", o.pairs, c.b ? "pairs (A, B, A, B, ...)" : "runs",
                LoadAverages().c_str());
    std::fflush(stdout);
    Runner runner;
    Runs a, b;
    for (int i = 0; i < o.warmup; ++i) {
        runner.Once(c.a, a, false);
        if (c.b) runner.Once(*c.b, b, false);
    }
    std::vector<double> ratios;
    for (int i = 0; i < o.pairs; ++i) {
        runner.Once(c.a, a, true);
        if (c.b) {
            runner.Once(*c.b, b, true);
            ratios.push_back(a.seconds.back() / b.seconds.back());
        }
    }
    PrintSide("A", c.a, a);
    if (c.b) PrintSide("B", *c.b, b);
    if (c.b) std::printf("  A/B %-40s median %.2fx      min %.2fx\n", "", Median(ratios), Min(ratios));
    // Processor time and bytes written of work done in this process, beside the time: where the disk's
    // waits make the times of a shared machine vary, these vary less.
    auto own = [](const char *letter, const Runs &r) {
        if (r.child) return;
        std::printf("     %s user+sys median %-10s bytes written median %.1f MB\n", letter, Secs(Median(r.cpu)).c_str(),
                    Median(r.written) / 1e6);
    };
    own("A", a);
    if (c.b) {
        own("B", b);
        if (!a.child && !b.child) {
            std::vector<double> cpuRatios;
            for (size_t i = 0; i < a.cpu.size(); ++i) cpuRatios.push_back(a.cpu[i] / std::max(b.cpu[i], 1e-9));
            std::printf("     user+sys A/B median %.2fx      min %.2fx\n", Median(cpuRatios), Min(cpuRatios));
        }
    }
    if (!runner.peakPerRun) std::printf("  (peak memory is the process's peak so far: the kernel refused a reset)\n");
    for (const Target &t : c.targets) {
        double figure = 0;
        std::string what, shown, limit;
        switch (t.figure) {
        case Figure::RatioMedian:
            figure = Median(ratios);
            what = "median A/B";
            shown = Fixed(figure, 2) + "x";
            limit = Fixed(t.limit, 2) + "x";
            break;
        case Figure::SecondsMedian:
            figure = Median(a.seconds);
            what = "median time of A";
            shown = Secs(figure);
            limit = Secs(t.limit);
            break;
        case Figure::PeakMB:
            figure = a.peakExtraMb;
            what = "peak extra memory of A";
            shown = Fixed(figure, 1) + " MB";
            limit = Fixed(t.limit, 0) + " MB";
            break;
        }
        std::printf("  target: %s <= %s; measured %s: %s\n", what.c_str(), limit.c_str(), shown.c_str(),
                    figure <= t.limit ? "met" : "MISSED");
    }
    std::printf("   load average %s at the end\n\n", LoadAverages().c_str());
    std::fflush(stdout);
}

}  // namespace

int Main(int argc, char **argv, const std::vector<Entry> &entries) {
    Options o;
    try {
        o = Parse(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\nusage: %s [--pairs N] [--size N[,N...]] [--warmup N] [--list] [name...]\n",
                     e.what(), argv[0]);
        return 2;
    }
    if (o.list) {
        for (const Entry &e : entries) {
            std::printf("%s", e.name.c_str());
            for (long s : e.sizes) std::printf(" %ld", s);
            std::printf("\n");
        }
        return 0;
    }
    int status = 0;
    for (const Entry &e : entries) {
        if (!Selected(o, e.name)) continue;
        std::vector<long> sizes = e.sizes.empty() ? std::vector<long>{0} : (o.sizes ? *o.sizes : e.sizes);
        for (long size : sizes) {
            const std::string name = size ? e.name + "/" + std::to_string(size) : e.name;
            try {
                Run(name, e.make(size), o);
            } catch (const std::exception &ex) {
                std::printf("  FAILED: %s\n\n", ex.what());
                std::fflush(stdout);
                status = 1;
            }
        }
    }
    return status;
}

ChildResult Spawn(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
                  const std::function<void(pid_t)> &watch, bool keepOutput) {
    std::map<std::string, std::string> all;
    for (char **e = environ; *e; ++e) {
        const std::string kv = *e;
        const size_t eq = kv.find('=');
        if (eq != std::string::npos) all[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto &[k, v] : env) all[k] = v;
    std::vector<std::string> envText;
    for (const auto &[k, v] : all) envText.push_back(k + "=" + v);
    std::vector<char *> args, envp;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (auto &kv : envText) envp.push_back(kv.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!keepOutput) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    ChildResult r;
    const double t0 = Now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    try {
        if (watch) watch(pid);
    } catch (...) {
        ::kill(pid, SIGKILL);
        int ignored = 0;
        ::waitpid(pid, &ignored, 0);
        throw;
    }
    int st = 0;
    rusage ru{};
    if (::wait4(pid, &st, 0, &ru) != pid) throw std::runtime_error("wait4 failed");
    r.seconds = Now() - t0;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    r.peakKb = ru.ru_maxrss;
    return r;
}

void Shell(const std::string &command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

void CopyThenSync(Probe &probe, const std::vector<std::string> &argv) {
    const ChildResult r = Spawn(argv);
    probe.ChildPeak(r.peakKb);
    if (r.status != 0) throw std::runtime_error(argv[0] + " ended with status " + std::to_string(r.status));
    Shell("sync");
}

void DropFromPageCache(const fs::path &file) {
    const int fd = ::open(file.c_str(), O_RDONLY);
    if (fd < 0) throw std::runtime_error("cannot open " + file.string());
    ::fdatasync(fd);
    const int rc = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
    if (rc != 0) throw std::runtime_error("posix_fadvise failed on " + file.string());
}

fs::path WorkFolder(const std::string &name) {
    const char *base = std::getenv("QV_BENCH_DIR");
    const fs::path dir = (base ? fs::path(base) : fs::temp_directory_path() / "qvutil-bench") / name;
    fs::create_directories(dir);
    return dir;
}

}  // namespace bench
