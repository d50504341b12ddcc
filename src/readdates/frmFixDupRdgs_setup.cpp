// The read-date window: its controls, loading (code list and the selection lock table FRDLK) and
// unloading.
#include <functional>
#include <iostream>

#include "platform/ascii.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/filelock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_file.h"
#include "platform/ui/app.h"
#include "readdates/frmFixDupRdgs.h"
#include "readdates/read_date_entries.h"
#include "startup/audit.h"
#include "startup/shared.h"

namespace readdates {

using platform::ui::FontSpec;
namespace dao = platform::dao;

namespace {

constexpr const char *kTempDataPath = "C:\\users\\public\\qv32tempdata\\tempdataDTC.mdb";

}  // namespace

void TakeDataFilePathFromSettings() {
    // Read-only: it is only read, and a clerk who may not write the program folder (where a shared
    // open would make global.ldb) still reads it.
    dao::Database settings = dao::DBEngine().OpenDatabase(platform::JoinedPath(platform::AppPath(), "global.mdb"),
                                                          false, true, startup::kGlobalConnect);
    dao::Recordset current = settings.OpenRecordset("current", dao::dbOpenSnapshot);
    if (current.RecordCount() > 0)
        startup::Shared().DataFilePath = platform::JoinedPath(startup::TextOf(current.Fields("databasepath")),
                                                              startup::TextOf(current.Fields("DatabaseFileName")));
    current.Close();
    settings.Close();
}

namespace {

// A data database this login cannot change (read-only file or folder, full disk, a link another login
// planted at a lock file), said at once and naming it: the window would otherwise open without FRDLK and
// fail at the first date entered.
void TellDataCannotBeChanged(const platform::Error &e, const std::string &cannot = "Read dates cannot be corrected") {
    const std::string &data = startup::Shared().DataFilePath;  // named here, so not again in the reason
    const std::string text = cannot + " in the data database " + data + ":\n\n" +
                             startup::CannotChangeReason(e, data) + "Nothing was changed.";
    platform::LogEvent(text, true);
    std::cerr << text << std::endl;
    platform::ui::MsgBox(text, platform::ui::vbCritical, "Quorvant 32");
}

}  // namespace

std::unique_ptr<platform::FileLock> OpenDataAndTakeWindowLock(dao::Database &db, const std::string &refused,
                                                              const std::string &cannot) {
    const std::string &data = startup::Shared().DataFilePath;
    const std::string lockPath = startup::ReadDateLockOf(data);
    std::unique_ptr<platform::FileLock> lock;
    try {
        db = dao::DBEngine().OpenDatabase(data);
        platform::RequireWritable(data);
        lock = platform::FileLock::TryTake(platform::MapPath(lockPath));
    } catch (const platform::Error &e) {
        if (e.number != 70) throw;
        if (db) db.Close();
        TellDataCannotBeChanged(e, cannot);
        platform::ui::End(1);
        return nullptr;
    }
    if (lock) {
        startup::RemoveKilledRestoreLeftovers(data);  // while this open keeps restores out
        return lock;
    }
    db.Close();
    const std::string holder = platform::FileLock::HolderOf(platform::MapPath(lockPath));
    platform::ui::MsgBox(refused + " for the data database " + data + " in another window" +
                             (holder.empty() ? "" : " of the login " + holder) +
                             ".\n\nClose that window first; only one can be open for a data database at a time.",
                         platform::ui::vbInformation, "Quorvant 32");
    return nullptr;
}

frmFixDupRdgs::frmFixDupRdgs()
    : Form("frmFixDupRdgs", "Correct READ DATES for Meter Reading Records", 6750, 4965, FontSpec{}, true) {
    const FontSpec listFont{"MS Sans Serif", 8.25, false};

    lbl[0] = &AddLabel("lbl", 0, {240, 360, 4815, 495}, "Update only meter reading records with this code:", 10);
    cboCode = &AddComboBox("cboCode", {4560, 360, 1935, 315}, 0, listFont);
    lbl[2] = &AddLabel("lbl", 2, {240, 960, 6375, 495},
                       "This module is used to correct the READ DATE for meter reading records that were entered "
                       "or imported for this BILL DATE: ",
                       7);
    txt[0] = &AddTextBox("txt", 0, {4560, 1200, 1215, 285}, 1);
    Line1 = &AddLine("Line1", 120, 1680, 6480, 1680);
    Label1 = &AddLabel("Label1", -1, {240, 1800, 4095, 855},
                       "Enter the INCORRECT READ DATE that needs to be changed, or enter ALL if all read dates for "
                       "BILL DATE need to be corrected to the same READ DATE.",
                       8);
    txt[1] = &AddTextBox("txt", 1, {4560, 2040, 1215, 285}, 2);
    txt[1]->SetToolTipText(
        "Enter ALL if you want to make give the same READ DATE to all of the meter reading records for this BILL "
        "DATE.");
    Line4 = &AddLine("Line4", 120, 2760, 6480, 2760);
    Label4 = &AddLabel("Label4", -1, {240, 2880, 4215, 735},
                       "Enter the READ DATE that needs to be given to the set of readings that are being corrected "
                       "for BILL DATE",
                       9);
    txt[2] = &AddTextBox("txt", 2, {4560, 3120, 1215, 285}, 3);
    pb1 = &AddProgressBar("pb1", {240, 3840, 6255, 375}, 6);
    pb1->SetMin(0);
    pb1->SetMax(100);
    pb1->SetVisible(false);
    cmdContinue = &AddButton("cmdContinue", -1, {4200, 4320, 1125, 400}, "&Continue", 4);
    cmdContinue->SetEnabled(false);
    cmdExit = &AddButton("cmdExit", -1, {5520, 4320, 1000, 400}, "E&xit", 5);
    cmdExit->SetToolTipText("Exit this module");
    cboCode->SetAccessibleName("code", lbl[0]);
    txt[0]->SetAccessibleName("BILL DATE", lbl[2]);
    txt[1]->SetAccessibleName("INCORRECT READ DATE", Label1);
    txt[2]->SetAccessibleName("new READ DATE", Label4);
    pb1->SetAccessibleName("progress of the correction");

    cboCode->onKeyPress = [this](int &KeyAscii) { cboCode_KeyPress(KeyAscii); };
    for (int i = 0; i < 3; ++i) {
        txt[i]->onKeyPress = [this, i](int &KeyAscii) { txt_KeyPress(i, KeyAscii); };
        txt[i]->onGotFocus = [this, i] { txt_GotFocus(i); };
        txt[i]->onLostFocus = [this, i] { txt_LostFocus(i); };
    }
    cmdContinue->onClick = [this] { cmdContinue_Click(); };
    cmdExit->onClick = [this] { cmdExit_Click(); };
}

frmFixDupRdgs::~frmFixDupRdgs() = default;

void frmFixDupRdgs::Form_Load() {
    TempDataPath = kTempDataPath;
    TakeDataFilePathFromSettings();

    // FRDLK is one table per data database: a second window on the same database would rebuild it
    // under the first one and drop it on close, so only one window may hold it.
    dao::Database db;  // closed on every way out of loading
    toolLock_ = OpenDataAndTakeWindowLock(db, "Read dates are already being corrected or undone",
                                          "Read dates cannot be corrected");
    if (!toolLock_) {
        Unload();  // the window never shows; start-up then ends the utility
        return;
    }

    // Audit lines of an earlier run on this database that was killed after its commit are written now.
    startup::CompleteAuditFileOnOpen();

    cboCode->AddItem(kAllCodes);
    dao::Recordset codes = db.OpenRecordset("select distinct code from [tbl reading] order by code", dao::dbOpenSnapshot);
    if (codes.RecordCount() > 0) {
        for (; !codes.Eof(); codes.MoveNext()) {
            dao::Variant code = codes.Fields("code");
            if (!code.IsNull()) cboCode->AddItem(code.ToText());
        }
    }
    codes.Close();

    if (!FillLockTable(db)) {
        db.Close();
        Unload();
        platform::ui::End(1);
        return;
    }
    db.Close();

    cboCode->SetText(kAllCodes);
}

// The lock table is dropped, created and filled in one transaction: one commit for all of it. A row
// whose insert the table refuses is left out alone; the table's own statements, the other inserts and
// the commit may not fail (told, nothing changed, false). The handles of the copy are closed before
// the transaction ends, as its rollback wants no statement still reading.
bool frmFixDupRdgs::FillLockTable(dao::Database &db) {
    auto &engine = dao::DBEngine();
    dao::Transaction fill(engine.Workspaces(0));
    const auto changed = [](const std::function<void()> &step) {
        try {
            step();
            return true;
        } catch (const platform::Error &e) {
            TellDataCannotBeChanged(e);
            return false;
        }
    };
    dao::BatchInsert lockRows;
    if (!changed([&] {
            try {
                db.Execute("DROP TABLE FRDLK");
            } catch (const platform::Error &e) {
                if (e.number != 3078) throw;  // there was none
            }
            db.Execute("create table FRDLK (lockey long, accno text)");
            lockRows = dao::BatchInsert(db, "FRDLK", {"lockey", "accno"});
            lockRows.LeaveOutRefusedRows();
        }))
        return false;

    dao::Database dbTempData = engine.OpenDatabase(TempDataPath);
    dao::Recordset rsSelection = dbTempData.OpenRecordset("select lockey, accno from selectionsetDTC", dao::dbOpenSnapshot);
    if (rsSelection.RecordCount() > 0) {
        // The key goes in as the value it holds, the account as text (Null as empty); a row without a
        // key selects no reading and is left out.
        for (; !rsSelection.Eof(); rsSelection.MoveNext()) {
            const dao::Variant lockey = rsSelection.Fields("lockey");
            if (lockey.IsNull()) continue;
            lockRows.Set(0, lockey);
            lockRows.Set(1, dao::Variant(startup::TextOf(rsSelection.Fields("accno"))));
            if (!changed([&] { lockRows.AddRow(); })) return false;
        }
    }
    rsSelection.Close();
    dbTempData.Close();
    return changed([&] {
        lockRows.Flush();
        fill.Commit();
    });
}

void frmFixDupRdgs::Form_Unload() {
    auto &ws = dao::DBEngine().Workspaces(0);
    for (int i = ws.DatabasesCount() - 1; i >= 0; --i) ws.Databases(i).Close();
    if (!toolLock_) return;  // refused at load: FRDLK belongs to the other window

    auto &shared = startup::Shared();
    shared.db = dao::DBEngine().OpenDatabase(shared.DataFilePath);
    startup::ExecuteSql("drop table FRDLK");
    shared.db.Close();
    shared.db = {};
    toolLock_.reset();
}

}  // namespace readdates
