// The auto-copy restore tool run by a user on a generated installation: the keyboard lists an
// automatic copy through the real file dialog and restores it; the data folder tells what it did.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/e2e.h"
#include "support/installation.h"
#include "support/sql_file.h"
#include "support/temp_drive.h"

namespace {

using namespace qvtest;
namespace fs = std::filesystem;

std::string Readings(const fs::path &db) {
    return SqlFile(db).scalar("select count(*) || '/' || group_concat(lockey || ' ' || readdate, ',') from "
                              "(select * from [tbl reading] order by rowid)");
}

TEST(RacE2E, KeyboardRestoresAnAutomaticCopy) {
    XSession x;
    TempDrives drives{"C"};
    InstallationOptions o;
    o.readingsPerBill = 40;
    const Installation inst = LayOutInstallation(drives.folder('C'), QV_BIN_DIR, o);
    const std::string before = Readings(inst.dataDb);
    const std::string copy = Readings(inst.backupDir / "BILLING2.mdb");
    ASSERT_NE(before, copy);

    Program qvutil(inst.qvutil, {"RAC"}, QvutilEnv(&x, drives.spec()), drives.folder('C'));
    const std::string w = x.waitForWindow("Restore Auto-Copy Database Files");
    ASSERT_FALSE(w.empty()) << qvutil.errorOutput();
    x.keys(w, {"Tab", "space"});  // focus starts on Exit (Restore is off); Tab reaches the list button
    const std::string dialog = x.waitForWindow("Locate Auto-Copy Database File");
    ASSERT_FALSE(dialog.empty()) << qvutil.errorOutput();
    x.type(dialog, "BILLING2.mdb");
    x.keys(dialog, {"Return"});
    x.keys(w, {"alt+r"});
    const std::string finished = x.waitForWindow("FINISHED");
    ASSERT_FALSE(finished.empty()) << qvutil.errorOutput();
    x.keys(finished, {"Return"});
    ASSERT_EQ(qvutil.wait(), std::optional<int>(0)) << qvutil.errorOutput();

    EXPECT_EQ(Readings(inst.dataDb), copy);
    EXPECT_EQ(SqlFile(inst.dataDb).scalar("PRAGMA integrity_check"), "ok");
    int safetyCopies = 0;
    for (auto &e : fs::directory_iterator(inst.dataDir)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("BILLINGreplacedbyautocopy", 0) != 0) continue;
        ++safetyCopies;
        EXPECT_EQ(name.size(), std::string("BILLINGreplacedbyautocopy").size() + 12 + 4) << name;
        EXPECT_EQ(Readings(e.path()), before);
    }
    EXPECT_EQ(safetyCopies, 1);
}

}  // namespace
