// Restore: a safety copy of the live data database, then the chosen copy's content in its place.
//
// Nothing is replaced until every check has passed: the live database exists and may be written,
// no other program and no read-date window holds it (it stays held until the end), and the chosen
// copy still exists and is a database the tools can use (and stays so until the end; its check runs
// while the old content is saved beside it). The safety copy is complete and synced before the live
// database is touched, the replacement is journaled as
// SQLite journals a transaction and checked before it commits, and the safety copy is named only
// with the commit: a restore that replaced nothing leaves none. A live database that is damaged
// past opening (empty, cut short, not a database) is what a restore is for: it is held all the
// same, kept as the safety copy, and the chosen copy takes its place whole. The work runs under a busy scope
// (input blocked, wait cursor, the display kept current). Any refusal or failure is reported, naming
// files in their Windows form; "FINISHED" is shown only after a replacement that succeeded, and names
// the safety copy. The window stays open either way.
#include <filesystem>

#include "platform/dao/dbfile.h"
#include "platform/ascii.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/filelock.h"
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

std::string LiveBaseNameOf(const std::string &chosenName) {
    std::string extension;
    const auto dot = chosenName.find('.');
    if (dot != std::string::npos) extension = platform::TrimBlanks(chosenName.substr(dot + 1));
    const std::size_t drop = extension.size() > 3 ? 7 : 5;
    return chosenName.size() < drop ? std::string() : chosenName.substr(0, chosenName.size() - drop);
}

namespace {

// A restore that did not take place, or not whole: told to the user and written to the system log.
void Refuse(const std::string &prompt) {
    platform::LogEvent("restore failed: " + prompt, true);
    MsgBox(prompt, vbCritical, kRefusalTitle);
}

// The safety copy and the replacement of `live` (Windows paths) by `chosen`, once every check has
// passed. Returns the message of a refusal or failure (nothing replaced, no safety copy left); empty
// when the live database was replaced, with the safety copy's Windows path in `safetyShown`.
std::string Replace(const std::string &live, const std::string &chosen, const std::string &baseName,
                    const std::string &dataFolder, std::string &safetyShown) {
    // The sentences name the live database and the chosen copy: what went wrong with either follows
    // without naming it again.
    const auto reason = [&](const platform::Error &e) {
        return platform::WithFullStop(platform::Message(e, {live, chosen}));
    };
    std::unique_ptr<dbfile::ExclusiveHold> hold;
    try {
        hold = dbfile::ExclusiveHold::Acquire(platform::MapPath(live));
    } catch (const platform::Error &e) {
        return live + " cannot be opened for the replacement.\n\n" + startup::CannotChangeReason(e, live, chosen) +
               "Nothing was changed.";
    }
    if (!hold) return live + " is in use by another program. Close it and try again.";
    try {
        const std::filesystem::path lock = platform::MapPath(startup::ReadDateLockOf(live));
        if (platform::FileLock::HeldByAnyone(lock)) {
            const std::string holder = platform::FileLock::HolderOf(lock);
            return live + " is in use by a read-date correction or undo window" +
                   (holder.empty() ? "" : " of the login " + holder) + ". Close it and try again.";
        }
    } catch (const platform::Error &e) {
        return live + " cannot be replaced: whether a read-date correction or undo window uses it could not be "
                      "found out.\n\n" + reason(e) + "\n\nNothing was changed.";
    }

    hold->RemoveLeftovers(startup::SafetyCopyPrefix(baseName));
    const std::string stamp = platform::Format(platform::Now(), "mmddyyhhmmss");
    const std::string safety = platform::JoinedPath(dataFolder, startup::SafetyCopyPrefix(baseName) + stamp + ".mdb");
    dbfile::ReplaceStage stage{};
    try {
        const std::filesystem::path written =
            hold->ReplaceContent(platform::MapPath(chosen), platform::MapPath(safety), stage);
        safetyShown = platform::JoinedPath(dataFolder, written.filename().string());
    } catch (const platform::Error &e) {
        switch (stage) {
        case dbfile::ReplaceStage::Checking: {
            // Only a check that was made and failed calls the copy unsound.
            const bool unsound = e.number == 3343 || e.number == 3031;
            return chosen + (unsound ? " cannot be restored: it is not a sound database"
                             : e.number == 75 ? " could not be read, so it cannot be restored"
                                              : " could not be checked, so it cannot be restored") +
                   ".\n\n" + reason(e) + "\n\nNothing was changed.";
        }
        case dbfile::ReplaceStage::SafetyCopy:
            return "The safety copy " + safety + " of " + live + " could not be made.\n\n" + reason(e) +
                   "\n\nNothing was replaced.";
        case dbfile::ReplaceStage::Journal:
            return "The journal that keeps the old content of " + live + " during the replacement could not be "
                   "written.\n\n" + reason(e) + "\n\nNothing was replaced.";
        case dbfile::ReplaceStage::Naming:
            return live + " was replaced with " + chosen + ", but the safety copy of its old content could not be "
                          "kept as " + safety + ".\n\n" + reason(e);
        case dbfile::ReplaceStage::Replacing: break;
        }
        return live + " could not be replaced with " + chosen + ".\n\n" + reason(e) + "\n\n" + live +
               " keeps its previous content: nothing was replaced, and no safety copy was kept.";
    }
    return {};
}

}  // namespace

// After a restore the window stays open with nothing listed: the safety copy that the closing message
// names can be listed and restored in turn, which takes the restore back.
void frmRestAutoCopy::cmdRestore_Click() {
    const std::string chosenName = cd.FileTitle;
    if (chosenName.empty()) {
        platform::ui::End(0);
        return;
    }
    // A backup's copy bears the live database's own name.
    LiveBaseName = ListedBackupCopy   ? std::filesystem::path(DataFileName).stem().string()
                   : ListedSafetyCopy ? SafetyCopyBaseOf(chosenName)
                                      : LiveBaseNameOf(chosenName);
    const std::string live = platform::JoinedPath(DataFolder, ListedBackupCopy ? DataFileName : LiveBaseName + ".mdb");
    const std::string &chosen = ListedPath;  // the file the listing showed

    std::string failure, safety;
    if (!platform::FileExists(live)) {
        failure = "The live database " + live + " does not exist, so there is nothing to replace with " + chosen +
                  ".\n\nNothing was copied.";
    } else if (!platform::FileExists(chosen)) {
        failure = chosen + " no longer exists, so it cannot be restored.\n\nNothing was changed.";
    } else {
        platform::ui::BusyScope busy;
        busy.Run([&] { failure = Replace(live, chosen, LiveBaseName, DataFolder, safety); });
    }
    if (!failure.empty()) {
        Refuse(failure);
        return;
    }
    platform::LogEvent("restore: " + live + " replaced with " + chosen + "; safety copy " + safety);
    ListNothing();
    MsgBox(live + " was replaced with " + chosen + "\n\nIts previous content is kept in the safety copy " + safety +
               ". To take this restore back, list that file (in the data folder, one folder above the automatic "
               "copies) and restore it.",
           platform::ui::vbInformation, "FINISHED");
}

}  // namespace restore
