// The restore window: loading, the listing of an automatic copy, and the replacement (derived names,
// the safety copy, the refusals and failures).
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <optional>

#include "platform/clock.h"
#include "platform/dao/dao.h"
#include "platform/filelock.h"
#include "platform/files.h"
#include "platform/ui/forms.h"
#include "restore_fixture.h"
#include "support/child.h"

namespace fs = std::filesystem;
using ractest::RacEnv;

namespace {

// ... and a lock file that a killed read-date window left beside the live database goes.
TEST_F(RacEnv, WindowOpensWithRestoreDisabledAndTheDialogOnTheAutoCopyFolder) {
    qvtest::WriteFile(dataDir / "BILLING.mdb.frd", "");
    auto &f = Open();
    EXPECT_FALSE(fs::exists(dataDir / "BILLING.mdb.frd"));
    EXPECT_FALSE(f.cmdRestore->Enabled());
    EXPECT_EQ(f.txt->Text(), "");
    EXPECT_TRUE(qvtest::ClippedCaptions(f).empty());
    EXPECT_EQ(qvtest::UnnamedForAScreenReader(f), std::vector<std::string>{});
    List("");  // the first dialog cancelled locates nothing
    EXPECT_EQ(LastPrompt(), "No Files were located.");
    EXPECT_FALSE(f.cmdRestore->Enabled());

    List("C:\\QVData\\backup\\BILLING1.mdb");
    EXPECT_EQ(dialogTitle, "Locate Auto-Copy Database File");
    EXPECT_EQ(dialogInitDir, "C:\\QVData\\backup");
    EXPECT_EQ(f.cd.Filter, "");

    f.cmdExit->Press();
    EXPECT_FALSE(f.IsLoaded());
    EXPECT_FALSE(platform::ui::Ending());
}

TEST_F(RacEnv, DataFolderIsReadUntrimmed) {
    SetDatabasePath("C:\\QVData ");
    auto &f = Open();
    EXPECT_EQ(f.DataFolder, "C:\\QVData ");
    List("C:\\QVData\\backup\\BILLING1.mdb");
    EXPECT_EQ(dialogInitDir, "C:\\QVData \\backup");
    // The blank is dropped again when the path is mapped, as a Windows path component's would be.
    EXPECT_TRUE(f.cmdRestore->Enabled());
}

TEST_F(RacEnv, LoadingWithoutTheSettingsDatabaseEndsTheUtility) {
    fs::remove(drives.linux("C:\\QVNWin32\\global.mdb"));
    form = std::make_unique<restore::frmRestAutoCopy>();
    form->Show();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0].prompt.rfind("Run-time error '3024':", 0), 0u) << boxes[0].prompt;
    EXPECT_TRUE(platform::ui::Ending());
    EXPECT_EQ(platform::ui::EndStatus(), 1);
}

TEST_F(RacEnv, NamesThatAreNoAutomaticCopiesAreTurnedAway) {
    auto &f = Open();
    const std::string global = "You have selected a GLOBAL file...this is not a valid file!";
    const std::string emptdata = "You have selected an EMPTDATA file...this is not a valid file!";
    const std::string zip = "You have selected a compressed (zip) file...this is not a valid file!";
    struct Case {
        const char *name;
        std::string message;
    } cases[] = {
        {"global.mdb", global},      {"GlobalSettings.mdb", global}, {"GLOBAL.ZIP", global},
        {"emptdata.mdb", emptdata},  {"EMPTDATA.zip", emptdata},     {"archive.Zip", zip},
        {".zip", zip},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        List(std::string("C:\\QVData\\backup\\") + c.name);
        ExpectOneBox(platform::ui::kAppTitle, platform::ui::vbOKOnly);
        EXPECT_EQ(boxes.at(0).prompt, c.message);
        EXPECT_FALSE(f.cmdRestore->Enabled());
        EXPECT_EQ(f.txt->Text(), "");
    }
    // Short names and ".zip" elsewhere than at the end pass the name tests.
    for (const char *name : {"GLOB", "data.zip.mdb", "EMPT.mdb"}) {
        SCOPED_TRACE(name);
        qvtest::MakeTaggedDatabase(dataDir / "backup" / name, "x", 1);
        boxes.clear();
        List(std::string("C:\\QVData\\backup\\") + name);
        EXPECT_TRUE(boxes.empty()) << LastPrompt();
        EXPECT_TRUE(f.cmdRestore->Enabled());
    }
}

TEST_F(RacEnv, ListingShowsTheTimeStampOfTheCopyInTheAutoCopyFolder) {
    QFile written(QString::fromStdString(copy1.string()));  // written at 14:05:09 local time
    ASSERT_TRUE(written.open(QIODevice::ReadWrite) &&
                written.setFileTime(QDateTime(QDate(2024, 3, 7), QTime(14, 5, 9)), QFileDevice::FileModificationTime));
    written.close();
    auto &f = Open();
    List("C:\\QVData\\backup\\BILLING1.mdb");
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(f.txt->Text(), "BILLING1.mdb created 03/07/2024 14:05:09");
    EXPECT_TRUE(f.cmdRestore->Enabled());
    QTest::keyClicks(f.txt->widget(), "BILLING5.mdb");  // the field never names another file than Restore takes
    EXPECT_EQ(f.txt->Text(), "BILLING1.mdb created 03/07/2024 14:05:09");

    // The auto-copy folder however spelt, or through a linked folder, is the auto-copy folder.
    fs::create_directory_symlink(dataDir / "backup", drives.linux("C:\\Linked"));
    for (const char *path : {"C:\\QVDATA\\Backup\\BILLING1.mdb", "C:\\Linked\\BILLING1.mdb"}) {
        List(path);
        EXPECT_TRUE(boxes.empty()) << path;
        EXPECT_TRUE(f.cmdRestore->Enabled()) << path;
    }

    // A refused name, or a file of another folder on a mapped drive or on none (never swapped for the
    // auto-copy folder's file of that name), after a good listing lists nothing.
    qvtest::MakeTaggedDatabase(drives.linux("C:\\Elsewhere\\BILLING1.mdb"), "elsewhere", 5);
    const std::string usb = (drives.root() / "usb").string();
    qvtest::WriteFile(dataDir / "backup" / "BILLING1.ldb", "");
    qvtest::MakeTaggedDatabase(usb + "/BILLING1.mdb", "usb", 5);
    for (const std::string &path : {std::string("C:\\QVData\\backup\\GLOBAL1.mdb"), std::string("C:\\Elsewhere\\BILLING1.mdb"),
                                    std::string("C:\\QVData\\BILLING.mdb"), usb}) {
        List("C:\\QVData\\backup\\BILLING1.mdb");
        if (path == usb) {  // picked in the dialog itself, which names a file on no drive by its Linux path
            platform::ui::SetFileDialogChooserForTests({});
            QTimer::singleShot(0, [&] {
                auto *d = static_cast<QFileDialog *>(QApplication::activeModalWidget());
                const auto *view = d->findChild<QTreeView *>("treeView");  // it offers the copies, no lock file
                EXPECT_TRUE(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) > 0; }));
                EXPECT_EQ(view->model()->rowCount(view->rootIndex()), 1);
                d->findChild<QLineEdit *>("fileNameEdit")->setText(QString::fromStdString(usb + "/BILLING1.mdb")), static_cast<QDialog *>(d)->accept();
            });
        }
        List(path);
        EXPECT_EQ(f.txt->Text(), "");
        EXPECT_FALSE(f.cmdRestore->Enabled());
    }
    ASSERT_EQ(boxes.size(), 4u);
    const std::string only = " is not an automatic copy: only the files in the auto-copy folder C:\\QVData\\backup, the safety "
                             "copies that restores kept in C:\\QVData and the copies of BILLING.mdb that backups made can be "
                             "restored, and this one lies in ";
    EXPECT_EQ(boxes[1].prompt, "C:\\Elsewhere\\BILLING1.mdb" + only + "C:\\Elsewhere.");
    EXPECT_EQ(boxes[2].prompt, "C:\\QVData\\BILLING.mdb is the live database, the one a restore replaces: choose one "
                               "of its automatic copies in the auto-copy folder C:\\QVData\\backup.");
    EXPECT_EQ(boxes[3].prompt, usb + "/BILLING1.mdb" + only + usb + ".");
}

TEST_F(RacEnv, NothingToListIsReportedAndDisablesRestore) {
    auto &f = Open();
    List("C:\\QVData\\backup\\BILLING1.mdb");
    ASSERT_TRUE(f.cmdRestore->Enabled());

    boxes.clear();
    List("C:\\QVData\\backup\\MISSING.mdb");
    ExpectOneBox("NOTHING TO DO", platform::ui::vbInformation);
    EXPECT_EQ(boxes.at(0).prompt, "No Files were located.");
    EXPECT_FALSE(f.cmdRestore->Enabled());
    EXPECT_EQ(f.txt->Text(), "");

    // The auto-copy folder itself gone: nothing located there, not a file of another folder.
    fs::rename(dataDir / "backup", dataDir / "away");
    boxes.clear();
    List("C:\\QVData\\backup\\BILLING1.mdb");
    fs::rename(dataDir / "away", dataDir / "backup");
    EXPECT_EQ(boxes.at(0).prompt, "No Files were located.");
}

using ractest::kStamp;

TEST(LiveBaseName, DerivedFromTheChosenName) {
    struct Case {
        const char *chosen, *base;
    } cases[] = {
        {"BILLING1.mdb", "BILLING"},      {"BILLING.mdb", "BILLIN"},     {"BILLING1.MDB", "BILLING"},
        {"BILLING1.accdb", "BILLING"},    {"BILLING1.mdb.old", "BILLING1."}, {"BILLING12", "BILL"},
        {"A.mdb", ""},                    {"ABC", ""},                   {"BILLING1. mdb ", "BILLING1."},
    };
    for (auto &c : cases) EXPECT_EQ(restore::LiveBaseNameOf(c.chosen), c.base) << c.chosen;
}

TEST(LiveBaseName, OfASafetyCopyIsThePartBeforeItsMark) {
    const std::string kept = std::string("replacedbyautocopy") + kStamp;
    for (const auto &[name, base] : std::vector<std::pair<std::string, std::string>>{
             {"Billing2" + kept + ".MDB", "Billing2"}, {"BILLING" + kept + "-12.mdb", "BILLING"}, {kept + ".mdb", ""},
             {"BILLING" + kept + ".zip", ""}, {"BILLING" + kept + "-.mdb", ""}, {"BILLINGreplacedbyautocopy1204.mdb", ""}})
        EXPECT_EQ(restore::SafetyCopyBaseOf(name), base) << name;
}

class RacRestore : public RacEnv {
protected:
    fs::path safety = dataDir / (std::string("BILLINGreplacedbyautocopy") + kStamp + ".mdb");

    void ListAndRestore(const std::string &windowsPath) {
        Open();
        List(windowsPath);
        ASSERT_TRUE(form->cmdRestore->Enabled()) << LastPrompt();
        PressRestore();
    }
    // Presses Restore, no box shown yet; with `room` bytes for a file when given (a disk that fills).
    void PressRestore(std::optional<rlim_t> room = {}) {
        boxes.clear();
        std::optional<qvtest::FileSizeLimit> limit;
        if (room) limit.emplace(*room);
        form->cmdRestore->Press();
    }

    // The data folder's files, without lock files (the engine's stay after an open).
    std::string Files() const {
        std::string out, all = qvtest::Listing(dataDir);
        for (std::size_t at = 0, end; (end = all.find('\n', at)) != std::string::npos; at = end + 1)
            if (all.compare(end - 4, 4, ".ldb") != 0 && all.compare(end - 4, 4, ".frd") != 0)
                out += all.substr(at, end + 1 - at);
        return out;
    }

    // A refusal: one critical box titled RESTORE, the window still open, nothing changed.
    void ExpectRefusedUnchanged(const std::string &beforeListing) {
        ExpectOneBox("RESTORE", platform::ui::vbCritical);
        EXPECT_EQ(qvtest::Digest(live), oldDigest);
        EXPECT_EQ(Files(), beforeListing);
    }
};

// The window stays open after a restore, ready for the safety copy that FINISHED names.
TEST_F(RacRestore, RestoresTheCopyKeepsASafetyCopyAndCanTakeItBack) {
    fs::permissions(live, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    Open();
    List("C:\\QVData\\backup\\BILLING1.mdb");
    bool busyDuringRestore = false;  // the display is kept current under a wait cursor
    QTimer::singleShot(0, [&] {
        busyDuringRestore = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    });
    PressRestore();
    QApplication::processEvents();
    EXPECT_TRUE(busyDuringRestore);
    EXPECT_EQ(fs::status(safety).permissions(), fs::status(live).permissions());
    EXPECT_EQ(Files(), "BILLING.mdb\n" + safety.filename().string() + "\nbackup\n");
    ExpectOneBox("FINISHED", platform::ui::vbInformation);
    const std::string safetyName = "C:\\QVData\\" + safety.filename().string();
    EXPECT_EQ(boxes.at(0).prompt, "C:\\QVData\\BILLING.mdb was replaced with C:\\QVData\\backup\\BILLING1.mdb\n\nIts previous "
                               "content is kept in the safety copy " + safetyName + ". To take this restore back, list that file (in the data "
                               "folder, one folder above the automatic copies) and restore it.");
    EXPECT_FALSE(form->cmdRestore->Enabled());
    EXPECT_EQ(form->LiveBaseName, "BILLING");
    EXPECT_EQ(qvtest::Digest(live), newDigest);
    EXPECT_EQ(qvtest::IntegrityOf(live), "ok");
    EXPECT_EQ(qvtest::Digest(safety), oldDigest);  // listed and restored in the same window: RacE2E
}

// The data copy of a complete backup, and an earlier one that a later backup kept, are listed with their
// folder and restored over the live database, each keeping its safety copy (the second, made in the same
// second, beside the first); that name in any other folder, or another name in such a folder, stays refused.
TEST_F(RacRestore, ABackupsDataCopyAndAnEarlierOneAreRestored) {
    SetDatabasePath("C:\\QVData\\");  // stored with a trailing backslash: no message doubles it
    const std::string copies[] = {"C:\\Backups\\QVNWin32 data\\BILLING.mdb",
                                  "C:\\Backups\\QVWin32 data replaced 2026-12-07 19.40.12\\billing.MDB"};
    const auto safetyCopy = [](int n) { return std::string("BILLINGreplacedbyautocopy") + kStamp + (n ? "-2" : "") + ".mdb"; };
    std::string before[2];
    for (int n = 0; n < 2; ++n) {
        qvtest::MakeTaggedDatabase(drives.linux(copies[n]), "backup" + std::to_string(n), 100 + n);
        before[n] = qvtest::Digest(live);
        ListAndRestore(copies[n]);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].prompt.substr(0, 42 + copies[n].size()),
                  "C:\\QVData\\BILLING.mdb was replaced with " + copies[n] + "\n\n");
        EXPECT_NE(boxes[0].prompt.find(" C:\\QVData\\" + safetyCopy(n) + "."), std::string::npos) << boxes[0].prompt;
        EXPECT_EQ(qvtest::Digest(live), qvtest::Digest(drives.linux(copies[n])));
    }
    for (int n = 0; n < 2; ++n) EXPECT_EQ(qvtest::Digest(dataDir / safetyCopy(n)), before[n]);
    EXPECT_EQ(dialogInitDir, "C:\\QVData\\backup");
    List(copies[0]);
    EXPECT_EQ(form->txt->Text().substr(11), " created " + platform::Format(platform::FileDateTime(copies[0]), "MM/DD/YYYY HH:MM:SS") +
                                                " in C:\\Backups\\QVNWin32 data");
    for (const char *other : {"C:\\Backups\\QVNWin32 data\\BILLING2.mdb", "C:\\Backups\\Old data\\BILLING.mdb"}) {
        qvtest::MakeTaggedDatabase(drives.linux(other), "other", 5);
        List(other);
        EXPECT_FALSE(form->cmdRestore->Enabled()) << other;
    }
}

TEST_F(RacRestore, MissingLiveDatabaseIsNamedAndNothingIsCopied) {
    fs::copy_file(copy1, dataDir / "backup" / "BILLING.mdb");
    const std::string before = Files();
    ListAndRestore("C:\\QVData\\backup\\BILLING.mdb");
    ExpectRefusedUnchanged(before);
    EXPECT_NE(boxes[0].prompt.find("C:\\QVData\\BILLIN.mdb"), std::string::npos) << boxes[0].prompt;
    EXPECT_EQ(form->LiveBaseName, "BILLIN");
}

TEST_F(RacRestore, ADatabaseInUseIsNotReplaced) {
    const std::string before = Files();
    Open();
    List("C:\\QVData\\backup\\BILLING1.mdb");
    struct Case {
        std::function<std::shared_ptr<void>()> hold;
        std::string prompt;
    };
    std::vector<Case> cases = {
        {[] {
             auto *db = new auto(platform::dao::DBEngine().OpenDatabase("C:\\QVData\\BILLING.mdb"));
             return std::shared_ptr<void>(db, [db](void *) { db->Close(), delete db; });
         },
         "C:\\QVData\\BILLING.mdb is in use by another program. Close it and try again."},
        {[] { return std::shared_ptr<void>(platform::FileLock::TryTake(platform::MapPath("C:\\QVData\\BILLING.mdb.frd"))); },
         "C:\\QVData\\BILLING.mdb is in use by a read-date correction or undo window of the login " +
             platform::UserName() + ". Close it and try again."},
    };
    const fs::path lockLink = dataDir / "BILLING.mdb.frd";  // another login's link there is no window: it is named
    if (::geteuid() == 0)
        cases.push_back({[&] { fs::create_symlink(dataDir / "elsewhere", lockLink), (void)!::lchown(lockLink.c_str(), 65534, 65534);
                               return std::shared_ptr<void>(nullptr, [&](void *) { fs::remove(lockLink); }); },
                         "C:\\QVData\\BILLING.mdb cannot be replaced: whether a read-date correction or undo window uses it could not be "
                         "found out.\n\n'C:\\QVData\\BILLING.mdb.frd' is a link made by another user; nothing was written.\n\nNothing was changed."});
    for (const Case &c : cases) {
        const auto held = c.hold();
        PressRestore();
        ExpectRefusedUnchanged(before);
        EXPECT_EQ(boxes.at(0).prompt, c.prompt);
    }
    if (::geteuid() == 0) {  // a login that may not change the live database is told so
        fs::permissions(drives.root(), fs::perms(0755));
        qvtest::Child nobody([&] {
            boxes.clear();
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 98;
            form->cmdRestore->Press();
            return boxes.size() == 1 && boxes[0].prompt.ends_with("This login may not change that database or create "
                                                                  "files in its folder. Nothing was changed.") ? 0 : 1;
        });
        EXPECT_EQ(nobody.Wait(), 0);
    }

    // Released: the same window goes on and restores.
    PressRestore();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "FINISHED");
    EXPECT_EQ(qvtest::Digest(live), newDigest);
}

TEST_F(RacRestore, ACopyTheToolsCannotUseIsRefusedWithTheReason) {
    const fs::path copy2 = dataDir / "backup" / "BILLING2.mdb";
    const auto tagged = [&] { qvtest::MakeTaggedDatabase(copy2, "new", 5); };
    const fs::path lockLink = qvtest::LockFileOf(copy2);
    struct Case {
        std::function<void()> make;
        bool goneAfterListing;
        const char *reason;
    } cases[] = {
        {[&] { qvtest::WriteFile(copy2, ""); }, false, "cannot be restored: it is not a sound database.\n\n"
                                                       "Unrecognized database format (the file is empty).\n\nNothing"},
        {[&] { qvtest::WriteFile(copy2, std::string(20000, 'z')); }, false, "cannot be restored"},
        {[&] { qvtest::SqlFile(copy2).exec("PRAGMA user_version = 7"); }, false, "(the database holds no table)"},
        {[&] { tagged(), qvtest::SqlFile(copy2).setPassword("x"); }, false, "Not a valid password."},
        {[&] { tagged(), qvtest::SqlFile(copy2).exec("PRAGMA journal_mode = WAL"); }, false, "write-ahead log"},
        {tagged, true, " no longer exists, so it cannot be restored."},
        // A copy that could not be checked is not called unsound (a link planted by another login).
        {[&] { tagged(), fs::remove(lockLink), fs::create_symlink(dataDir / "elsewhere", lockLink), (void)!::lchown(lockLink.c_str(), 65534, 65534); },
         false, "BILLING2.mdb could not be checked, so it cannot be restored.\n\n'C:\\QVData\\backup\\BILLING2.ldb' is a link"},
    };
    const std::string before = Files();
    Open();
    bool skipped = false;  // a link of another login needs root to make
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reason);
        if (std::string(c.reason).find("link") != std::string::npos && ::geteuid() != 0) { skipped = true; continue; }
        fs::remove(copy2);
        c.make();
        List("C:\\QVData\\backup\\BILLING2.mdb");
        if (c.goneAfterListing) fs::remove(copy2);
        PressRestore();
        ExpectRefusedUnchanged(before);
        EXPECT_EQ(boxes.at(0).prompt.rfind("C:\\QVData\\backup\\BILLING2.mdb", 0), 0u) << boxes[0].prompt;
        EXPECT_NE(boxes[0].prompt.find(c.reason), std::string::npos) << boxes[0].prompt;
        EXPECT_EQ(boxes[0].prompt.find("BILLING2.mdb", boxes[0].prompt.find("BILLING2.mdb") + 1), std::string::npos)
            << "named twice";
    }
    if (skipped) GTEST_SKIP() << "the cases of another login's link need root";
}

// A safety copy that cannot be written stops a restore that would otherwise succeed (the chosen copy
// differs in one row, so its journal is small): nothing is replaced, nothing says FINISHED. One that is
// made, followed by a replacement that cannot be written, is reported as such; the live file keeps its
// bytes and no safety copy is left.
TEST_F(RacRestore, ASafetyCopyOrReplacementThatCannotBeWrittenKeepsTheLiveDatabase) {
    const std::string before = Files(), liveBytes = qvtest::ReadFile(live);
    const std::string safetyName = "C:\\QVData\\BILLINGreplacedbyautocopy" + std::string(kStamp) + ".mdb";
    const fs::path copy2 = dataDir / "backup" / "BILLING2.mdb";
    fs::copy_file(live, copy2);
    qvtest::SqlFile(copy2).exec("UPDATE t SET tag = 'new' WHERE id = 7");
    Open();
    List("C:\\QVData\\backup\\BILLING2.mdb");
    PressRestore(fs::file_size(live) / 2);
    ExpectRefusedUnchanged(before);
    EXPECT_TRUE(qvtest::ReadFile(live) == liveBytes);
    const std::string refused = boxes[0].prompt;
    for (const std::string &part : {safetyName, std::string("Disk full"), std::string("File too large"), std::string("Nothing was replaced.")})
        EXPECT_NE(refused.find(part), std::string::npos) << refused;

    // Room for the safety copy, not for the journal: the journal is named, not the safety copy.
    List("C:\\QVData\\backup\\BILLING1.mdb");
    PressRestore(fs::file_size(live) + 256);
    ExpectRefusedUnchanged(before);
    EXPECT_EQ(boxes[0].prompt.rfind("The journal that keeps the old content of C:\\QVData\\BILLING.mdb during", 0), 0u) << boxes[0].prompt;
    EXPECT_NE(boxes[0].prompt.find("Disk full: 'C:\\QVData\\BILLING.mdb-journal'"), std::string::npos) << boxes[0].prompt;

    // Room for the safety copy and the journal, not for the live file to grow to the copy's size.
    PressRestore(fs::file_size(live) + 16 * 4096);
    ExpectOneBox("RESTORE", platform::ui::vbCritical);
    const std::string &p = boxes.at(0).prompt;
    EXPECT_EQ(p.rfind("C:\\QVData\\BILLING.mdb could not be replaced with C:\\QVData\\backup\\BILLING1.mdb", 0), 0u) << p;
    EXPECT_NE(p.find("nothing was replaced, and no safety copy was kept"), std::string::npos) << p;
    EXPECT_TRUE(qvtest::ReadFile(live) == liveBytes);
    EXPECT_EQ(Files(), before);
}

}  // namespace
