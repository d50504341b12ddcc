// The restore window's controls, loading and Exit.
#include "restore/frmRestAutoCopy.h"

#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "startup/shared.h"

namespace restore {

using platform::ui::FontSpec;
namespace dao = platform::dao;

frmRestAutoCopy::frmRestAutoCopy()
    : Form("frmRestAutoCopy", "Restore Auto-Copy Database Files", 8595, 1830, FontSpec{"MS Sans Serif", 8.25, false}) {
    const FontSpec buttonFont{};  // MS Sans Serif 8.25 bold
    cmdList = &AddButton("cmdList", -1, {120, 120, 3405, 400}, "Display List of Auto-Copy Files", 2, buttonFont);
    txt = &AddTextBox("txt", -1, {120, 600, 8295, 405}, 3);
    txt->SetAccessibleName("Auto-Copy Database File");
    txt->SetLocked(true);  // it only shows the listed copy; Restore acts on the listing, not on this text
    cmdRestore = &AddButton("cmdRestore", -1, {6120, 1200, 1000, 400}, "&Restore", 0, buttonFont);
    cmdRestore->SetEnabled(false);
    cmdExit = &AddButton("cmdExit", -1, {7320, 1200, 1000, 400}, "E&xit", 1, buttonFont);
    cd.DialogTitle = "Locate Auto-Copy Database File";
    cd.Hidden = "*.ldb";  // the engine's lock files beside databases in use are no copies

    cmdList->onClick = [this] { cmdList_Click(); };
    cmdRestore->onClick = [this] { cmdRestore_Click(); };
    cmdExit->onClick = [this] { cmdExit_Click(); };
}

frmRestAutoCopy::~frmRestAutoCopy() = default;

namespace {

// What restores killed on the data database left beside it goes as the window opens, under an open of
// the database that keeps other restores out; a database that does not open is left as it is.
void RemoveRestoreLeftoversOf(const std::string &live) {
    try {
        dao::Database db = dao::DBEngine().OpenDatabase(live);
        startup::RemoveKilledRestoreLeftovers(live);
        db.Close();
    } catch (const platform::Error &) {
    }
}

}  // namespace

// Reads the data folder from the settings database, exactly as stored. Failures go to the
// last-resort report: without its data folder the window has nothing to do.
void frmRestAutoCopy::Form_Load() {
    dbGlobal = dao::DBEngine().Workspaces(0).OpenDatabase(platform::JoinedPath(platform::AppPath(), "global.mdb"),
                                                          false, true, startup::kGlobalConnect);
    rsCurrent = dbGlobal.OpenRecordset("current", dao::dbOpenSnapshot);
    DataFolder = rsCurrent.Fields("databasepath").Value().ToText();
    const std::string dataFile = DataFileName =
        platform::TrimBlanks(startup::TextOf(rsCurrent.Fields("DatabaseFileName")));
    rsCurrent.Close();
    dbGlobal.Close();
    rsCurrent = {};
    dbGlobal = {};
    if (!dataFile.empty()) RemoveRestoreLeftoversOf(platform::JoinedPath(DataFolder, dataFile));
    platform::ui::DoEvents();
}

void frmRestAutoCopy::cmdExit_Click() { Unload(); }

}  // namespace restore
