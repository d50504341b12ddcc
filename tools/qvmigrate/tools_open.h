#pragma once
// The converted installation opened as the tools open it.
#include <string>

#include "qvmigrate/plan.h"

namespace qvmigrate {

// Opens the settings database as start-up does (its program folder, the tools' password, the first
// record of `current`), then the data database and the temp-data database as the read-date window
// does, through the drive map the migration writes. Returns one line a file the tools would refuse,
// naming it and saying why; empty when they open them all.
std::string ToolsWillRefuse(const Plan &plan, const Options &options);

}  // namespace qvmigrate
