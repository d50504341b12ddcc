#pragma once
// The read-date correction window. Loading completes the audit lines of a run killed after its commit,
// lists the codes and fills FRDLK in one transaction; one read-date window (correction or undo) per
// data database. A run that fails before its commit says what failed and that no reading was changed,
// and the window stays open.
//
// Its handlers live in files by concern: frmFixDupRdgs_setup.cpp (controls, load, unload),
// frmFixDupRdgs_fields.cpp (entry fields, prompts, Continue state), frmFixDupRdgs_search.cpp
// (matching-record count), frmFixDupRdgs_update.cpp (the correction run).
#include <memory>
#include <string>

#include "platform/dao/dao.h"
#include "platform/ui/forms.h"

namespace platform { class FileLock; }

namespace readdates {

// Sets the data file path afresh from the settings database, its two values joined untrimmed as
// stored; an empty `current` leaves it as start-up set it. The read-date windows take it so, and it
// names the lock file they share (startup::ReadDateLockOf).
void TakeDataFilePathFromSettings();

// The lock of the read-date windows (correction or undo: one of them per data database). Opens the
// data database into `db` first (a missing one is reported as such), then takes the lock.
// When another window holds it, `db` is closed, a box beginning with `refused` names the database and
// the login of that window, and nothing is returned. A login that may not change the database or its
// folder (its lock files) is told so in a box beginning with `cannot` that names the database; nothing
// is returned and the utility ends with status 1.
std::unique_ptr<platform::FileLock> OpenDataAndTakeWindowLock(platform::dao::Database &db, const std::string &refused,
                                                              const std::string &cannot);

class frmFixDupRdgs : public platform::ui::Form {
public:
    frmFixDupRdgs();
    ~frmFixDupRdgs() override;

    // Controls (owned by the form). lbl has the indices 0 and 2 only.
    platform::ui::Label *lbl[3] = {};
    platform::ui::ComboBox *cboCode = nullptr;
    platform::ui::TextBox *txt[3] = {};
    platform::ui::Line *Line1 = nullptr;
    platform::ui::Line *Line4 = nullptr;
    platform::ui::Label *Label1 = nullptr;
    platform::ui::Label *Label4 = nullptr;
    platform::ui::ProgressBar *pb1 = nullptr;
    platform::ui::CommandButton *cmdContinue = nullptr;
    platform::ui::CommandButton *cmdExit = nullptr;

    // Event handlers.
    void cboCode_KeyPress(int &KeyAscii);
    void txt_KeyPress(int Index, int &KeyAscii);
    void txt_GotFocus(int Index);
    void txt_LostFocus(int Index);
    void cmdContinue_Click();
    void cmdExit_Click();

    // Private routines of the window (public for tests).
    void RefreshContinue();
    void ReportMatchingReadings(int Index);

protected:
    void Form_Load() override;
    void Form_Unload() override;

private:
    bool FillLockTable(platform::dao::Database &db);
    // Load-time state.
    std::string TempDataPath;
    // Held while the window is open: one read-date window per data database.
    std::unique_ptr<platform::FileLock> toolLock_;
};

}  // namespace readdates
