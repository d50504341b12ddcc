// The backup window: its opening state, the drive and folder lists, Exit.
#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "backup_fixture.h"
#include "platform/ui/app.h"
#include "support/modal.h"

namespace fs = std::filesystem;
namespace ui = platform::ui;

namespace qvtest {
namespace {

TEST_F(BackupWindowTest, OpensOnTheCurrentFolderWithFocusOnStep2AndNoClippedCaption) {
    Open();
    EXPECT_EQ(form->Caption(), "Quorvant32 Complete Software Backup");
    EXPECT_TRUE(ui::ClippedCaptions(*form).empty());
    EXPECT_EQ(LabelledBy(form->Drive1), "Step 1. Select destination for this backup");
    EXPECT_EQ(AccessibleName(form->Dir1), "destination folder");
    QTRY_COMPARE(QApplication::focusWidget(), form->cmd2->widget());
    // Both lists start at the process's current drive and folder.
    EXPECT_EQ(form->Drive1->Drive(), "e:");
    EXPECT_EQ(form->Dir1->Path(), "E:\\Backups");
}

TEST_F(BackupWindowTest, DriveChangeOpensThatDrivesCurrentFolder) {
    fs::create_directories(drives.linux("C:\\QVNWin32\\Sub"));
    Open();
    form->Drive1->SetDrive("c:");
    EXPECT_EQ(form->Dir1->Path(), "C:\\");
    form->Drive1->SetDrive("e:");
    EXPECT_EQ(form->Dir1->Path(), "E:\\Backups");  // E's current folder, not its root

    // Opening a folder with a double-click moves the destination, not the drive.
    form->Drive1->SetDrive("c:");
    auto *tree = static_cast<QTreeWidget *>(form->Dir1->widget());
    auto items = tree->findItems("QVNWin32", Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_EQ(items.size(), 1);
    const QPoint at = tree->visualItemRect(items[0]).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(form->Dir1->Path(), "C:\\QVNWin32");
    EXPECT_EQ(form->Drive1->Drive(), "c:");
    EXPECT_EQ(ClickStep2()[0], "shell: xcopy C:\\QVNWin32\\*.* C:\\QVNWin32\\QVNWin32 /T/Y");
}

TEST_F(BackupWindowTest, DriveThatCannotBeOpenedIsReportedAndTheListsStay) {
    Place("C:\\QVNWin32", "C:\\QVNWin32");
    Open();
    fs::remove_all(drives.folder('E'));  // E is still listed, but its folder is gone
    events.clear();
    auto *combo = static_cast<QComboBox *>(form->Drive1->widget());
    combo->setCurrentIndex(combo->findText("e:"));
    emit combo->activated(combo->currentIndex());  // as a pick by the user
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0],
              "box Quorvant 32 Utilities (48): Drive E: cannot be opened: Device unavailable.\n\n"
              "The lists stay on drive C:.");
    EXPECT_FALSE(ui::Ending());
    EXPECT_EQ(form->Drive1->Drive(), "c:");
    EXPECT_EQ(combo->currentText(), "c:");
    EXPECT_EQ(form->Dir1->Path(), "C:\\QVNWin32");
    EXPECT_TRUE(form->IsVisible());
}

TEST_F(BackupWindowTest, ExitClosesTheWindowOnly) {
    Open();
    form->cmdExit->Press();
    EXPECT_FALSE(form->IsVisible());
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(ui::Ending());
    EXPECT_FALSE(fs::exists(drives.linux("E:\\Backups\\QVNWin32")));
}

}  // namespace
}  // namespace qvtest
