// The backup window's controls, the drive change and Exit.
#include "backup/frmQuorDBBkUp.h"

#include <cctype>

#include "platform/error.h"
#include "platform/ui/app.h"

namespace backup {

using platform::ui::MsgBox;

namespace {

std::string DriveName(std::string drive) {  // "e:" -> "E:"
    if (!drive.empty()) drive[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(drive[0])));
    return drive;
}

std::string DriveText(std::string drive) {  // "E:" -> "e:", as Drive1 names its drives
    if (!drive.empty()) drive[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(drive[0])));
    return drive;
}

}  // namespace

frmQuorDBBkUp::frmQuorDBBkUp() : Form("frmQuorDBBkUp", "Quorvant32 Complete Software Backup", 5520, 4260) {
    Label1 = &AddLabel("Label1", -1, {240, 120, 5055, 255}, "Step 1. Select destination for this backup", 4);
    Drive1 = &AddDriveListBox("Drive1", {240, 480, 5055, 315}, 3);
    Dir1 = &AddDirListBox("Dir1", {240, 840, 5055, 2340}, 2);
    Drive1->SetAccessibleName("destination drive", Label1);
    Dir1->SetAccessibleName("destination folder");
    cmd2 = &AddButton("cmd2", -1, {240, 3240, 5055, 375}, "Step 2. Send Backup Copy to Selected Destination", 0);
    cmd2->SetToolTipText(
        "Click this button second to send your database file backup copy to the selected destination");
    cmdExit = &AddButton("cmdExit", -1, {4200, 3720, 1095, 375}, "Exit", 1);
    cmdExit->SetToolTipText("Exit this module");

    Drive1->onChange = [this] { Drive1_Change(); };
    cmd2->onClick = [this] { cmd2_Click(); };
    cmdExit->onClick = [this] { cmdExit_Click(); };
}

frmQuorDBBkUp::~frmQuorDBBkUp() = default;

// Moves Dir1 to the chosen drive's current folder. A drive that cannot be opened is reported and
// Drive1 goes back to the drive Dir1 still shows.
void frmQuorDBBkUp::Drive1_Change() {
    if (restoringDrive_) return;
    const std::string chosen = Drive1->Drive();
    try {
        Dir1->SetPath(chosen);
    } catch (const platform::Error &e) {
        const std::string previous = Dir1->Path().substr(0, 2);
        const std::string reason = e.description.ends_with('.') ? e.description : e.description + ".";
        MsgBox("Drive " + DriveName(chosen) + " cannot be opened: " + reason + "\n\nThe lists stay on drive " +
                   DriveName(previous) + ".",
               platform::ui::vbExclamation);
        if (platform::ui::Ending()) return;
        restoringDrive_ = true;
        Drive1->SetDrive(DriveText(previous));
        restoringDrive_ = false;
    }
}

void frmQuorDBBkUp::cmdExit_Click() { Unload(); }

}  // namespace backup
