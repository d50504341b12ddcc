#pragma once
// The window that undoes read-date corrections: the runs recorded in the data database, newest first,
// and Undo for the chosen one.
//
// frmUndoFixRdgs.cpp holds the controls, loading (the one-window lock, the list) and unloading;
// frmUndoFixRdgs_undo.cpp the undo run.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/forms.h"
#include "readdates/run_record.h"

namespace platform {
class FileLock;
struct Error;
}

namespace undo {

class frmUndoFixRdgs : public platform::ui::Form {
public:
    frmUndoFixRdgs();
    ~frmUndoFixRdgs() override;

    // Controls (owned by the form).
    platform::ui::Label *lbl = nullptr;
    platform::ui::ListView *lstRuns = nullptr;
    platform::ui::ProgressBar *pb1 = nullptr;
    platform::ui::CommandButton *cmdUndo = nullptr;
    platform::ui::CommandButton *cmdExit = nullptr;

    // Event handlers.
    void lstRuns_KeyPress(int &KeyAscii);
    void cmdUndo_Click();
    void cmdExit_Click();

    // Fills the list with the recorded runs, newest first, and chooses the run `chosen` (the newest
    // when it is not listed).
    void ListRuns(std::int64_t chosen = 0);

protected:
    void Form_Load() override;
    void Form_Unload() override;

private:
    // A failed undo (or its question): told, the list read again with the run `chosen` chosen.
    void NotUndone(const platform::Error &e, std::int64_t chosen);
    std::vector<readdates::RunSummary> runs_;  // as listed
    // Held while the window is open: the lock of the read-date windows on the data database.
    std::unique_ptr<platform::FileLock> toolLock_;
};

// How a run stands now, by the chain of undos that followed it: undone after an odd number of them (the
// last one in force), in force after none or an even number; `since` is the time of the last one.
struct RunState {
    int undos = 0;
    std::optional<platform::DateTime> since;
    bool known = true;  // false when an undo of the chain cannot be read
};
RunState StateOf(const readdates::RunSummary &run, const std::vector<readdates::RunSummary> &runs);
std::string StateText(const RunState &state);  // "in force", "undone 05/03/2021 14:07:00", ...

// The texts of a run's row in the list (`runs` as listed): date and time, user, bill date, code,
// from -> to, records, state.
std::vector<std::string> RunRow(const readdates::RunSummary &run, const std::vector<readdates::RunSummary> &runs);

}  // namespace undo
