// The complete backup tool run by a user on a generated installation: the process's current folder
// lies on a second drive, the two boxes are answered with Enter, and the program tree arrives there.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <filesystem>
#include <functional>
#include <map>

#include "support/e2e.h"
#include "support/installation.h"
#include "support/temp_drive.h"

namespace fs = std::filesystem;

namespace {

using namespace qvtest;

bool WaitFor(const std::function<bool()> &done, int timeoutMs = 30000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QThread::msleep(50);
    }
    return true;
}

// Visible files below a folder (relative path -> content); hidden names are skipped with their subtrees.
std::map<std::string, std::string> VisibleFiles(const fs::path &root) {
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path().filename().string()[0] == '.') {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file()) files[fs::relative(it->path(), root).string()] = ReadFile(it->path());
    }
    return files;
}

TEST(QbuE2E, BackupOfTheProgramTreeToTheCurrentFolderOnAnotherDrive) {
    XSession x;
    TempDrives drives{"CE"};
    InstallationOptions o;
    o.readingsPerBill = 20;
    const Installation inst = LayOutInstallation(drives.folder('C'), QV_BIN_DIR, o);
    fs::create_directories(inst.programDir / "Empty" / "Nested");
    const fs::path current = drives.folder('E') / "Backups";
    fs::create_directories(current);
    const fs::path target = current / "QVNWin32";

    Program qvutil(inst.qvutil, {"QBU"}, QvutilEnv(&x, drives.spec()), current);
    const std::string w = x.waitForWindow("Quorvant32 Complete Software Backup");
    ASSERT_FALSE(w.empty()) << qvutil.errorOutput();
    x.keys(w, {"Return"});  // focus is on step 2

    const std::string step1 = x.waitForWindow("STEP 1");
    ASSERT_FALSE(step1.empty()) << qvutil.errorOutput();
    // The user waits for the structure pass before confirming.
    ASSERT_TRUE(WaitFor([&] { return fs::is_directory(target / "DATA" / "backup"); }));
    ASSERT_TRUE(WaitForNoProcess("qvxcopy"));
    x.keys(step1, {"Return"});

    const std::string finished = x.waitForWindow("FINISHED");
    ASSERT_FALSE(finished.empty()) << qvutil.errorOutput();
    x.keys(finished, {"Return"});
    EXPECT_EQ(qvutil.wait(), 0) << qvutil.errorOutput();

    // The copier goes on after the utility has ended.
    const auto source = VisibleFiles(inst.programDir);
    ASSERT_TRUE(WaitFor([&] { return VisibleFiles(target).size() >= source.size(); }));
    ASSERT_TRUE(WaitForNoProcess("qvxcopy"));
    EXPECT_EQ(VisibleFiles(target), source);
    EXPECT_FALSE(fs::exists(target / "Empty"));
    EXPECT_TRUE(fs::is_regular_file(target / "qvutil"));
    EXPECT_NE(fs::status(target / "qvxcopy").permissions() & fs::perms::owner_exec, fs::perms::none);
}

}  // namespace
