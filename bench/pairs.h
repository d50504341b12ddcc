#pragma once
// Interleaved comparisons for the benchmarks.
//
// A comparison runs its two sides pair by pair (A, B, A, B, ...), so that a change of the machine's
// load touches both sides alike, and reports per side the median and minimum time and the peak
// memory, and the median and minimum of the per-pair ratios A/B. Before every run the side's reset
// puts back what a run grows or changes (outside the timing); after every run its check proves that
// the work was done (outside the timing) and stops the program when it was not. Each comparison
// prints its targets with the figures measured.
//
// A benchmark program hands its entries to Main, which reads the command line:
//   bench_x [--pairs N] [--size N[,N...]] [--warmup N] [--list] [name...]
// names select entries (all when none is named); --size replaces the entries' default sizes.
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// A side's run tells the helper about its work through the probe.
class Probe {
public:
    // Ends the timing here; what the run does afterwards (closing a window, waiting for a process to
    // end) is not timed.
    void Stop();
    // The work ran in a child process with this peak resident size: it is the side's peak.
    void ChildPeak(long kilobytes) { childPeakKb_ = kilobytes; }

private:
    friend struct Runner;
    double start_ = 0;
    std::optional<double> stopped_;
    std::optional<long> childPeakKb_;
};

struct Side {
    std::string name;
    std::function<void(Probe &)> run;  // the timed work
    std::function<void()> reset = {};  // before each run, untimed (may be empty)
    std::function<void()> check = {};  // after each run, untimed: throws std::runtime_error if the work was not done
};

enum class Figure {
    RatioMedian,    // median of A/B over the pairs
    SecondsMedian,  // median time of side A
    PeakMB,         // peak extra memory of side A over its runs
};

struct Target {
    Figure figure;
    double limit;  // met when the figure is at most this
};

struct Comparison {
    std::string title;      // what is compared, in one line
    Side a;
    std::optional<Side> b;  // none: side A alone, run N times
    std::vector<Target> targets;
};

// One comparison of a benchmark program, made anew for each size (0 when it takes no size).
struct Entry {
    std::string name;
    std::vector<long> sizes;  // default sizes; empty: no size
    std::function<Comparison(long size)> make;
};

// Parses the command line, runs the selected entries, prints the results. Exit status 0, 1 when a
// check failed or the setup threw, 2 for a bad command line.
int Main(int argc, char **argv, const std::vector<Entry> &entries);

// ---- tools for sides ----

struct ChildResult {
    int status = -1;      // exit status, or 128 + signal
    long peakKb = 0;      // the child's own peak resident size
    double seconds = 0;   // from the start to its end
};

// Starts a program (argv[0] a path) with these variables added to the environment and waits for it;
// `watch`, when given, runs in this process with the child's pid while it runs (the child is killed
// if `watch` throws). Output goes to /dev/null unless keepOutput.
ChildResult Spawn(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env = {},
                  const std::function<void(pid_t)> &watch = {}, bool keepOutput = false);

// Runs a shell command; throws std::runtime_error unless it exits 0.
void Shell(const std::string &command);

// The plain copy that benchmarks compare with: runs `argv` (a cp command line), its peak the side's,
// then sync; throws unless both succeed.
void CopyThenSync(Probe &probe, const std::vector<std::string> &argv);

// Writes a file's dirty pages out and drops its pages from the page cache, so the next read comes from
// the disk (POSIX_FADV_DONTNEED).
void DropFromPageCache(const std::filesystem::path &file);

// Seconds of a monotonic clock.
double Now();

// The benchmarks' working folder: $QV_BENCH_DIR/<name>, else <temp>/qvutil-bench/<name> (created).
std::filesystem::path WorkFolder(const std::string &name);

}  // namespace bench
