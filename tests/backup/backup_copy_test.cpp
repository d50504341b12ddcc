// Step 2 of the backup window: destination folder, the two command lines, the messages, the end.
#include <filesystem>

#include "backup_fixture.h"
#include "platform/ui/app.h"

namespace fs = std::filesystem;
namespace ui = platform::ui;
using Events = std::vector<std::string>;

namespace qvtest {
namespace {

// `target` as the commands hold it; `shown` as the closing message names it (default: the same).
Events Expected(const std::string &source, const std::string &target, std::string shown = {}) {
    if (shown.empty()) shown = target;
    return {"shell: xcopy " + source + " " + target + " /T/Y",
            "box STEP 1 (64): Click OK when the black screen disappears.",
            "shell: xcopy " + source + " " + target + " /s/d/y",
            "box FINISHED (64): All files have been copied to " + shown};
}

TEST_F(BackupWindowTest, ClickAtOnceCopiesToTheCurrentFolderAndEnds) {
    Open();
    EXPECT_EQ(ClickStep2(), Expected("C:\\QVNWin32\\*.*", "E:\\Backups\\QVNWin32"));
    EXPECT_TRUE(fs::is_directory(drives.linux("E:\\Backups\\QVNWin32")));
    EXPECT_TRUE(ui::Ending());
    EXPECT_EQ(ui::EndStatus(), 0);
}

TEST_F(BackupWindowTest, DriveRootGivesTwoBackslashesAsJoined) {
    Place("C:\\QVNWin32", "E:\\");
    Open();
    EXPECT_EQ(ClickStep2(), Expected("C:\\QVNWin32\\*.*", "E:\\\\QVNWin32"));
    EXPECT_TRUE(fs::is_directory(drives.folder('E') / "QVNWin32"));
}

TEST_F(BackupWindowTest, FolderNameFollowsTheProgramFolderInExactCase) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\Apps\\QVNWin32", "QVNWin32"}, {"C:\\qvnwin32", "QVWin32"}, {"C:\\QVWin32", "QVWin32"}};
    for (const auto &[program, name] : cases) {
        Place(program, "E:\\Backups");
        Open();
        const Events got = ClickStep2();
        ASSERT_EQ(got.size(), 4u) << program;
        EXPECT_EQ(got[0], "shell: xcopy " + program + "\\*.* E:\\Backups\\" + name + " /T/Y");
        EXPECT_TRUE(fs::is_directory(drives.linux("E:\\Backups\\" + name))) << program;
        form.reset();
        ui::ResetEndingForTests();
    }
}

TEST_F(BackupWindowTest, ExistingBackupIsReusedAndFailuresAreSkippedSilently) {
    WriteFile(drives.linux("E:\\Backups\\QVNWin32\\qvutil"), "old backup");
    Open();
    EXPECT_EQ(ClickStep2(), Expected("C:\\QVNWin32\\*.*", "E:\\Backups\\QVNWin32"));
    EXPECT_EQ(ReadFile(drives.linux("E:\\Backups\\QVNWin32\\qvutil")), "old backup");
    ui::ResetEndingForTests();

    // The destination vanished after it was chosen: the folder cannot be created, and the
    // commands and messages still follow in order.
    form.reset();
    Place("C:\\QVNWin32", "E:\\Gone");
    Open();
    fs::current_path(drives.folder('E'));
    fs::remove_all(drives.linux("E:\\Gone"));
    EXPECT_EQ(ClickStep2(), Expected("C:\\QVNWin32\\*.*", "E:\\Gone\\QVNWin32"));
    EXPECT_FALSE(fs::exists(drives.linux("E:\\Gone")));
    EXPECT_TRUE(ui::Ending());
}

TEST_F(BackupWindowTest, PathsWithBlanksAreQuotedAndOthersLeftAsBuilt) {
    Place("C:\\Program Files\\QVNWin32", "E:\\My Backups");
    Open();
    EXPECT_EQ(ClickStep2(), Expected("\"C:\\Program Files\\QVNWin32\\*.*\"", "\"E:\\My Backups\\QVNWin32\"",
                                     "E:\\My Backups\\QVNWin32"));
    EXPECT_TRUE(fs::is_directory(drives.linux("E:\\My Backups\\QVNWin32")));
    form.reset();
    ui::ResetEndingForTests();

    Place("C:\\QVNWin32", "E:\\My Backups");
    Open();
    EXPECT_EQ(ClickStep2()[0], "shell: xcopy C:\\QVNWin32\\*.* \"E:\\My Backups\\QVNWin32\" /T/Y");
}

}  // namespace
}  // namespace qvtest
