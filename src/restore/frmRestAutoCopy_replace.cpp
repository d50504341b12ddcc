// Restore: a safety copy of the live data database, then the chosen copy's content in its place.
//
// Nothing is written until every check has passed: the live database exists, the chosen copy is a
// sound database, and no other program holds the live one (which stays held until the end). The
// safety copy is complete and synced under its own name before the live database is touched, and
// the replacement is one SQLite transaction. Any refusal or failure is reported and leaves the
// window open; "FINISHED" is shown only after a replacement that succeeded.
#include "platform/dao/dbfile.h"
#include "platform/ascii.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "restore/frmRestAutoCopy.h"
#include "startup/shared.h"

namespace restore {

using platform::ui::MsgBox;
using platform::ui::vbCritical;
namespace dbfile = platform::dao;

constexpr const char *kRefusalTitle = "RESTORE";

namespace {

// A restore that does not take place: told to the user and written to the system log.
void Refuse(const std::string &prompt) {
    platform::LogEvent("restore not done: " + prompt, true);
    MsgBox(prompt, vbCritical, kRefusalTitle);
}

}  // namespace

std::string LiveBaseNameOf(const std::string &chosenName) {
    std::string extension;
    const auto dot = chosenName.find('.');
    if (dot != std::string::npos) extension = platform::TrimBlanks(chosenName.substr(dot + 1));
    const std::size_t drop = extension.size() > 3 ? 7 : 5;
    return chosenName.size() < drop ? std::string() : chosenName.substr(0, chosenName.size() - drop);
}

void frmRestAutoCopy::cmdRestore_Click() {
    const std::string chosenName = cd.FileTitle;
    if (chosenName.empty()) {
        platform::ui::End(0);
        return;
    }
    LiveBaseName = LiveBaseNameOf(chosenName);
    const std::string live = DataFolder + "\\" + LiveBaseName + ".mdb";
    const std::string chosen = DataFolder + "\\backup\\" + chosenName;  // the file the listing showed

    if (!platform::FileExists(live)) {
        Refuse("The live database " + live + " does not exist, so there is nothing to replace with " + chosen +
                   ".\n\nNothing was copied.");
        return;
    }
    try {
        dbfile::CheckDatabaseFile(platform::MapPath(chosen));
    } catch (const platform::Error &e) {
        Refuse(chosen + " cannot be restored: it is not a sound database.\n\n" + e.description +
                   "\n\nNothing was changed.");
        return;
    }

    std::unique_ptr<dbfile::ExclusiveHold> hold;
    try {
        hold = dbfile::ExclusiveHold::Acquire(platform::MapPath(live));
    } catch (const platform::Error &e) {
        Refuse(live + " cannot be opened for the replacement.\n\n" + e.description + "\n\nNothing was changed.");
        return;
    }
    if (!hold) {
        Refuse(live + " is in use by another program. Close it and try again.");
        return;
    }

    const std::string stamp = platform::Format(platform::Now(), "mmddyyhhmmss");
    std::string safety = DataFolder + "\\" + LiveBaseName + "replacedbyautocopy" + stamp + ".mdb";
    try {
        const auto written = dbfile::BackupToNewFile(platform::MapPath(live), platform::MapPath(safety));
        safety = DataFolder + "\\" + written.filename().string();
    } catch (const platform::Error &e) {
        Refuse("The safety copy " + safety + " of " + live + " could not be made.\n\n" + e.description +
                   "\n\nNothing was replaced.");
        return;
    }

    try {
        dbfile::ReplaceContent(platform::MapPath(chosen), platform::MapPath(live));
    } catch (const platform::Error &e) {
        Refuse(live + " could not be replaced with " + chosen + ".\n\n" + e.description + "\n\n" + live +
               " keeps its previous content; its safety copy is " + safety + ".");
        return;
    }
    hold.reset();

    platform::LogEvent("restore: " + live + " replaced with " + chosen + "; safety copy " + safety);
    MsgBox(live + " was replaced with " + chosen, platform::ui::vbInformation, "FINISHED");
    platform::ui::End(0);
}

}  // namespace restore
