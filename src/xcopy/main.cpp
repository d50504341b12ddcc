// qvxcopy: the copier that the utility starts for a command line whose program is "xcopy".
// argv[1] is the Windows argument text; further arguments are joined to it with blanks.
// The utility starts it in a terminal window with kCopierPauseOnFailure first: a failed copy then keeps its
// window open until Enter is pressed, so that its error can be read. With kCopierStatusFile the exit
// status and the reason of a failure go to the utility that waits for the copy (platform::CopierReport)
// before that pause. SIGINT, SIGTERM and SIGHUP stop it with the temporary of the file at hand removed.
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>

#include "platform/copy_tree.h"
#include "platform/diagnostics.h"
#include "platform/own_folders.h"
#include "platform/process.h"
#include "platform/terminal.h"
#include "xcopy/copier.h"

namespace {

constexpr const char *kUsage = R"(Usage: qvxcopy SOURCE [DESTINATION] [/T] [/S] [/D] [/Y]
Copies files and folder trees given as Windows paths, through the drive map of qvutil.
SOURCE is a folder, a file or a pattern (C:\QVNWin32\*.*); DESTINATION a folder (the current
folder when missing). Switches may be written together (/s/d/y), in any letter case:
  /T  create the folder structure of the source only, without files
  /S  copy the folders and subfolders with their files
  /D  copy only files that are newer than their copy in the destination, or missing there
  /Y  replace existing files without asking
Exit status: 0 done, 1 done but links made by another user not followed, 4 a bad command line,
drive or source, or a cyclic copy, 5 a read or write failure.
See qvxcopy(1).
)";

}  // namespace

int main(int argc, char **argv) {
    if (platform::PrintHelpOrVersion(argc, argv, "qvxcopy", kUsage)) return 0;
    platform::KeepRootToItsOwnFolders();
    int first = 1;
    bool pauseOnFailure = false;
    std::string statusFile;
    xcopy::Options backup;
    for (; first < argc; ++first) {
        const std::string_view arg = argv[first];
        if (arg == platform::kCopierPauseOnFailure)
            pauseOnFailure = true;
        else if (arg.starts_with(platform::kCopierStatusFile))
            statusFile = arg.substr(std::strlen(platform::kCopierStatusFile));
        else if (arg.starts_with(platform::kCopierKeepReplaced))
            backup.keepReplaced = arg.substr(std::strlen(platform::kCopierKeepReplaced));
        else if (arg == platform::kCopierDatabasesApart)
            backup.databasesApart = true;
        else
            break;
    }
    platform::StopCopiesOnSignals();
    platform::CopierReport report(statusFile);
    std::string text;
    for (int i = first; i < argc; ++i) {
        if (i > first) text += ' ';
        text += argv[i];
    }
    const xcopy::Result result = xcopy::Run(text, std::cout, std::cerr, backup);
    if (const int signal = platform::StopSignal()) {
        // Stopped (Ctrl+C, its window closed): the file at hand was left out, its temporary removed. The
        // utility that waits is told by the report that never ends.
        platform::LogEvent("qvxcopy " + text + ": stopped by signal " + std::to_string(signal), true);
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    report.Finish(result.status, result.reason);
    const int status = result.status;
    if (status != xcopy::kSuccess) {
        platform::LogEvent("qvxcopy " + text + ": " + result.reason + " (exit status " + std::to_string(status) + ")",
                           true);
        if (pauseOnFailure) {
            std::cout << "\nThe copy failed. Press Enter to close this window." << std::endl;
            std::string line;
            std::getline(std::cin, line);
        }
    } else if (platform::StdoutIsTerminal()) {
        // Started in a terminal window of its own: leave the listing readable for a moment.
        std::this_thread::sleep_for(std::chrono::seconds(2));
    }
    return status;
}
