#pragma once
// The converted installation opened as the tools open it: through the configuration just written, in a
// child process as the office's login and as a clerk of its group (read-write opens, the locks, AUDIT).
#include <filesystem>
#include <string>
#include <vector>

#include "qvmigrate/child.h"
#include "qvmigrate/plan.h"

namespace qvmigrate {

// Run as the login that is to use the installation (IsolatedAs): reads the configuration files as the
// tools read them (`config` taking the system file's place when the tools would not read it), checks
// that they map the drive to TARGET, then opens what the tools open: the settings database as start-up
// does (its program folder, the tools' password, the first record of `current`), and as the read-date
// window does: the settings database, the data database written in a transaction that is rolled back
// (its .ldb and journal made), its .frd lock, a file made in the AUDIT folder (and this month's audit
// file opened to append), the temp-data database. Returns one finding a problem: the file, what a clerk
// will not be able to do and the tools' error, or a note (a file in use by the tools now); none
// when the tools open them all.
struct Finding {
    bool refused = true;  // false: a note
    bool denied = false;  // the system denied the login access to a file or folder (error 70, EACCES)
    std::string subject;  // the file or drive it is about; empty: the text names it
    std::string text;
    bool operator==(const Finding &) const = default;
};
std::vector<Finding> ToolsWillRefuse(const Plan &plan, const Options &options);
// The findings as a child process hands them to its parent, and back.
Record EncodeFindings(const std::vector<Finding> &findings);
std::vector<Finding> DecodeFindings(Record record);

}  // namespace qvmigrate
