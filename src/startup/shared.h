#pragma once
// The module-level state that start-up leaves for the tools, in one place, and the settings it is read from.
#include <string>

#include "platform/dao/dao.h"
#include "platform/error.h"

namespace startup {

struct SharedState {
    std::string DataFolder;    // trimmed databasepath of the first record of `current`
    std::string DataFileName;  // trimmed DatabaseFileName
    std::string DataFilePath;  // DataFolder & "\" & DataFileName (set again by the read-date window)
    std::string ToolKeyword;   // the command line's argument text, upper-cased
    platform::dao::Database db;   // shared database handle
    platform::dao::Recordset rs;  // shared recordset handle
};

SharedState &Shared();

// Reads the settings database (global.mdb in the program's folder, opened exclusively and read-only)
// into the shared state: the first record of `current`, trimmed. An empty table leaves the texts empty.
void ReadSettings();

// The password connect string of the settings database.
inline constexpr const char *kGlobalConnect = ";pwd=tovan58";

// The lock file that a read-date window holds beside the data database it works on, for as long
// as it is open (one window per data database; the restore tool does not replace a database held so).
inline std::string ReadDateLockOf(const std::string &dataFilePath) { return dataFilePath + ".frd"; }

// The start of the names of the safety copies that a restore keeps beside the live database
// <baseName>.mdb: the time stamp and ".mdb" follow.
inline std::string SafetyCopyPrefix(const std::string &baseName) { return baseName + "replacedbyautocopy"; }

// The folders of a complete backup under its destination, beside the program folder's copy named
// `programCopy` ("QVNWin32" or "QVWin32"): the copy of the data database, and each earlier state that a
// backup replaced, named with the time that backup began (`stamp`, "YYYY-MM-DD HH.MM.SS").
inline std::string BackupDataFolder(const std::string &programCopy) { return programCopy + " data"; }
inline std::string ReplacedFolder(const std::string &folder, const std::string &stamp) {
    return folder + " replaced " + stamp;
}
// True for the name of a folder that holds a backup's copy of the data database, or an earlier state of it.
bool IsBackupDataFolderName(const std::string &name);

// For a refusal to open or write the data database: "This login may not change that database or create
// files in its folder. " when the system refused this login (not a link another login planted), else "".
std::string LoginMayNotChangeNote(const platform::Error &e);
// The middle of a box that refuses to change the database `database` (a Windows path), up to its
// closing words: for a login outside the group that owns the database's folder, that, naming the login,
// the group and the database; otherwise the failure's text and the note above. Neither names the
// database, `also` (named by the box's sentence) or a lock file beside the database that the system
// refused. Ends with a blank line.
std::string CannotChangeReason(const platform::Error &e, const std::string &database, const std::string &also = {});

// Removes the lock file that a read-date window killed on the data database at `dataFilePath` left
// beside it, when no window holds it; a file that cannot be removed stays (the windows take it over).
void RemoveKilledWindowLock(const std::string &dataFilePath);

// Removes what restores killed on the data database at `dataFilePath` left beside it (a journal no
// longer in use, hidden temporaries of its safety copies) and the .ldb files nobody holds beside the
// copies it restores from; the caller holds the database open.
void RemoveKilledRestoreLeftovers(const std::string &dataFilePath);

// Runs one statement on the shared database handle; every failure (a missing handle included) is dropped.
void ExecuteSql(const std::string &sql);

// The text without its leading and trailing blanks (blanks only, as the billing product writes them).

// Doubles the single quotes of a value that goes between single quotes in SQL text.
std::string SqlQuote(const std::string &value);

// A field value as a literal of SQL text or of a FindFirst criterion: Null, a number in digits, any
// other value as a text between single quotes (a value never becomes SQL of its own).
std::string SqlLiteral(const platform::dao::Variant &value);

// A value joined into text as the string operator joins it: Null adds nothing.
std::string TextOf(const platform::dao::Variant &value);

}  // namespace startup
