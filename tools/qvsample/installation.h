#pragma once
// A generated installation of the billing product on a folder that stands for drive C:
//
//   <C>/QVNWin32/            qvutil, qvxcopy (copied from the build), global.mdb (password), AUDIT/
//   <C>/QVNWin32/DATA/       BILLING.mdb (the data database: `tbl reading`, `LIDB`)
//   <C>/QVNWin32/DATA/backup automatic copies BILLING1..3.mdb, plus GLOBAL1.mdb and BILLING.ZIP
//   <C>/users/public/qv32tempdata/tempdataDTC.mdb   the account selection (`selectionsetDTC`)
#include <filesystem>
#include <string>

namespace qvtest {

struct InstallationOptions {
    std::string programFolder = "QVNWin32";
    std::string dataFolder = "C:\\QVNWin32\\DATA";   // `current`.databasepath as stored
    std::string dataFileName = "BILLING.mdb";        // `current`.DatabaseFileName as stored
    bool emptyCurrent = false;                        // `current` without records
    std::string password = "tovan58";
    int accounts = 400;            // lockey 1..accounts
    int selected = 300;            // the first `selected` accounts are in the selection
    int readingsPerBill = 1000;    // readings of each bill date, spread over codes W, E, G
    bool automaticCopies = true;   // backup folder with copies and refused names
    bool copyBinaries = true;      // copy qvutil and qvxcopy from binDir into the program folder
    unsigned seed = 7;
};

struct Installation {
    std::filesystem::path driveC;      // the folder standing for C:
    std::filesystem::path programDir;  // <C>/QVNWin32
    std::filesystem::path globalDb;
    std::filesystem::path dataDir;     // mapped data folder (only when under C:)
    std::filesystem::path dataDb;
    std::filesystem::path backupDir;
    std::filesystem::path tempDataDb;
    std::filesystem::path auditDir;
    std::filesystem::path qvutil;      // the installed executable
};

// Lays out the installation under `driveC` (created when missing). binDir holds the built qvutil and
// qvxcopy. Throws std::runtime_error on failure.
Installation LayOutInstallation(const std::filesystem::path &driveC, const std::filesystem::path &binDir,
                                const InstallationOptions &options = {});

}  // namespace qvtest
