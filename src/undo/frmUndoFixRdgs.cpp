// The undo window: its controls, loading (one read-date window per data database, the list of runs)
// and unloading.
#include "undo/frmUndoFixRdgs.h"

#include <algorithm>

#include "platform/filelock.h"
#include "platform/ui/app.h"
#include "readdates/frmFixDupRdgs.h"
#include "readdates/read_date_entries.h"
#include "startup/audit.h"
#include "startup/shared.h"

namespace undo {

using platform::ui::FontSpec;
namespace dao = platform::dao;

namespace {

constexpr int kEnter = 13;

constexpr const char *kChoose = "Choose a read-date correction and press Undo: each meter reading record that it changed "
                                "gets back the read date it had, unless the record was changed again or deleted since.";
constexpr const char *kNoneRecorded = "No read-date corrections are recorded for this data database; corrections made "
                                      "before this version, or before a restore, cannot be undone.";

std::string Shown(platform::DateTime when) { return platform::Format(when, readdates::kRunTime); }

}  // namespace

RunState StateOf(const readdates::RunSummary &run, const std::vector<readdates::RunSummary> &runs) {
    RunState state;
    const readdates::RunSummary *at = &run;
    // Each undo in the chain is undone by the next; an edited record cannot make it go round for ever.
    for (std::size_t steps = 0; at->undoneBy && steps < runs.size(); ++steps) {
        const auto next = std::find_if(runs.begin(), runs.end(),
                                       [&](const auto &r) { return r.run == *at->undoneBy && !r.unreadable; });
        if (next == runs.end()) {
            state.known = false;
            break;
        }
        at = &*next;
        ++state.undos;
        state.since = at->when;
    }
    return state;
}

std::string StateText(const RunState &state) {
    if (!state.known) return "undone (its undo unreadable)";
    if (state.undos == 0) return "in force";
    if (state.undos % 2 == 0) return "in force again " + Shown(*state.since);
    return (state.undos == 1 ? "undone " : "undone again ") + Shown(*state.since);
}

std::vector<std::string> RunRow(const readdates::RunSummary &run, const std::vector<readdates::RunSummary> &runs) {
    if (run.unreadable)
        return {"unreadable", "", "", "", "this row of the record cannot be read", "", ""};
    const readdates::RunEntries &e = run.entries;
    const std::string code = e.code == readdates::kAllCodes ? "ALL CODES" : e.code;
    const std::string change = !run.undoes       ? e.fromDate + " \u2192 " + e.toDate
                               : run.undoesWhen ? "undo of " + Shown(*run.undoesWhen)
                                                : "undo of run " + std::to_string(*run.undoes);
    const std::string records =
        std::to_string(run.records) + (run.kept ? " (" + std::to_string(run.kept) + " left)" : "");
    return {Shown(run.when), run.user, e.billDate, code, change, records, StateText(StateOf(run, runs))};
}

// 9360 twips wide: the window fits a 1280-pixel screen at twice the size; the list scrolls sideways.
frmUndoFixRdgs::frmUndoFixRdgs() : Form("frmUndoFixRdgs", "Undo READ DATE Corrections", 9360, 5205, FontSpec{}, true) {
    const FontSpec listFont{"MS Sans Serif", 8.25, false};
    lbl = &AddLabel("lbl", -1, {240, 180, 8880, 660}, kChoose, 3);
    lstRuns = &AddListView("lstRuns", {240, 900, 8880, 2955}, 0, listFont);
    lstRuns->AddColumn("Date and time", 1800);
    lstRuns->AddColumn("User", 1050);
    lstRuns->AddColumn("Bill date", 1050);
    lstRuns->AddColumn("Code", 1200);
    lstRuns->AddColumn("From \u2192 To", 2400);
    lstRuns->AddColumn("Records", 1050, true);
    lstRuns->AddColumn("State", 2700);
    lstRuns->SetAccessibleName("read-date corrections", lbl);
    pb1 = &AddProgressBar("pb1", {240, 3960, 8880, 375}, 4);
    pb1->SetAccessibleName("progress of the undo");
    pb1->SetVisible(false);
    cmdUndo = &AddButton("cmdUndo", -1, {6810, 4560, 1125, 400}, "&Undo", 1);
    cmdUndo->SetToolTipText("Give the readings of the chosen correction back the read dates they had");
    cmdExit = &AddButton("cmdExit", -1, {8130, 4560, 1000, 400}, "E&xit", 2);
    cmdExit->SetToolTipText("Exit this module");

    lstRuns->onKeyPress = [this](int &KeyAscii) { lstRuns_KeyPress(KeyAscii); };
    cmdUndo->onClick = [this] { cmdUndo_Click(); };
    cmdExit->onClick = [this] { cmdExit_Click(); };
}

frmUndoFixRdgs::~frmUndoFixRdgs() = default;

void frmUndoFixRdgs::Form_Load() {
    // The data database as the read-date window finds it: their lock file is one.
    readdates::TakeDataFilePathFromSettings();
    // One read-date window (correction or undo) per data database: an undo under a correction window
    // would change the readings it is counting and correcting.
    dao::Database db;
    toolLock_ = readdates::OpenDataAndTakeWindowLock(
        db, "Read-date corrections cannot be undone now: read dates are being corrected or undone",
        "Read-date corrections cannot be undone");
    if (!toolLock_) {
        Unload();  // the window never shows; start-up then ends the utility
        return;
    }
    db.Close();
    // Audit lines of an earlier run on this database that was killed after its commit are written now.
    startup::CompleteAuditFileOnOpen();
    ListRuns();
}

void frmUndoFixRdgs::Form_Unload() {
    auto &ws = dao::DBEngine().Workspaces(0);
    for (int i = ws.DatabasesCount() - 1; i >= 0; --i) ws.Databases(i).Close();
    toolLock_.reset();
}

// Opened as the runs open it, so that a change an undo left cut off (a full disk) is rolled back first.
void frmUndoFixRdgs::ListRuns(std::int64_t chosen) {
    dao::Database db = dao::DBEngine().OpenDatabase(startup::Shared().DataFilePath);
    try {
        runs_ = readdates::RecordedRuns(db);
    } catch (...) {
        db.Close();
        throw;
    }
    db.Close();
    lstRuns->Clear();
    for (const auto &run : runs_) lstRuns->AddItem(RunRow(run, runs_));
    lbl->SetCaption(runs_.empty() ? kNoneRecorded : kChoose);
    const auto at = std::find_if(runs_.begin(), runs_.end(), [&](const auto &r) { return r.run == chosen; });
    lstRuns->SetListIndex(runs_.empty() ? -1 : at == runs_.end() ? 0 : static_cast<int>(at - runs_.begin()));
    cmdUndo->SetEnabled(!runs_.empty());
}

void frmUndoFixRdgs::lstRuns_KeyPress(int &KeyAscii) {
    if (KeyAscii != kEnter) return;  // Enter moves on like Tab
    KeyAscii = 0;
    platform::ui::SendKeys("{TAB}");
}

void frmUndoFixRdgs::cmdExit_Click() { Unload(); }

}  // namespace undo
