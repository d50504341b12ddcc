#pragma once
// The complete backup window: choose a destination folder (step 1), then copy the program's folder
// tree there with two copier passes (step 2).
//
// frmQuorDBBkUp.cpp holds the controls, the drive change and Exit; frmQuorDBBkUp_copy.cpp the copy.
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_status.h"
#include "platform/ui/forms.h"

namespace backup {

class frmQuorDBBkUp : public platform::ui::Form {
public:
    frmQuorDBBkUp();
    explicit frmQuorDBBkUp(const std::optional<LastBackup> &last);
    ~frmQuorDBBkUp() override;

    // Controls (owned by the form).
    platform::ui::Label *Label1 = nullptr;
    platform::ui::DriveListBox *Drive1 = nullptr;
    platform::ui::DirListBox *Dir1 = nullptr;
    platform::ui::CommandButton *cmd2 = nullptr;
    platform::ui::CommandButton *cmdExit = nullptr;
    platform::ui::Label *lblLastBackup = nullptr;  // how the last backup went; none before the first
    std::string OldBackupWarning;                   // shown as the window opens; empty when the last is recent

    // Event handlers.
    void Drive1_Change();
    void Dir1_OpenFailed(const std::string &folder, const std::string &reason);
    void cmdExit_Click();
    void cmd2_Click();

protected:
    void Form_Load() override;

private:
    static constexpr int kLastBackupHeight = 800;  // twips: the line about the last backup
    void CannotOpen(const std::string &what, const std::string &reason);  // the box, naming where the lists stay

    bool restoringDrive_ = false;  // Drive1 is being put back after a drive that cannot be opened
};

// `qvutil QBU --unattended [DESTINATION]`: the backup without a window (backup_unattended.cpp); the
// arguments after --unattended name the destination. Returns the exit status.
int RunUnattended(const std::vector<std::string> &arguments);

}  // namespace backup
