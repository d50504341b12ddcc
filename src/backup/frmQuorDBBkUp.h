#pragma once
// The complete backup window: choose a destination folder (step 1), then copy the program's folder
// tree there with two copier passes (step 2).
//
// frmQuorDBBkUp.cpp holds the controls, the drive change and Exit; frmQuorDBBkUp_copy.cpp the copy.
#include <string>

#include "platform/ui/forms.h"

namespace backup {

class frmQuorDBBkUp : public platform::ui::Form {
public:
    frmQuorDBBkUp();
    ~frmQuorDBBkUp() override;

    // Controls (owned by the form).
    platform::ui::Label *Label1 = nullptr;
    platform::ui::DriveListBox *Drive1 = nullptr;
    platform::ui::DirListBox *Dir1 = nullptr;
    platform::ui::CommandButton *cmd2 = nullptr;
    platform::ui::CommandButton *cmdExit = nullptr;

    // Event handlers.
    void Drive1_Change();
    void Dir1_OpenFailed(const std::string &folder, const std::string &reason);
    void cmdExit_Click();
    void cmd2_Click();

private:
    void CannotOpen(const std::string &what, const std::string &reason);  // the box, naming where the lists stay

    bool restoringDrive_ = false;  // Drive1 is being put back after a drive that cannot be opened
};

}  // namespace backup
