// Listing: choosing an automatic copy in the dialog and showing its time stamp.
#include <algorithm>
#include <cctype>

#include "platform/error.h"
#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/ui/app.h"
#include "restore/frmRestAutoCopy.h"

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

// Only a file in the auto-copy folder is listed (the dialog may have been browsed to any other
// folder, on a mapped drive or not); the file of that name in the auto-copy folder is what Restore
// copies. After a refusal nothing is listed: the text box is empty and Restore off.
void frmRestAutoCopy::cmdList_Click() {
    try {
        const std::string autoCopyFolder = DataFolder + "\\backup";
        cd.InitDir = autoCopyFolder;
        cd.ShowOpen();
        if (platform::ui::Ending()) return;
        const std::string chosenName = cd.FileTitle;
        std::string refusal = RefusalFor(chosenName);
        if (chosenName.empty()) platform::Raise(53);
        const std::string chosenFolder = cd.FileName.substr(0, cd.FileName.size() - chosenName.size());
        if (refusal.empty() && !platform::SameFolder(chosenFolder, autoCopyFolder))
            refusal = cd.FileName + " is not an automatic copy: only the files in the auto-copy folder " +
                      autoCopyFolder + " can be restored, and this one lies in " +
                      chosenFolder.substr(0, chosenFolder.find_last_not_of("\\/") + 1) + ".";
        if (!refusal.empty()) {
            ListNothing();
            MsgBox(refusal);
            return;
        }
        const platform::DateTime written = platform::FileDateTime(autoCopyFolder + "\\" + chosenName);
        txt->SetText(ListingText(chosenName, written));
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
