// The correction run: Continue gives the matching reading records the new read date, with an audit entry each.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "readdates/correction.h"
#include "readdates/far_off.h"
#include "readdates/frmFixDupRdgs.h"
#include "readdates/read_date_entries.h"
#include "startup/audit.h"

namespace readdates {
namespace {

std::string UpdatedMessage(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " reading record was updated." : " reading records were updated.");
}

// The question before a run whose new read date lies more than a year from the bill date; nullopt when
// the new read date lies within the year, or no reading would change.
std::optional<std::string> FarOffQuestion(const RunEntries &entries) {
    using namespace platform;
    const DateTime bill = DateValue(entries.billDate), date = DateValue(entries.toDate);
    const auto distance = FarOffDistance(date, bill);
    if (!distance) return std::nullopt;
    const std::int64_t n = ReadingsToCorrect(entries);
    if (n == 0) return std::nullopt;
    return Grouped(n) + (n == 1 ? " reading record" : " reading records") + " of bill date " +
           Format(bill, "mm/dd/yyyy") + " will get the read date " + Format(date, "mm/dd/yyyy") + ", " +
           *distance + (n == 1 ? " its bill date. Correct it?" : " their bill date. Correct them?");
}

}  // namespace

void frmFixDupRdgs::cmdContinue_Click() {
    using namespace platform;

    // The entries are checked again before anything is opened: a field emptied after the button was
    // enabled must not reach the run.
    const RunEntries entries{txt[0]->Text(), cboCode->Text(), txt[1]->Text(), txt[2]->Text()};
    if (!EntriesValid(entries.billDate, entries.fromDate, entries.toDate)) {
        cmdContinue->SetEnabled(false);
        ui::MsgBox("Invalid Date", ui::vbCritical, "Quorvant 32");
        return;
    }
    // A typed year can put a read date centuries away (4/24/208 is the year 208): asked first, No by default.
    if (const auto question = FarOffQuestion(entries);
        question && ui::MsgBox(*question, ui::vbYesNo + ui::vbQuestion + ui::vbDefaultButton2, "Quorvant 32") != ui::vbYes) {
        txt[2]->SetFocus();
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
        ui::MsgBox("The read dates could not be corrected:\n\n" + platform::WithFullStop(platform::Message(e)) +
                       "\n\nNo reading record was changed.",
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
