// Step 2 of the backup window: the backup's outcome shown (its work: backup_run.h).
//
// A destination that cannot work is refused before anything starts, and the window stays open for
// another choice. The window is busy (input blocked, the display kept current) while each step of the
// work runs. "STEP 1" comes between the passes and "FINISHED" only after a backup checked good; a
// failed pass, copy or check ends in a critical box that says the backup is not complete, why and how
// many files were checked good, and the utility ends.
#include <iostream>
#include <string>

#include "backup/backup_run.h"
#include "backup/frmQuorDBBkUp.h"
#include "platform/diagnostics.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "startup/shared.h"

namespace backup {

using platform::ui::MsgBox;
using platform::ui::vbCritical;
using platform::ui::vbInformation;

namespace {

// Tells the clerk, the system log and standard error.
void Tell(const BackupOutcome &outcome) {
    platform::LogEvent(outcome.logLine, true);
    std::cerr << outcome.message << std::endl;
    MsgBox(outcome.message, vbCritical, "BACKUP");
}

}  // namespace

void frmQuorDBBkUp::cmd2_Click() {
    BackupRequest request;
    request.programFolder = platform::AppPath();
    request.destination = Dir1->Path();
    request.dataFile = startup::Shared().DataFilePath;
    request.busy = [](const std::function<void()> &work) {
        platform::ui::BusyScope busy;
        busy.Run(work);
    };
    request.betweenPasses = [] {
        MsgBox("Click OK when the black screen disappears.", vbInformation, "STEP 1");
        return !platform::ui::Ending();
    };
    const BackupOutcome outcome = RunBackup(request);
    switch (outcome.kind) {
    case BackupOutcome::Stopped: return;
    case BackupOutcome::Refused: Tell(outcome); return;
    case BackupOutcome::Failed:
        Tell(outcome);
        if (!platform::ui::Ending()) platform::ui::End(1);
        return;
    case BackupOutcome::Finished: break;
    }
    platform::LogEvent(outcome.logLine);
    MsgBox(outcome.message, vbInformation, "FINISHED");
    if (platform::ui::Ending()) return;
    platform::ui::End(0);
}

}  // namespace backup
