// Step 2 of the backup window: the destination folder and the two copier passes.
#include <string>

#include "backup/frmQuorDBBkUp.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/ui/app.h"

namespace backup {

using platform::ui::MsgBox;
using platform::ui::vbInformation;

namespace {

// Every step of the copy is passed over without a message when it fails.
template <class Step>
void SkipOnFailure(Step step) {
    try {
        step();
    } catch (const platform::Error &) {
    }
}

std::string Quoted(const std::string &path) {
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

}  // namespace

std::string CopyCommand(const std::string &programFolder, const std::string &target, const std::string &switches) {
    return "xcopy " + Quoted(programFolder + "\\*.*") + " " + Quoted(target) + " " + switches;
}

void frmQuorDBBkUp::cmd2_Click() {
    std::string programFolder;
    std::string destination;
    SkipOnFailure([&] { programFolder = platform::AppPath(); });
    SkipOnFailure([&] { destination = Dir1->Path(); });

    // Named after the program folder, letter case exact.
    const std::string folderName =
        programFolder.find("QVNWin32") != std::string::npos ? "QVNWin32" : "QVWin32";
    const std::string target = destination + "\\" + folderName;

    // Create the destination folder unless it already holds files; an existing folder is fine.
    SkipOnFailure([&] {
        if (platform::ListFiles(target + "\\*.*").empty()) platform::MkDir(target);
    });

    platform::LogEvent("backup started: " + CopyCommand(programFolder, target, "/T/Y") + ", then " +
                       CopyCommand(programFolder, target, "/s/d/y"));
    SkipOnFailure([&] { platform::Shell(CopyCommand(programFolder, target, "/T/Y")); });
    SkipOnFailure([&] { MsgBox("Click OK when the black screen disappears.", vbInformation, "STEP 1"); });
    if (platform::ui::Ending()) return;
    SkipOnFailure([&] { platform::Shell(CopyCommand(programFolder, target, "/s/d/y")); });
    SkipOnFailure([&] { MsgBox("All files have been copied to " + target, vbInformation, "FINISHED"); });
    if (platform::ui::Ending()) return;
    // The copier passes go on by themselves.
    platform::ui::End(0);
}

}  // namespace backup
