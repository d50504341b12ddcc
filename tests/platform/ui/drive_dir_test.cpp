// DriveListBox, DirListBox and the file-open dialog over temporary drives.
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>

#include "platform/error.h"
#include "platform/paths.h"
#include "support/modal.h"
#include "support/temp_drive.h"
#include "test_form.h"

using namespace uitest;
namespace fs = std::filesystem;

namespace {

class Lists : public Form {
public:
    Lists() : Form("frmLists", "Lists", 5520, 4260) {
        Drive1 = &AddDriveListBox("Drive1", {240, 480, 5055, 315}, 3);
        Dir1 = &AddDirListBox("Dir1", {240, 840, 5055, 2340}, 2);
        Drive1->onChange = [this] {
            log.push_back("Drive1:" + Drive1->Drive());
            Dir1->SetPath(Drive1->Drive());
        };
        Dir1->onChange = [this] { log.push_back("Dir1:" + Dir1->Path()); };
    }
    DriveListBox *Drive1;
    DirListBox *Dir1;
    std::vector<std::string> log;
};

class DriveDirTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        for (const char *d : {"C/QVNWin32/AUDIT", "C/data/backup", "C/.hidden", "E/Backups/2024", "E/archive"})
            fs::create_directories(drives.root() / d);
    }
    qvtest::TempDrives drives{"CE"};
};

QTreeWidgetItem *ItemNamed(QTreeWidget *tree, const QString &text) {
    const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
}

TEST_F(DriveDirTest, DirListShowsTheChainAndSubfoldersOfItsPath) {
    Lists f;
    f.Dir1->SetPath("c:\\DATA");  // matched regardless of case, reported as stored
    EXPECT_EQ(f.Dir1->Path(), "C:\\data");
    EXPECT_EQ(f.Dir1->List(-1), "C:\\data");
    EXPECT_EQ(f.Dir1->List(-2), "C:\\");
    EXPECT_EQ(f.Dir1->List(-3), "");
    ASSERT_EQ(f.Dir1->ListCount(), 1);
    EXPECT_EQ(f.Dir1->List(0), "C:\\data\\backup");

    f.Dir1->SetPath("C:\\");
    EXPECT_EQ(f.Dir1->Path(), "C:\\");
    ASSERT_EQ(f.Dir1->ListCount(), 2);  // the dot folder is hidden
    EXPECT_EQ(f.Dir1->List(0), "C:\\data");
    EXPECT_EQ(f.Dir1->List(1), "C:\\QVNWin32");
    EXPECT_EQ(f.log, (std::vector<std::string>{"Dir1:C:\\data", "Dir1:C:\\"}));

    f.Dir1->SetPath("C:\\");  // no change, no event
    EXPECT_EQ(f.log.size(), 2u);
}

TEST_F(DriveDirTest, DirListRefusesMissingFoldersAndUnmappedDrives) {
    Lists f;
    f.Dir1->SetPath("E:\\archive");
    try {
        f.Dir1->SetPath("E:\\nowhere");
        FAIL() << "no error for a missing folder";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number, 76);
    }
    try {
        f.Dir1->SetPath("Q:\\");
        FAIL() << "no error for an unmapped drive";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number, 68);
    }
    EXPECT_EQ(f.Dir1->Path(), "E:\\archive");
}

TEST_F(DriveDirTest, PickingADriveOpensThatDrivesCurrentFolder) {
    const fs::path old = fs::current_path();
    fs::current_path(drives.root() / "E/Backups");
    Lists f;
    EXPECT_EQ(f.Drive1->Drive(), "e:");
    EXPECT_EQ(f.Dir1->Path(), "E:\\Backups");
    auto *combo = static_cast<QComboBox *>(f.Drive1->widget());
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(0), "c:");

    ShowActive(f);
    combo->setFocus();
    Key(Qt::Key_Up);  // the user picks the other drive
    EXPECT_EQ(f.Drive1->Drive(), "c:");
    f.Dir1->SetPath("E:\\archive");
    f.Drive1->SetDrive("E:");
    EXPECT_EQ(f.Dir1->Path(), "E:\\Backups");  // the drive's current folder, not its root
    EXPECT_EQ(f.log, (std::vector<std::string>{"Drive1:c:", "Dir1:C:\\", "Dir1:E:\\archive", "Drive1:e:",
                                               "Dir1:E:\\Backups"}));
    fs::current_path(old);
}

TEST_F(DriveDirTest, DoubleClickOrEnterOpensAFolder) {
    Lists f;
    f.Dir1->SetPath("E:\\");
    ShowActive(f);
    auto *tree = static_cast<QTreeWidget *>(f.Dir1->widget());
    QTreeWidgetItem *item = ItemNamed(tree, "Backups");
    ASSERT_NE(item, nullptr);
    const QPoint at = tree->visualItemRect(item).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(f.Dir1->Path(), "E:\\");  // highlighted only
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(f.Dir1->Path(), "E:\\Backups");

    tree->setFocus();
    tree->setCurrentItem(ItemNamed(tree, "2024"));
    Key(Qt::Key_Return);
    EXPECT_EQ(f.Dir1->Path(), "E:\\Backups\\2024");
    tree->setCurrentItem(ItemNamed(tree, "e:\\"));
    Key(Qt::Key_Return);
    EXPECT_EQ(f.Dir1->Path(), "E:\\");
}

TEST_F(DriveDirTest, FileDialogReturnsTheChosenFileAsAWindowsPath) {
    qvtest::WriteFile(drives.linux("C:\\data\\backup\\DATA1.mdb"), "x");
    TestForm owner;
    owner.ShowActive();
    CommonDialog cd;
    cd.DialogTitle = "Locate Auto-Copy Database File";
    cd.InitDir = "C:\\data\\\\backup";
    QString title, folder;
    QList<QUrl> sideBar;
    bool details = false, dateVisible = false;
    int dateWidth = 0, wholeDate = 0;
    qvtest::onNextModal<QFileDialog>([&](QFileDialog *fd) {
        title = fd->windowTitle();
        folder = fd->directory().absolutePath();
        sideBar = fd->sidebarUrls();
        details = fd->viewMode() == QFileDialog::Detail;
        auto *view = fd->findChild<QTreeView *>("treeView");
        QHeaderView *header = view->header();
        dateWidth = header->sectionSize(3);  // date modified, seen without scrolling
        dateVisible = header->sectionViewportPosition(3) + dateWidth <= view->viewport()->width();
        wholeDate = view->fontMetrics().horizontalAdvance(QLocale::system().toString(
            QDateTime(QDate(2026, 12, 28), QTime(22, 58)), QLocale::ShortFormat));
        fd->findChild<QLineEdit *>("fileNameEdit")->setText("DATA1.mdb");
        static_cast<QDialog *>(fd)->accept();
    });
    cd.ShowOpen();
    EXPECT_EQ(title, "Locate Auto-Copy Database File");
    EXPECT_EQ(fs::path(folder.toStdString()), drives.linux("C:\\data\\backup"));
    // Detail view, the whole date and time of a copy, and a side bar of the folder and the drives.
    EXPECT_TRUE(details);
    EXPECT_GE(dateWidth, wholeDate);
    EXPECT_TRUE(dateVisible);
    auto url = [](const fs::path &p) { return QUrl::fromLocalFile(QString::fromStdString(p.string())); };
    EXPECT_EQ(sideBar, (QList<QUrl>{url(drives.linux("C:\\data\\backup")), url(drives.folder('C')), url(drives.folder('E'))}));
    EXPECT_EQ(cd.FileName, "C:\\data\\backup\\DATA1.mdb");
    EXPECT_EQ(cd.FileTitle, "DATA1.mdb");

    qvtest::onNextModal<QFileDialog>([](QFileDialog *fd) { fd->reject(); });
    cd.ShowOpen();  // cancelled: the last choice stays
    EXPECT_EQ(cd.FileTitle, "DATA1.mdb");
}

TEST_F(DriveDirTest, FileDialogChooserAnswersInsteadOfTheDialog) {
    std::string seenTitle, seenDir;
    SetFileDialogChooserForTests([&](const std::string &t, const std::string &d) {
        seenTitle = t;
        seenDir = d;
        return std::string("E:\\archive\\GLOBAL.ZIP");
    });
    CommonDialog cd;
    cd.DialogTitle = "T";
    cd.InitDir = "E:\\archive";
    cd.ShowOpen();
    SetFileDialogChooserForTests({});
    EXPECT_EQ(seenTitle, "T");
    EXPECT_EQ(seenDir, "E:\\archive");
    EXPECT_EQ(cd.FileName, "E:\\archive\\GLOBAL.ZIP");
    EXPECT_EQ(cd.FileTitle, "GLOBAL.ZIP");
}

}  // namespace
