#pragma once
// A generated installation of the billing product on a folder that stands for drive C:
//
//   <C>/QVNWin32/            qvutil, qvxcopy (copied from the build), global.mdb (password tovan58,
//                            `current` -> C:\QVNWin32\DATA\BILLING.mdb), AUDIT/
//   <C>/QVNWin32/DATA/       BILLING.mdb (the data database: `tbl reading`, `LIDB`)
//   <C>/QVNWin32/DATA/backup automatic copies BILLING1..3.mdb, plus GLOBAL1.mdb and BILLING.ZIP
//   <C>/users/public/qv32tempdata/tempdataDTC.mdb   the account selection (`selectionsetDTC`)
#include <filesystem>
#include <string>

namespace qvtest {

struct InstallationOptions {
    bool emptyCurrent = false;     // `current` without records
    int accounts = 400;            // lockey 1..accounts
    int selected = 300;            // the first `selected` accounts are in the selection
    int readingsPerBill = 1000;    // readings of each bill date, spread over codes W, E, G
    bool automaticCopies = true;   // backup folder with copies and refused names
    bool copyBinaries = true;      // copy qvutil and qvxcopy from binDir into the program folder
};

struct Installation {
    std::filesystem::path driveC;      // the folder standing for C:
    std::filesystem::path programDir;  // <C>/QVNWin32
    std::filesystem::path globalDb;
    std::filesystem::path dataDir;
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
