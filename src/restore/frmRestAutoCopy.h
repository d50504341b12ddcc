#pragma once
// The auto-copy restore window: pick one of the automatic copies of the data database in
// <data folder>\backup, then put its content in place of the live data database, after a safety
// copy of the live one. A safety copy that a restore kept in the data folder can be picked and put
// back the same way, so that a restore can be taken back; the window stays open after a restore. So
// can the copy of the data database that a complete backup made, and the earlier ones kept beside it
// (a file named as the live database in a folder "QVNWin32 data" or "QVNWin32 data replaced <stamp>").
//
// frmRestAutoCopy.cpp holds the controls, loading and Exit; frmRestAutoCopy_list.cpp the listing;
// frmRestAutoCopy_replace.cpp the replacement.
#include <string>

#include "platform/dao/dao.h"
#include "platform/ui/forms.h"

namespace restore {

class frmRestAutoCopy : public platform::ui::Form {
public:
    frmRestAutoCopy();
    ~frmRestAutoCopy() override;

    // Controls (owned by the form), and the file-open dialog.
    platform::ui::CommandButton *cmdList = nullptr;
    platform::ui::TextBox *txt = nullptr;
    platform::ui::CommandButton *cmdRestore = nullptr;
    platform::ui::CommandButton *cmdExit = nullptr;
    platform::ui::CommonDialog cd;

    // Event handlers.
    void cmdList_Click();
    void cmdRestore_Click();
    void cmdExit_Click();

    // Window-level state.
    std::string DataFolder;    // databasepath of the settings database, untrimmed
    std::string DataFileName;  // DatabaseFileName of the settings database, trimmed: the live database
    std::string LiveBaseName;  // the live database's base name, derived from the chosen copy's name
    std::string ListedPath;    // the file the last listing showed, which Restore puts in place
    bool ListedSafetyCopy = false;  // it is a safety copy in the data folder, not an automatic copy
    bool ListedBackupCopy = false;  // it is the data copy of a complete backup, or an earlier state of it

protected:
    void Form_Load() override;

private:
    void ListNothing();
    bool BackupCopyOf(const std::string &chosenFolder, const std::string &chosenName) const;

    // Loading only.
    platform::dao::Database dbGlobal;
    platform::dao::Recordset rsCurrent;
};

// The live database's base name for a chosen copy's name: the text after its leftmost "." (trimmed)
// is the extension; longer than 3 characters takes 7 characters off the name, else 5. Empty when the
// name is shorter than that.
std::string LiveBaseNameOf(const std::string &chosenName);

// The live database's base name for the name of a safety copy that a restore kept
// ("<base>replacedbyautocopy<12-digit stamp>.mdb", "-<n>" after the stamp when the name was taken):
// the part before "replacedbyautocopy". Empty for any other name.
std::string SafetyCopyBaseOf(const std::string &name);

// The text that " created " joins for a listed copy: "<name> created MM/DD/YYYY HH:MM:SS".
std::string ListingText(const std::string &chosenName, platform::DateTime written);

}  // namespace restore
