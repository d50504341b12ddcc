#pragma once
// The converted installation opened as the tools open it: through the configuration just written, in a
// child process as the office's login and as a clerk of its group (read-write opens, the locks, AUDIT).
#include <filesystem>
#include <string>

#include "qvmigrate/plan.h"

namespace qvmigrate {

// Run as the login that is to use the installation (IsolatedAs): reads the configuration files as the
// tools read them (`config` taking the system file's place when the tools would not read it), checks
// that they map the drive to TARGET, then opens what the tools open: the settings database as start-up
// does (its program folder, the tools' password, the first record of `current`), and as the read-date
// window does: the settings database, the data database written in a transaction that is rolled back
// (its .ldb and journal made), its .frd lock, a file made in the AUDIT folder (and this month's audit
// file opened to append), the temp-data database. Returns one line a problem: "F" and what a clerk will
// not be able to do, naming the file and the tools' error, or "N" and a note (a file in use by the tools
// now); empty when the tools open them all.
std::string ToolsWillRefuse(const Plan &plan, const Options &options);

}  // namespace qvmigrate
