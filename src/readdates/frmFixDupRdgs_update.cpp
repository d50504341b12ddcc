// The correction run: Continue gives the matching reading records the new read date, with an audit entry each.
#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/ui/app.h"
#include "readdates/frmFixDupRdgs.h"
#include "readdates/read_date_entries.h"
#include "startup/audit.h"
#include "startup/shared.h"

namespace readdates {
namespace {

using platform::dao::Variant;

// A Null field joins a text as nothing.
std::string TextOf(const Variant &value) { return value.IsNull() ? std::string() : value.ToText(); }

std::string UpdatedMessage(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " reading record was updated." : " reading records were updated.");
}

// Closes the shared recordset and database handles, whatever state they are in.
void CloseShared() noexcept {
    auto &shared = startup::Shared();
    try {
        if (shared.rs) shared.rs.Close();
    } catch (...) {
    }
    shared.rs = {};
    try {
        if (shared.db) shared.db.Close();
    } catch (...) {
    }
    shared.db = {};
}

}  // namespace

void frmFixDupRdgs::cmdContinue_Click() {
    using namespace platform;
    auto &shared = startup::Shared();

    // The entries are checked again before anything is opened: a field emptied after the button was
    // enabled must not reach the run.
    const std::string billText = txt[0]->Text();
    const std::string oldText = txt[1]->Text();
    const std::string newText = txt[2]->Text();
    if (!EntriesValid(billText, oldText, newText)) {
        cmdContinue->SetEnabled(false);
        ui::MsgBox("Invalid Date", ui::vbCritical, "Quorvant 32");
        return;
    }
    const std::string code = cboCode->Text();
    const bool all = IsAllKeyword(oldText);
    const DateTime oldDate = all ? DateTime{} : DateValue(oldText);  // unused under ALL
    const DateTime newDate = DateValue(newText);

    std::string filter;
    if (code != kAllCodes) filter = " and (code = '" + startup::SqlQuote(code) + "')";
    filter += " and (lockey in (select lockey from FRDLK))";

    // The audit file is made sure of before anything changes; its lines are written after the commit.
    startup::AuditBatch audit;

    pb1->SetValue(0);
    pb1->SetVisible(true);

    std::int64_t changed = 0;
    std::string auditFailure;  // why the committed run's audit lines could not be written
    {
        // From the start of the run until the final message the window takes no input.
        ui::BusyScope busy;
        dao::Workspace &ws = dao::DBEngine().Workspaces(0);
        ws.BeginTrans();
        try {
            shared.db = ws.OpenDatabase(shared.DataFilePath);
            dao::Recordset rsLock =
                shared.db.OpenRecordset("select * from frdlk order by lockey", dao::dbOpenSnapshot);
            shared.QueryText = "select * from [tbl reading] where billdate = " + DateLiteral(billText) + filter;
            shared.rs = shared.db.OpenRecordset(shared.QueryText, dao::dbOpenDynaset);
            dao::Recordset &rs = shared.rs;
            if (rs.RecordCount() != 0) {
                rs.MoveLast();
                rs.MoveFirst();
                const std::int64_t count = rs.RecordCount();
                pb1->SetMax(static_cast<double>(count));
                for (std::int64_t position = 0; position < count; ++position) {
                    rs.SetAbsolutePosition(position);
                    if (!all) {
                        const Variant readdate = rs.Fields("readdate");
                        if (readdate.IsNull() || DateOnly(readdate.ToDate()) != oldDate) {
                            busy.Pump();
                            continue;
                        }
                    }
                    rs.Edit();
                    rs.Fields("readdate") = Variant(newDate);
                    rs.Update();

                    const Variant lockey = rs.Fields("lockey");
                    rsLock.FindFirst("lockey = " + startup::SqlLiteral(lockey));
                    const std::string account =
                        rsLock.NoMatch() ? "lockey " + lockey.ToText() : TextOf(rsLock.Fields("accno"));
                    audit.Add("Changed read date from " + oldText + " to " + newText + " for bill date " +
                              billText + " for account " + account + " for code " + TextOf(rs.Fields("code")));
                    ++changed;
                    pb1->SetValue(static_cast<double>(position + 1));
                    busy.Pump();
                }
            }
            rs.Close();
            shared.rs = {};
            ws.CommitTrans();
        } catch (...) {
            CloseShared();
            try {
                ws.Rollback();
            } catch (...) {
            }
            throw;
        }
        CloseShared();
        try {
            audit.Commit();
        } catch (const Error &e) {
            auditFailure = platform::ErrorDescription(e.number);  // the message names the file itself
        }
    }

    if (!auditFailure.empty())
        ui::MsgBox("The reading records were updated, but their audit file " + audit.Path() +
                       " could not be written: " + auditFailure + "." +
                       (startup::AuditTableSwitch() ? "\n\nEach change is recorded in table LIDB of the data database."
                                                    : ""),
                   ui::vbExclamation, "Quorvant 32");
    ui::MsgBox(UpdatedMessage(changed), ui::vbInformation, "FINISHED");
    pb1->SetValue(0);
    pb1->SetVisible(false);
    cboCode->SetFocus();
}

}  // namespace readdates
