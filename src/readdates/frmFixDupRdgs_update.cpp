// The correction run: Continue gives the matching reading records the new read date, with an audit entry each.
#include <cstdint>
#include <string>

#include "platform/error.h"
#include "platform/ui/app.h"
#include "readdates/correction.h"
#include "readdates/frmFixDupRdgs.h"
#include "readdates/read_date_entries.h"
#include "startup/audit.h"

namespace readdates {
namespace {

std::string UpdatedMessage(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " reading record was updated." : " reading records were updated.");
}

}  // namespace

void frmFixDupRdgs::cmdContinue_Click() {
    using namespace platform;

    // The entries are checked again before anything is opened: a field emptied after the button was
    // enabled must not reach the run.
    const Correction entries{txt[0]->Text(), txt[1]->Text(), txt[2]->Text(), cboCode->Text()};
    if (!EntriesValid(entries.billDate, entries.oldDate, entries.newDate)) {
        cmdContinue->SetEnabled(false);
        ui::MsgBox("Invalid Date", ui::vbCritical, "Quorvant 32");
        return;
    }

    pb1->SetValue(0);
    pb1->SetVisible(true);
    CorrectionOutcome outcome;
    try {
        // From the start of the run until the final message the window takes no input.
        ui::BusyScope busy;
        outcome = CorrectReadDates(entries, [&](std::int64_t position, std::int64_t count, bool changed) {
            if (changed) {
                if (pb1->Max() != static_cast<double>(count)) pb1->SetMax(static_cast<double>(count));
                pb1->SetValue(static_cast<double>(position + 1));
            }
            busy.Pump();
        });
    } catch (const Error &e) {
        // Everything the run did was rolled back: the window stays as it was, ready for another try.
        pb1->SetValue(0);
        pb1->SetVisible(false);
        ui::MsgBox("The read dates could not be corrected:\n\n" + e.description + "\n\nNo reading record was changed.",
                   ui::vbCritical, "Quorvant 32");
        cboCode->SetFocus();
        return;
    }

    if (!outcome.auditFailure.empty())
        ui::MsgBox(startup::AuditLinesNotWritten("The reading records were updated", outcome.auditFile,
                                                 outcome.auditFailure),
                   ui::vbExclamation, "Quorvant 32");
    ui::MsgBox(UpdatedMessage(outcome.changed), ui::vbInformation, "FINISHED");
    pb1->SetValue(0);
    pb1->SetVisible(false);
    cboCode->SetFocus();
}

}  // namespace readdates
