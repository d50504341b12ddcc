#pragma once
// Starting programs, and the copier's report to the program that waits for it.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/safe_file.h"

namespace platform {

// The copier's first arguments when the utility starts it: kCopierPauseOnFailure when it runs in a
// terminal window of its own (after a failure it waits for Enter before it ends, so that its window
// stays open with the error), and kCopierStatusFile followed by the path of its CopierReport.
inline constexpr const char *kCopierPauseOnFailure = "--pause-on-failure";
inline constexpr const char *kCopierStatusFile = "--status-file=";
// For the backup's files pass: kCopierKeepReplaced followed by a Linux folder moves each file that the
// pass replaces there first, at its place in the tree; kCopierDatabasesApart leaves out the databases
// (copy_tree.h, IsDatabaseName), which the backup copies itself.
inline constexpr const char *kCopierKeepReplaced = "--keep-replaced=";
inline constexpr const char *kCopierDatabasesApart = "--databases-apart";

// How a program that ShellAndWait started ended.
struct ShellOutcome {
    int status = -1;     // its exit status; -1 when it did not end by itself or could not start
    std::string reason;  // the copier's own words for a failure; for -1, what happened
};

// Starts a program by a Windows command line and waits until it has ended. A command line whose
// program is "xcopy" starts qvutil's own copier, qvxcopy, installed beside the running executable,
// with the same arguments text; in a terminal window (when a desktop is there), with
// kCopierPauseOnFailure before the text. Any other program is a Windows path through the drive map or
// a name on PATH. The copier, which may run in a terminal window whose own exit tells nothing, reports
// its exit status and the reason of a failure through a CopierReport in a private folder; the wait
// ends when the copier's work is done, even if its window stays open (a failed copy waits for Enter
// there). A copier without a terminal window is stopped (SIGTERM) when the thread that started it ends,
// however it ends. `copierOptions` go to the copier before the arguments text. Raises 53 when the
// program cannot be found. Blocks: run it off the window thread (platform::ui::BusyScope::Run).
ShellOutcome ShellAndWait(std::string_view commandLine, const std::vector<std::string> &copierOptions = {});

// The copier's side of ShellAndWait: opened from the path that followed kCopierStatusFile, it is held
// (locked) while the copier works, so that a copier that ended without a word (killed, its window
// closed) is told from one still at work. Without a path, or for a file that is not an empty file of
// the running user's, it does nothing.
class CopierReport {
public:
    explicit CopierReport(const std::string &path);
    ~CopierReport();
    CopierReport(const CopierReport &) = delete;
    CopierReport &operator=(const CopierReport &) = delete;
    // Writes the exit status and the reason of a failure, and lets the waiting program go on.
    void Finish(int status, const std::string &reason);

private:
    Fd fd_;
};

// Tests: every command line goes to `recorder` instead, with a function that starts it for real
// and waits for it; what the recorder returns is the outcome. An empty function restores ShellAndWait.
using ShellRecorder =
    std::function<ShellOutcome(const std::string &commandLine, const std::function<ShellOutcome()> &start)>;
void SetShellRecorderForTests(ShellRecorder recorder);

}  // namespace platform
