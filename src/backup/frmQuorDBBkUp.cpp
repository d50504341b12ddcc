// The backup window's controls, the drive change and Exit. A drive that cannot be opened, or a folder
// opened in Dir1 that cannot be opened (onOpenFailed), is reported and the lists stay as they were.
#include "backup/frmQuorDBBkUp.h"

#include <algorithm>
#include <cctype>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "startup/shared.h"

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

// How the last backup went (backup_status.h), read before the controls are laid out: the line goes
// under the heading and moves the other controls down.
frmQuorDBBkUp::frmQuorDBBkUp() : frmQuorDBBkUp(ReadLastBackup(platform::AppPath())) {}

frmQuorDBBkUp::frmQuorDBBkUp(const std::optional<LastBackup> &last)
    : Form("frmQuorDBBkUp", "Quorvant32 Complete Software Backup", 5520, 4260 + (last ? kLastBackupHeight : 0)) {
    const int down = last ? kLastBackupHeight : 0;
    Label1 = &AddLabel("Label1", -1, {240, 120, 5055, 255}, "Step 1. Select destination for this backup", 4);
    if (last) {
        bool alarm = false;
        // The line holds the reason's beginning; its tool tip and the warning hold the whole of it.
        const platform::DateTime now = platform::Now();
        const std::string text = LastBackupText(*last, now, alarm);
        lblLastBackup = &AddLabel("lblLastBackup", -1, {240, 420, 5055, kLastBackupHeight},
                                  LastBackupText(*last, now, alarm, 90), 5);
        lblLastBackup->SetToolTipText(text);
        if (alarm) OldBackupWarning = "No backup was checked good in the last two days. " + text;
    }
    Drive1 = &AddDriveListBox("Drive1", {240, 480 + down, 5055, 315}, 3);
    Dir1 = &AddDirListBox("Dir1", {240, 840 + down, 5055, 2340}, 2);
    Drive1->SetAccessibleName("destination drive", Label1);
    Dir1->SetAccessibleName("destination folder");
    cmd2 = &AddButton("cmd2", -1, {240, 3240 + down, 5055, 375}, "Step 2. Send Backup Copy to Selected Destination", 0);
    cmd2->SetToolTipText(
        "Click this button second to send your database file backup copy to the selected destination");
    cmdExit = &AddButton("cmdExit", -1, {4200, 3720 + down, 1095, 375}, "Exit", 1);
    cmdExit->SetToolTipText("Exit this module");

    Drive1->onChange = [this] { Drive1_Change(); };
    Dir1->onOpenFailed = [this](const std::string &folder, const std::string &reason) {
        Dir1_OpenFailed(folder, reason);
    };
    cmd2->onClick = [this] { cmd2_Click(); };
    cmdExit->onClick = [this] { cmdExit_Click(); };
}

frmQuorDBBkUp::~frmQuorDBBkUp() = default;

// Started off the drives (a launcher's folder that the configuration maps to no drive), the lists open
// on the backup drive E: when it is mapped, else on the program folder's drive. A read-date window
// killed on the data database left its lock file there, which the copy would carry: it goes now. A
// backup that failed or did not run for two days is told in a box before the window shows.
void frmQuorDBBkUp::Form_Load() {
    if (!OldBackupWarning.empty()) MsgBox(OldBackupWarning, platform::ui::vbExclamation, "BACKUP");
    startup::RemoveKilledWindowLock(startup::Shared().DataFilePath);
    if (platform::CurrentFolderOnADrive()) return;
    const auto drives = platform::Drives();
    const bool backupDrive = std::any_of(drives.begin(), drives.end(), [](const auto &d) { return d.letter == 'E'; });
    Drive1->SetDrive(backupDrive ? "e:" : DriveText(platform::AppPath().substr(0, 2)));
}

// Moves Dir1 to the chosen drive's current folder. A drive that cannot be opened is reported and
// Drive1 goes back to the drive Dir1 still shows.
void frmQuorDBBkUp::Drive1_Change() {
    if (restoringDrive_) return;
    const std::string chosen = Drive1->Drive();
    try {
        Dir1->SetPath(chosen);
    } catch (const platform::Error &e) {
        CannotOpen("Drive " + DriveName(chosen), platform::Message(e));
        if (platform::ui::Ending()) return;
        restoringDrive_ = true;
        Drive1->SetDrive(DriveText(Dir1->Path().substr(0, 2)));
        restoringDrive_ = false;
    }
}

// A folder opened in Dir1 that cannot be opened (removed meanwhile, the disk pulled, a name that no
// Windows path reaches) is reported as a drive is; the list is read again where it stands.
void frmQuorDBBkUp::Dir1_OpenFailed(const std::string &folder, const std::string &reason) {
    CannotOpen("The folder " + folder, reason);
    if (platform::ui::Ending()) return;
    try {
        Dir1->SetPath(Dir1->Path());
    } catch (const platform::Error &) {
        // the open folder is gone too: the list keeps what it showed, and Step 2 names the failure
    }
}

void frmQuorDBBkUp::CannotOpen(const std::string &what, const std::string &reason) {
    MsgBox(what + " cannot be opened: " + (reason.ends_with('.') ? reason : reason + ".") + "\n\nThe lists stay on '" +
               Dir1->Path() + "'.",
           platform::ui::vbExclamation);
}

void frmQuorDBBkUp::cmdExit_Click() { Unload(); }

}  // namespace backup
