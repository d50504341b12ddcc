// qvxcopy: the copier that the utility starts for a command line whose program is "xcopy".
// argv[1] is the Windows argument text; further arguments are joined to it with blanks.
#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "platform/diagnostics.h"
#include "platform/terminal.h"
#include "xcopy/copier.h"
#include "xcopy/output_tail.h"

namespace {

constexpr const char *kUsage = R"(Usage: qvxcopy SOURCE [DESTINATION] [/T] [/S] [/D] [/Y]
Copies files and folder trees given as Windows paths, through the drive map of qvutil.
SOURCE is a folder, a file or a pattern (C:\QVNWin32\*.*); DESTINATION a folder (the current
folder when missing). Switches may be written together (/s/d/y), in any letter case:
  /T  create the folder structure of the source only, without files
  /S  copy the folders and subfolders with their files
  /D  copy only files that are newer than their copy in the destination, or missing there
  /Y  replace existing files without asking
Exit status: 0 done, 4 a bad command line, drive or source, or a cyclic copy, 5 a write failure.
See qvxcopy(1).
)";

}  // namespace

int main(int argc, char **argv) {
    if (platform::PrintHelpOrVersion(argc, argv, "qvxcopy", kUsage)) return 0;
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    xcopy::OutputTail out(std::cout, 2);
    int status = xcopy::Run(text, out);
    if (status != xcopy::kSuccess)
        platform::LogEvent("qvxcopy " + text + ": " + out.Text() + " (exit status " + std::to_string(status) + ")", true);
    // Started in a terminal window of its own: leave the listing readable for a moment.
    if (platform::StdoutIsTerminal()) std::this_thread::sleep_for(std::chrono::seconds(2));
    return status;
}
