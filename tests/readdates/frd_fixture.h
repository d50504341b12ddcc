#pragma once
// A small installation for the read-date window, on temporary drives:
//   C:\QVNWin32\global.mdb   (password tovan58; `current` -> C:\QVData\billing.mdb)
//   C:\QVNWin32\AUDIT (folder)
//   C:\QVData\billing.mdb    (`tbl reading`, LIDB)
//   C:\users\public\qv32tempdata\tempdataDTC.mdb (selectionsetDTC)
// The app path is C:\QVNWin32, start-up's shared state points at the data database, and every
// message box is recorded and answered OK.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ui/app.h"
#include "readdates/frmFixDupRdgs.h"
#include "support/modal.h"
#include "qvsample/sql_file.h"
#include "qvsample/temp_drive.h"

namespace frdtest {

inline constexpr const char *kAppFolder = "C:\\QVNWin32";
inline constexpr const char *kDataFolder = "C:\\QVData";
inline constexpr const char *kDataFile = "billing.mdb";
inline constexpr const char *kDataPath = "C:\\QVData\\billing.mdb";
inline constexpr const char *kTempDataPath = "C:\\users\\public\\qv32tempdata\\tempdataDTC.mdb";

struct Reading {
    std::string billdate;                 // storage text, e.g. "2021-05-01"; "" for Null
    std::string readdate;                 // storage text, e.g. "2021-04-28 10:30:00"; "" for Null
    std::optional<std::string> code;      // nullopt for Null
    std::optional<long long> lockey;      // nullopt for Null
};

class FrdEnv {
public:
    FrdEnv();
    ~FrdEnv();
    FrdEnv(const FrdEnv &) = delete;
    FrdEnv &operator=(const FrdEnv &) = delete;

    qvtest::TempDrives drives{"C"};

    // Linux paths of the installation's files.
    std::filesystem::path GlobalFile() const { return drives.linux(std::string(kAppFolder) + "\\global.mdb"); }
    std::filesystem::path DataFile() const { return drives.linux(kDataPath); }
    std::filesystem::path TempDataFile() const { return drives.linux(kTempDataPath); }
    std::filesystem::path AuditFolder() const { return drives.linux(std::string(kAppFolder) + "\\AUDIT"); }

    // Rewrites the one record of `current` (texts stored as given, blanks included).
    void SetCurrent(const std::string &databasepath, const std::string &fileName);

    // Readings of `tbl reading`.
    void AddReading(const Reading &r);
    void AddReadings(const std::vector<Reading> &rs);
    // `count` readings of one bill date, read date and code, lockeys firstLockey, firstLockey+1, ...
    // (one transaction; for large sets).
    void AddManyReadings(const std::string &billdate, const std::string &readdate, const std::string &code,
                         long long firstLockey, long long count);
    // Accounts of the billing product's selection (selectionsetDTC).
    void Select(long long lockey, const std::string &accno);
    void SelectRange(long long firstLockey, long long count);  // accno "A<lockey>"

    // Raw access to the databases (a fresh connection each call; closed when the pointer goes).
    std::unique_ptr<qvtest::SqlFile> Data() const;
    long long DataCount(const std::string &sql) const;
    std::vector<std::vector<std::string>> DataRows(const std::string &sql) const;
    bool DataHasTable(const std::string &name) const;

    // The form, constructed and shown (Form_Load has run); unloaded by the destructor when still loaded.
    readdates::frmFixDupRdgs &OpenForm();
    readdates::frmFixDupRdgs *form() const { return form_.get(); }
    // A second copy of the window on the same installation (for the one-tool-per-database rule).
    std::unique_ptr<readdates::frmFixDupRdgs> OpenSecondForm();

    // Message boxes shown since the last ClearBoxes().
    qvtest::BoxRecorder recorder;
    std::vector<platform::ui::MsgBoxRecord> &boxes = recorder.boxes();
    void ClearBoxes() { boxes.clear(); }

    // Keyboard helpers through the real focus chain.
    // Types `text` into the field (focus first, whole text replaced) and leaves it with Tab.
    void Enter(int index, const std::string &text);
    void PressTab();
    void PressEnter();
    void ProcessEvents();

private:
    std::unique_ptr<readdates::frmFixDupRdgs> form_;
};

// A gtest base with one installation per test.
class FrdTest : public ::testing::Test, public FrdEnv {};

}  // namespace frdtest
