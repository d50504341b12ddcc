#pragma once
// Temporary installation for the audit tests: C:\QV (program folder with AUDIT\) and the data
// database C:\Data\billing.mdb with table LIDB; the clock is fixed until the test sets another time.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/paths.h"
#include "startup/shared.h"
#include "support/sql_file.h"
#include "support/temp_drive.h"

namespace audittest {

class AuditTest : public ::testing::Test {
protected:
    qvtest::TempDrives drives{"C"};

    AuditTest() {
        std::filesystem::create_directories(drives.linux("C:\\QV\\AUDIT"));
        std::filesystem::create_directories(drives.linux("C:\\Data"));
        qvtest::SqlFile(DataFile()).exec("create table LIDB ([When] TEXT, ByWhom TEXT, What TEXT)");
        platform::SetAppPathForTests("C:\\QV");
        auto &s = startup::Shared();
        s.DataFolder = "C:\\Data";
        s.DataFileName = "billing.mdb";
        s.DataFilePath = "C:\\Data\\billing.mdb";
        SetTime(platform::MakeDateTime(2017, 5, 17, 21, 8, 30));
    }
    ~AuditTest() override {
        platform::SetClockForTests({});
        platform::SetAppPathForTests("");
        auto &s = startup::Shared();
        s.DataFolder.clear();
        s.DataFileName.clear();
        s.DataFilePath.clear();
    }

    static void SetTime(platform::DateTime t) {
        platform::SetClockForTests([t] { return t; });
    }
    std::filesystem::path DataFile() const { return drives.linux("C:\\Data\\billing.mdb"); }
    std::filesystem::path AuditFile(const std::string &name) const { return drives.linux("C:\\QV\\AUDIT\\" + name); }
    std::string AuditText(const std::string &name) const {
        const auto p = AuditFile(name);
        return std::filesystem::exists(p) ? qvtest::ReadFile(p) : std::string();
    }
    std::vector<std::vector<std::string>> LidbRows() const {
        return qvtest::SqlFile(DataFile()).rows("select [When], ByWhom, What from LIDB order by rowid");
    }
};

}  // namespace audittest
