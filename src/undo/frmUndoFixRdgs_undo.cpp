// Undo: the chosen run's readings get back the read dates they had, audited, with the progress bar.
#include <string>

#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "startup/audit.h"
#include "undo/frmUndoFixRdgs.h"
#include "undo/undo_run.h"

namespace undo {
namespace {

std::string FinishedMessage(const UndoOutcome &outcome) {
    const std::int64_t n = outcome.givenBack, left = outcome.left;
    std::string text = std::to_string(n) + (n == 1 ? " reading record was given back its earlier read date."
                                                   : " reading records were given back their earlier read date.");
    if (left == 0) return text;
    text += "\n\n" + std::to_string(left) +
            (left == 1 ? " reading record was left as it is" : " reading records were left as they are");
    if (left > static_cast<std::int64_t>(outcome.leftReadings.size()))
        return text + ": changed again or deleted since, or not as the correction recorded them. The audit file " +
               outcome.auditFile + " names each of them.";
    text += ":";
    for (const std::string &reading : outcome.leftReadings) text += "\n" + reading;
    return text;
}

// Why a run cannot be undone again: undone now, or in force again because its undo was undone.
std::string UndoneAlready(const std::string &when, const RunState &state) {
    const std::string since = state.since ? platform::Format(*state.since, readdates::kRunTime) : "";
    if (state.known && state.undos % 2 == 0)
        return "The read-date correction of " + when + " was undone, and that undo undone on " + since +
               ": it is in force again. A correction is undone only once; to undo it again, undo the run of " +
               since + ".";
    return "The read-date correction of " + when + " was undone on " + since +
           ". A correction is undone only once; to make it again, undo its undo.";
}

}  // namespace

void frmUndoFixRdgs::cmdUndo_Click() {
    using namespace platform;
    const int chosen = lstRuns->ListIndex();
    if (chosen < 0 || chosen >= static_cast<int>(runs_.size())) {
        ui::MsgBox("Choose a read-date correction in the list first.", ui::vbInformation, "Quorvant 32");
        lstRuns->SetFocus();
        return;
    }
    const readdates::RunSummary run = runs_[static_cast<std::size_t>(chosen)];
    if (run.unreadable || run.undoneBy) {
        ui::MsgBox(run.unreadable ? "This row of the record of read-date corrections cannot be read: it cannot be undone."
                                  : UndoneAlready(RunRow(run, runs_).front(), StateOf(run, runs_)),
                   ui::vbExclamation, "Quorvant 32");
        lstRuns->SetFocus();
        return;
    }

    pb1->SetValue(0);
    pb1->SetMax(static_cast<double>(std::max<std::int64_t>(run.records, 1)));
    pb1->SetVisible(true);
    UndoOutcome outcome;
    try {
        // From the start of the run until the final message the window takes no input.
        ui::BusyScope busy;
        outcome = UndoRun(run.run, [&](std::int64_t visited, std::int64_t) {
            pb1->SetValue(static_cast<double>(visited));
            busy.Pump();
        });
    } catch (const Error &e) {
        // Everything the run did was rolled back: the window stays as it was, ready for another try.
        pb1->SetValue(0);
        pb1->SetVisible(false);
        ui::MsgBox("The read-date correction could not be undone:\n\n" +
                       platform::WithFullStop(platform::Message(e)) + "\n\nNo reading record was changed.",
                   ui::vbCritical, "Quorvant 32");
        ListRuns(run.run);
        lstRuns->SetFocus();
        return;
    }

    if (!outcome.auditFailure.empty())
        ui::MsgBox(startup::AuditLinesNotWritten("The read dates were given back", outcome.auditFile,
                                                 outcome.auditFailure),
                   ui::vbExclamation, "Quorvant 32");
    ui::MsgBox(FinishedMessage(outcome), ui::vbInformation, "FINISHED");
    pb1->SetValue(0);
    pb1->SetVisible(false);
    ListRuns(run.run);
    lstRuns->SetFocus();
}

}  // namespace undo
