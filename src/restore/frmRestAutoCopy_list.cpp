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

// The copy listed is always the file of the chosen name in the auto-copy folder, whatever folder
// the dialog was browsed to; that same file is what Restore copies.
void frmRestAutoCopy::cmdList_Click() {
    try {
        cd.InitDir = DataFolder + "\\backup";
        cd.ShowOpen();
        if (platform::ui::Ending()) return;
        const std::string chosenName = cd.FileTitle;
        if (const std::string refusal = RefusalFor(chosenName); !refusal.empty()) {
            MsgBox(refusal);
            cmdRestore->SetEnabled(false);
            return;
        }
        if (chosenName.empty()) platform::Raise(53);
        const platform::DateTime written = platform::FileDateTime(DataFolder + "\\backup\\" + chosenName);
        txt->SetText(ListingText(chosenName, written));
        cmdRestore->SetEnabled(true);
    } catch (const platform::Error &) {
        MsgBox("No Files were located.", platform::ui::vbInformation, "NOTHING TO DO");
        cmdRestore->SetEnabled(false);
    }
}

}  // namespace restore
