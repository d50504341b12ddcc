// Listing: choosing an automatic copy in the dialog and showing its time stamp.
#include <algorithm>
#include <cctype>

#include "platform/error.h"
#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "restore/frmRestAutoCopy.h"
#include "startup/shared.h"

namespace restore {

using platform::Upper;

using platform::ui::MsgBox;

namespace {

// The refusal message for a name that is no automatic copy of the data database; empty when none.
std::string RefusalFor(const std::string &chosenName) {
    const std::string name = Upper(chosenName);
    if (name.substr(0, 6) == "GLOBAL") return "You have selected a GLOBAL file...this is not a valid file!";
    if (name.substr(0, 8) == "EMPTDATA") return "You have selected an EMPTDATA file...this is not a valid file!";
    if (name.size() >= 4 && name.substr(name.size() - 4) == ".ZIP")
        return "You have selected a compressed (zip) file...this is not a valid file!";
    return {};
}

}  // namespace

std::string ListingText(const std::string &chosenName, platform::DateTime written) {
    return chosenName + " created " + platform::Format(written, "MM/DD/YYYY HH:MM:SS");
}

std::string SafetyCopyBaseOf(const std::string &name) {
    const std::string upper = Upper(name);
    const std::string mark = Upper(startup::SafetyCopyPrefix(""));
    const auto at = upper.rfind(mark);
    if (at == std::string::npos || at == 0 || upper.size() < 4 || upper.substr(upper.size() - 4) != ".MDB")
        return {};
    const std::string stamp = upper.substr(at + mark.size(), upper.size() - 4 - at - mark.size());
    const auto digits = [](const std::string &s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    // The stamp, then "-2", "-3"... when an earlier safety copy of the same second took the name.
    const bool stamped = stamp.size() == 12 ? digits(stamp)
                                            : stamp.size() > 13 && digits(stamp.substr(0, 12)) && stamp[12] == '-' &&
                                                  digits(stamp.substr(13));
    return stamped ? name.substr(0, at) : std::string();
}

// The data copy of a complete backup, or an earlier state of it: a file named as the live database
// (any letter case) in a folder named as a backup names them, on a mapped drive.
bool frmRestAutoCopy::BackupCopyOf(const std::string &chosenFolder, const std::string &chosenName) const {
    std::string folder = chosenFolder;
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    const std::size_t cut = folder.find_last_of("\\/");
    const std::string name = cut == std::string::npos ? folder : folder.substr(cut + 1);
    return !DataFileName.empty() && Upper(chosenName) == Upper(DataFileName) && folder.size() > 2 && folder[1] == ':' &&
           startup::IsBackupDataFolderName(name);
}

// Listed are the files of the auto-copy folder, and the safety copies that restores kept in the data
// folder (so that a restore can be taken back); the dialog may have been browsed to any other folder,
// on a mapped drive or not, and nothing there is listed. After a refusal nothing is listed: the text
// box is empty and Restore off.
void frmRestAutoCopy::cmdList_Click() {
    try {
        const std::string autoCopyFolder = platform::JoinedPath(DataFolder, "backup");
        cd.InitDir = autoCopyFolder;
        cd.ShowOpen();
        if (platform::ui::Ending()) return;
        const std::string chosenName = cd.FileTitle;
        std::string refusal = RefusalFor(chosenName);
        if (chosenName.empty()) platform::Raise(53);
        const std::string chosenFolder = cd.FileName.substr(0, cd.FileName.size() - chosenName.size());
        const bool autoCopy = platform::SameFolder(chosenFolder, autoCopyFolder);
        const bool safetyCopy = !autoCopy && !SafetyCopyBaseOf(chosenName).empty() &&
                                platform::SameFolder(chosenFolder, DataFolder);
        const bool backupCopy = !autoCopy && !safetyCopy && BackupCopyOf(chosenFolder, chosenName);
        if (refusal.empty() && !autoCopy && !safetyCopy && !backupCopy && platform::EqualsNoCase(chosenName, DataFileName) &&
            platform::SameFolder(chosenFolder, DataFolder))
            refusal = cd.FileName + " is the live database, the one a restore replaces: choose one of its automatic "
                                    "copies in the auto-copy folder " + autoCopyFolder + ".";
        else if (refusal.empty() && !autoCopy && !safetyCopy && !backupCopy)
            refusal = cd.FileName + " is not an automatic copy: only the files in the auto-copy folder " +
                      autoCopyFolder + ", the safety copies that restores kept in " +
                      platform::JoinedPath(DataFolder, "") + " and the copies of " + DataFileName +
                      " that backups made can be restored, and this one lies in " +
                      platform::JoinedPath(chosenFolder, "") + ".";
        if (!refusal.empty()) {
            ListNothing();
            MsgBox(refusal);
            return;
        }
        const std::string listed = backupCopy ? cd.FileName
                                   : platform::JoinedPath(safetyCopy ? DataFolder : autoCopyFolder, chosenName);
        const platform::DateTime written = platform::FileDateTime(listed);
        txt->SetText(ListingText(chosenName, written) +
                     (backupCopy ? " in " + platform::JoinedPath(chosenFolder, "") : std::string()));
        ListedPath = listed;
        ListedSafetyCopy = safetyCopy;
        ListedBackupCopy = backupCopy;
        cmdRestore->SetEnabled(true);
    } catch (const platform::Error &) {
        ListNothing();
        MsgBox("No Files were located.", platform::ui::vbInformation, "NOTHING TO DO");
    }
}

void frmRestAutoCopy::ListNothing() {
    txt->SetText("");
    cmdRestore->SetEnabled(false);
}

}  // namespace restore
