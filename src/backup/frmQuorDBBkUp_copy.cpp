// Step 2 of the backup window: the destination folder, the two copier passes and the check of the copy.
//
// A destination that cannot work is refused before anything starts, and the window stays open for
// another choice. The window waits for each pass (busy: input blocked, the display kept current) and
// reads how it ended; after both passes every file that they were to copy is compared with the
// program folder's. "STEP 1" and "FINISHED" come only while everything succeeds; a failed pass or
// check ends in a critical box that says the backup is not complete, why and how many files were
// checked good, and the utility ends.
#include <iostream>
#include <string>

#include "backup/frmQuorDBBkUp.h"
#include "platform/ascii.h"
#include "platform/copy_tree.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/ui/app.h"

namespace backup {

using platform::ui::MsgBox;
using platform::ui::vbCritical;
using platform::ui::vbInformation;

namespace {

constexpr const char *kTitle = "BACKUP";

std::string Quoted(const std::string &path) {
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

// Why the program folder cannot be copied to `target`; empty when it can. Makes the target folder.
std::string Refusal(const std::string &programFolder, const std::string &target) {
    if (const std::string c = platform::ForbiddenCharacter(target, true); !c.empty())
        return "Its name holds " + c + ", which Windows does not allow in names.";
    if (const std::string c = platform::ForbiddenCharacter(programFolder, true); !c.empty())
        return "The name of the program folder " + programFolder + " holds " + c +
               ", which Windows does not allow in names.";
    if (platform::LiesWithin(target, programFolder))
        return "It is the program folder " + programFolder +
               " or lies inside it: the folder would be copied into itself.";
    try {
        platform::PrepareCopyDestination(target);
    } catch (const platform::Error &e) {
        // Refused to this login: which folder it may not write in, and why when its group is the cause.
        if (e.number == 70 && !e.file.empty() && !platform::NamesRefusedLink(e.description))
            return platform::LoginMayNotWriteIn(e.file);
        return platform::WithFullStop(platform::Message(e, {target}));  // named in the refusal's sentence
    }
    return {};
}

// Runs `work` with the window busy.
template <class Work>
void Busy(const Work &work) {
    platform::ui::BusyScope busy;
    busy.Run(work);
}

// Runs one copier pass and waits for it; empty when it succeeded, else why not.
std::string Pass(const std::string &command) {
    platform::ShellOutcome pass;
    try {
        Busy([&] { pass = platform::ShellAndWait(command); });
    } catch (const platform::Error &e) {
        return "The copier could not be started: " + platform::WithFullStop(platform::Message(e));
    }
    if (pass.status == 0) return {};
    if (pass.reason.empty()) return "The copier ended with exit status " + std::to_string(pass.status) + ".";
    // -1: it did not end by itself; 1: it left out what links of another user name, and says so.
    if (pass.status < 0 || pass.status == 1) return platform::WithFullStop(pass.reason);
    return "The copier stopped: " + platform::WithFullStop(pass.reason);
}

// The files of a check that are missing or differ, the first few by name; empty when there are none.
std::string Differences(const platform::TreeCheck &check) {
    const long bad = check.files - check.good, named = static_cast<long>(check.firstBad.size());
    if (bad == 0) return {};
    std::string text = bad == 1 ? "1 file in the copy is missing or differs"
                                : std::to_string(bad) + " files in the copy are missing or differ";
    text += " from the program folder's:";
    for (const std::string &name : check.firstBad) text += "\n" + name;
    if (bad > named) text += "\n(and " + std::to_string(bad - named) + " more)";
    return text;
}

// What to do about copies that a backup keeps because they are newer than the program folder's files.
std::string NewerCopies(const platform::TreeCheck &check, const std::string &target) {
    if (check.newer == 0) return {};
    return std::string(check.newer == 1 ? "A file in the copy is newer than the program folder's, so the backup left "
                                          "it as it was"
                                        : std::to_string(check.newer) + " files in the copy are newer than the "
                                          "program folder's, so the backup left them as they were") +
           " (it replaces only older copies). To make a complete backup, remove the folder " + target +
           " or choose another folder, and make the backup again.";
}

// Tells the clerk, the system log and standard error.
void Tell(const std::string &prompt, const std::string &logPrefix) {
    platform::LogEvent(logPrefix + prompt, true);
    std::cerr << prompt << std::endl;
    MsgBox(prompt, vbCritical, kTitle);
}

}  // namespace

std::string CopyCommand(const std::string &programFolder, const std::string &target, const std::string &switches) {
    return "xcopy " + Quoted(programFolder + "\\*.*") + " " + Quoted(target) + " " + switches;
}

void frmQuorDBBkUp::cmd2_Click() {
    const std::string programFolder = platform::AppPath();
    // Named after the program folder, letter case exact.
    const std::string folderName = programFolder.find("QVNWin32") != std::string::npos ? "QVNWin32" : "QVWin32";
    const std::string destination = Dir1->Path();
    const std::string target = destination + "\\" + folderName;  // joined as text: "E:\\QVNWin32" on a root
    const std::string shown = platform::JoinedPath(destination, folderName);  // messages: one backslash

    if (const std::string why = Refusal(programFolder, target); !why.empty()) {
        Tell("The backup cannot be made in " + shown + ".\n\n" + why +
                 "\n\nNothing was copied. Choose another destination.",
             "backup not started: ");
        return;
    }

    const std::string structure = CopyCommand(programFolder, target, "/T/Y");
    const std::string files = CopyCommand(programFolder, target, "/s/d/y");
    // Named as the messages name the folders (the command lines join a drive root as "E:\\QVNWin32").
    platform::LogEvent("backup started: " + programFolder + " copied into " + shown +
                       " by two copier passes (xcopy /T/Y, then /s/d/y)");
    std::string failure = Pass(structure);
    if (failure.empty()) {
        MsgBox("Click OK when the black screen disappears.", vbInformation, "STEP 1");
        if (platform::ui::Ending()) return;
        failure = Pass(files);
    }

    // Checked after a failed pass too, to tell how much of the copy is good.
    platform::TreeCheck check;
    std::string checked;
    try {
        Busy([&] { check = platform::CheckCopiedTree(programFolder, "*.*", target); });
        checked = std::to_string(check.good) + " of " + std::to_string(check.files) +
                  " files of the program folder were checked good there.";
        if (failure.empty()) failure = Differences(check);
    } catch (const platform::Error &e) {
        checked = "The copy could not be checked: " + platform::WithFullStop(platform::Message(e));
    }
    if (!failure.empty() || check.good < check.files) {
        std::string why = failure.empty() ? checked : failure + "\n\n" + checked;
        if (const std::string advice = NewerCopies(check, shown); !advice.empty()) why += "\n\n" + advice;
        Tell("The backup in " + shown + " is not complete.\n\n" + why, "backup not complete: ");
        if (!platform::ui::Ending()) platform::ui::End(1);
        return;
    }
    platform::LogEvent("backup finished: " + std::to_string(check.files) + " files checked good in " + shown);
    MsgBox("All files have been copied to " + shown, vbInformation, "FINISHED");
    if (platform::ui::Ending()) return;
    platform::ui::End(0);
}

}  // namespace backup
