#pragma once
// The complete backup's work, without a window, so that the backup window and a run without one make
// the same backup. Below the chosen destination it makes:
//   <QVNWin32|QVWin32>\...                       the program folder's tree, by the copier's two passes
//   <QVNWin32|QVWin32> data\<data file>          the live data database, when it lies outside that folder
//   <name> replaced YYYY-MM-DD HH.MM.SS\...      what this backup replaced in <name>, at its place in the tree
// Every database goes in as it stood at one moment (dao/snapshot.h), the copier leaves out the tools'
// lock and work files, and a file that is replaced is first moved (renamed) into the replaced folder of
// this backup, never copied. After a backup that was checked good only the newest BackupGenerations
// replaced folders of each name stay.
#include <functional>
#include <string>

namespace backup {

struct BackupRequest {
    std::string programFolder;  // Windows path
    std::string destination;    // Windows path of the chosen folder
    std::string dataFile;       // Windows path of the live data database; empty when none is named
    // Runs work that blocks (the window stays current meanwhile); when empty the work runs directly.
    std::function<void(const std::function<void()> &)> busy;
    // Called between the two passes; false stops the backup there.
    std::function<bool()> betweenPasses;
    bool unattended = false;  // for the record of the last backup (backup_status.h)
};

struct BackupOutcome {
    enum Kind { Refused, Failed, Stopped, Finished } kind = Failed;
    // Refused and Failed: what the clerk is told; Finished: the closing message, whose first line is
    // "All files have been copied to <program folder's copy>".
    std::string message;
    std::string logLine;  // one line for the system log
    std::string reason;   // Refused and Failed: why, in the words of the message's first cause
};

// Makes the backup that `request` asks for and records how it went (backup_status.h): a backup that
// ended, and an unattended one that was refused; one that started is recorded as not ended until it
// ends (killed, it stays so).
// One backup at a time goes into a destination: a second one is Refused while the first holds the
// lock on the destination folder. A destination that cannot work is Refused before anything
// is copied; a pass, a copy or a check that fails is Failed, saying what was copied, how many files were
// checked good and where the files it replaced were kept. Never raises.
BackupOutcome RunBackup(const BackupRequest &request);

// The copier command line for one pass: the program folder's files to `target`, with `switches`.
// A path holding a blank is put between double quotes; other paths go in exactly as built.
std::string CopyCommand(const std::string &programFolder, const std::string &target, const std::string &switches);

}  // namespace backup
