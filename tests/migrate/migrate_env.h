#pragma once
// An office's drive C as copied from Windows, laid out from the billing-shaped Jet files: the program
// folder with global.mdb and AUDIT, the data folder C:\QVData (as `current` names it) with BILLING.mdb
// and its automatic copy in backup, and the selection at its fixed place; qvmigrate run on it.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_drive.h"

namespace qvtest {

inline const std::filesystem::path kJet = QV_SOURCE_DIR "/../shared/jet";
// Where scripts/setup puts the two Access files that Debian packages ship.
std::filesystem::path DebianJet();

struct QvRun {
    int status = -1;
    std::string out, err;
};

struct MigrateEnv {
    MigrateEnv();
    TempDrives drives{"SC"};  // S: the copy of the Windows drive; C: the Linux folder it becomes
    std::filesystem::path source, target, config;
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> copies;  // Jet file, converted file

    // Puts a Jet file into the data folder's backup folder, where every .mdb is converted.
    void AddCopy(const std::filesystem::path &jet);
    QvRun Run(std::vector<std::string> args) const;  // qvmigrate [args] --config CONFIG SOURCE TARGET
};

}  // namespace qvtest
