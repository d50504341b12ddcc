// The backup window on temporary drives C (program folder) and E (backup drive), the process's current
// folder on E, every message box and started command line recorded in one event list: its opening
// state, a drive or folder that cannot be opened, Exit, and Step 2 (destination, the two command lines
// run by the real copier beside this program, the check, read from the disk, the end). The ways a backup
// fails are taken end to end (QbuE2E).
#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "backup/frmQuorDBBkUp.h"
#include "platform/clock.h"
#include "platform/copy_tree.h"
#include "platform/filelock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/ui/app.h"
#include "qvsample/sql_file.h"
#include "qvsample/temp_drive.h"
#include "startup/shared.h"
#include "support/child.h"
#include "support/file_size_limit.h"
#include "support/modal.h"

namespace fs = std::filesystem;
namespace ui = platform::ui;
using Events = std::vector<std::string>;

namespace qvtest {

class BackupWindowTest : public ::testing::Test {
protected:
    TempDrives drives{"CE"};

    void SetUp() override {
        oldCurrent_ = fs::current_path();
        ui::SetMsgBoxResponderForTests([this](const ui::MsgBoxRecord &box) {
            events.push_back("box " + box.title + " (" + std::to_string(box.style) + "): " + box.prompt);
            return ui::vbOK;
        });
        platform::SetShellRecorderForTests([this](const std::string &line, const auto &start) {
            events.push_back("shell: " + line);
            return start();
        });
        Place("C:\\QVNWin32", "E:\\Backups");
    }

    void TearDown() override {
        form.reset();
        startup::Shared().DataFilePath.clear();
        fs::current_path(oldCurrent_);
        ui::SetMsgBoxResponderForTests({});
        platform::SetShellRecorderForTests({});
        platform::SetAppPathForTests({});
        ui::ResetEndingForTests();
    }

    // Sets the program folder (as AppPath reports it) and the process's current folder, both created.
    void Place(const std::string &programFolder, const std::string &currentFolder) {
        fs::create_directories(drives.linux(programFolder));
        WriteFile(drives.linux(programFolder) / "qvutil", "program");
        platform::SetAppPathForTests(programFolder);
        fs::create_directories(drives.linux(currentFolder));
        fs::current_path(drives.linux(currentFolder));
    }

    // Creates the form and shows it.
    void Open() {
        form = std::make_unique<backup::frmQuorDBBkUp>();
        form->Show();
    }

    // Clicks step 2; returns the recorded events: "shell: <command line>" and "box <title> (<style>): <prompt>".
    std::vector<std::string> ClickStep2() {
        events.clear();
        form->cmd2->Press();
        return events;
    }

    std::unique_ptr<backup::frmQuorDBBkUp> form;
    std::vector<std::string> events;

private:
    std::filesystem::path oldCurrent_;
};

namespace {

// The caption, the focus on step 2 and the lists on the current folder are taken end to end (QbuE2E).
// Started in a folder on no drive (a launcher's), the lists open on the backup drive E:; a lock file that
// a killed read-date window left beside the data database goes (one a window holds stays).
TEST_F(BackupWindowTest, OpensWithNoClippedCaptionAndItsListsNamedForAScreenReader) {
    const fs::path killed = drives.linux("C:\\QVNWin32\\billing.mdb.frd"), held = drives.linux("C:\\QVNWin32\\held.mdb.frd");
    WriteFile(killed, "");
    const auto window = platform::FileLock::TryTake(held);
    for (const char *data : {"C:\\QVNWin32\\held.mdb", "C:\\QVNWin32\\billing.mdb"}) {
        startup::Shared().DataFilePath = data;
        fs::current_path(drives.root());
        Open();
    }
    startup::Shared().DataFilePath.clear();
    EXPECT_TRUE(!fs::exists(killed) && fs::exists(held));
    EXPECT_EQ(form->Dir1->Path(), "E:\\");
    EXPECT_TRUE(qvtest::ClippedCaptions(*form).empty());
    EXPECT_EQ(UnnamedForAScreenReader(*form), std::vector<std::string>{});
    EXPECT_EQ(LabelledBy(form->Drive1), "Step 1. Select destination for this backup");
    EXPECT_EQ(AccessibleName(form->Dir1), "destination folder");
}

// A drive or a folder that cannot be opened, picked as the user picks it, is reported and the lists stay
// where they were; a folder whose name is not UTF-8 opens.
TEST_F(BackupWindowTest, WhatCannotBeOpenedIsReportedAndTheListsStay) {
    Place("C:\\QVNWin32", "C:\\QVNWin32");
    const fs::path program = drives.linux("C:\\QVNWin32");
    for (const char *name : {"Aa\xdc" "bad", "Dot.", "Gone"}) fs::create_directories(program / name);
    Open();
    auto *combo = static_cast<QComboBox *>(form->Drive1->widget());
    auto *tree = static_cast<QTreeWidget *>(form->Dir1->widget());
    const auto openRow = [tree](int row) { emit tree->itemDoubleClicked(tree->currentItem()->child(row), 0); };
    const std::string stay = "\n\nThe lists stay on 'C:\\QVNWin32'.";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] {
             fs::remove_all(drives.folder('E'));  // E is still listed, but its folder is gone
             combo->setCurrentIndex(combo->findText("e:"));
             emit combo->activated(combo->currentIndex());
         },
         "Drive E: cannot be opened: Device unavailable. Drive E: is mapped to the Linux folder " +
             drives.folder('E').string() + ", which does not exist." + stay},
        {[&] { fs::remove(program / "Gone"); openRow(2); },
         "The folder C:\\QVNWin32\\Gone cannot be opened: Path not found: 'C:\\QVNWin32\\Gone'." + stay},
        {[&] { openRow(1); },
         "The folder C:\\QVNWin32\\Dot. cannot be opened: Path not found: 'C:\\QVNWin32\\Dot'." + stay},
    };
    for (const auto &[pick, box] : cases) {
        events.clear();
        pick();
        EXPECT_EQ(events, Events{"box Quorvant 32 Utilities (48): " + box});
        EXPECT_FALSE(ui::Ending());
        EXPECT_EQ(combo->currentText(), "c:");
        EXPECT_EQ(form->Dir1->Path(), "C:\\QVNWin32");
    }
    EXPECT_EQ(form->Dir1->ListCount(), 2);  // read again, without the folder removed
    openRow(0);
    EXPECT_EQ(form->Dir1->Path(), "C:\\QVNWin32\\Aa\xdc" "bad");
}

// `target` as the commands hold it; `shown` as the closing message names it (default: the same).
Events Expected(const std::string &source, const std::string &target, std::string shown = {}) {
    if (shown.empty()) shown = target;
    return {"shell: xcopy " + source + " " + target + " /T/Y",
            "box STEP 1 (64): Click OK when the black screen disappears.",
            "shell: xcopy " + source + " " + target + " /s/d/y",
            "box FINISHED (64): All files have been copied to " + shown};
}

// One click on step 2 copies into the current folder and ends. One row a case: the program folder, the current
// folder, the copier's source and target as the commands hold them (a drive root gives two backslashes as
// joined, paths with blanks are quoted, the folder name follows the program folder in exact case) and the
// target as the closing message names it (one backslash). The plain case (C:\QVNWin32 into E:\Backups) is QbuE2E's,
// a quoted target alone the unattended backup's.
TEST_F(BackupWindowTest, StepTwoCopiesTheProgramFolderIntoTheCurrentFolderAndEnds) {
    struct Case {
        std::string program, current, source, target, shown;
    };
    const Case cases[] = {
        {"C:\\QVNWin32", "E:\\", "C:\\QVNWin32\\*.*", "E:\\\\QVNWin32", "E:\\QVNWin32"},
        {"C:\\Program Files\\QVNWin32", "E:\\My Backups", "\"C:\\Program Files\\QVNWin32\\*.*\"",
         "\"E:\\My Backups\\QVNWin32\"", "E:\\My Backups\\QVNWin32"},
        {"C:\\qvnwin32", "E:\\Backups", "C:\\qvnwin32\\*.*", "E:\\Backups\\QVWin32", "E:\\Backups\\QVWin32"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.program + " -> " + c.current);
        fs::remove_all(drives.folder('E'));
        Place(c.program, c.current);
        Open();
        EXPECT_EQ(ClickStep2(), Expected(c.source, c.target, c.shown));
        EXPECT_TRUE(fs::is_directory(drives.linux(c.shown)));
        EXPECT_TRUE(ui::Ending());
        EXPECT_EQ(ui::EndStatus(), 0);
        form.reset();
        ui::ResetEndingForTests();
    }
}

// A tree of 5,000 files in 300 folders, with blanks, apostrophes and letters beyond ASCII in their names:
// each file is at the destination with its content. The next backup into it copies nothing, and a
// byte changed in one copy after that pass is found by the check and named, as is a copy that the pass
// kept because it is newer than the program folder's file (with what to do about it).
TEST_F(BackupWindowTest, LargeTreeIsCheckedFileByFileAndAChangedByteIsNamed) {
    const fs::path program = drives.linux("C:\\QVNWin32"), copy = drives.linux("E:\\Backups\\QVNWin32");
    std::vector<fs::path> files;
    for (int i = 0; i < 5000; ++i) {
        const int folder = i % 300;
        files.push_back(fs::path("Route " + std::to_string(folder / 10) + " O'Neil") /
                        ("Zähler " + std::to_string(folder % 10)) / ("read's " + std::to_string(i) + " é.txt"));
        WriteFile(program / files.back(), "reading " + std::to_string(i));
    }
    Open();
    ASSERT_EQ(ClickStep2().back(), "box FINISHED (64): All files have been copied to E:\\Backups\\QVNWin32");
    for (const fs::path &file : files) ASSERT_EQ(ReadFile(copy / file), ReadFile(program / file)) << file;

    const fs::path changed = files[4321];
    WriteFile(copy / files[0], "edited at the destination");
    fs::last_write_time(copy / files[0], fs::last_write_time(program / files[0]) + std::chrono::hours(1));
    platform::SetShellRecorderForTests([&](const std::string &line, const auto &start) {
        const platform::ShellOutcome outcome = start();
        if (line.ends_with("/s/d/y")) {
            std::string text = ReadFile(copy / changed);
            const auto written = fs::last_write_time(copy / changed);
            text[3] ^= 1;
            WriteFile(copy / changed, text);
            fs::last_write_time(copy / changed, written);  // as a disk that gives back other bytes
        }
        return outcome;
    });
    form.reset();
    ui::ResetEndingForTests();
    Open();
    std::string shown = changed.string();
    std::replace(shown.begin(), shown.end(), '/', '\\');
    EXPECT_EQ(ClickStep2().back(),
              "box BACKUP (16): The backup in E:\\Backups\\QVNWin32 is not complete.\n\n2 files in the copy are "
              "missing or differ from the program folder's:\nRoute 0 O'Neil\\Zähler 0\\read's 0 é.txt (differs, "
              "newer in the copy)\n" + shown +
                  " (differs)\n\n4999 of 5001 files of the program folder were checked good there.\n\nA file in "
                  "the copy is newer than the program folder's, so the backup left it as it was (it replaces only "
                  "older copies). To make a complete backup, remove the folder E:\\Backups\\QVNWin32 or choose "
                  "another folder, and make the backup again.");
    EXPECT_EQ(ui::EndStatus(), 1);
}

// The data database outside the program folder goes in as it stood at one moment while another login
// changes every row again and again (all of one change or none), checked against that moment, not the
// live file that moved on; lock and work files stay out. Each later backup first moves what it replaces
// into a folder of that earlier state, the newest BackupGenerations of them stay, and a disk that fills
// meanwhile gives no FINISHED and removes no earlier state (its reason: the unattended backup's test).
TEST_F(BackupWindowTest, DataGoesInAtOneMomentAndEachEarlierStateIsKept) {
    const fs::path live = drives.linux("C:\\QVData\\BILLING.mdb"), program = drives.linux("C:\\QVNWin32"),
                   e = drives.linux("E:\\Backups"), copy = e / "QVNWin32 data" / "BILLING.mdb";
    fs::create_directories(live.parent_path());
    SqlFile(live).exec("create table t (v integer, pad text); with recursive n(i) as (select 1 union all select i + 1 "
                       "from n where i < 20000) insert into t select 0, randomblob(400) from n");
    SqlFile(program / "global.mdb").exec("create table current (x)");
    const char *work[] = {"global.ldb", "BILLING.mdb.frd", "old.mdb-journal", "old.mdb-wal", "old.mdb-shm", "a.pending"};
    for (const char *name : work) WriteFile(program / name, "work");
    startup::Shared().DataFilePath = "C:\\QVData\\BILLING.mdb";
    int second = 0;
    platform::SetClockForTests([&] { return platform::MakeDateTime(2026, 12, 7, 19, 40, second); });
    const std::string finished = "box FINISHED (64): All files have been copied to E:\\Backups\\QVNWin32\n\nThe data "
                                 "database C:\\QVData\\BILLING.mdb was copied to E:\\Backups\\QVNWin32 data\\BILLING.mdb.";
    const auto backup = [&](int change) {
        if (change >= 0) SqlFile(live).exec("update t set v = " + std::to_string(change));
        ++second;
        form.reset();
        ui::ResetEndingForTests();
        Open();
        return ClickStep2().back();
    };
    const auto writes = [&] {  // another login's corrections, one commit after another
        for (SqlFile db(live);; ::usleep(10000)) try { db.exec("update t set v = v + 1"); } catch (const std::exception &) {}
        return 0;
    };
    const auto oneState = [&] {
        return SqlFile(copy).scalar("select count(distinct v) || (select integrity_check from pragma_integrity_check) from t");
    };
    {
        Child writer(writes);
        EXPECT_EQ(backup(0), finished);
    }
    EXPECT_EQ(oneState(), "1ok");
    for (const char *name : work) EXPECT_FALSE(fs::exists(e / "QVNWin32" / name)) << name;
    WriteFile(program / "qvutil", "program 2");
    EXPECT_EQ(backup(2), finished + "\n\nThe files this backup replaced were kept in E:\\Backups\\QVNWin32 replaced "
                                    "2026-12-07 19.40.02 and E:\\Backups\\QVNWin32 data replaced 2026-12-07 19.40.02.");
    EXPECT_EQ(ReadFile(e / "QVNWin32 replaced 2026-12-07 19.40.02" / "qvutil"), "program");
    const fs::path conf = drives.root() / "qvutil.conf";
    WriteFile(conf, "BackupGenerations=2\n");
    const std::string system = std::getenv("QUORVANT_SYSTEM_CONFIG");
    ::setenv("QUORVANT_SYSTEM_CONFIG", conf.c_str(), 1);
    for (int change : {3, 4}) EXPECT_EQ(backup(change).substr(0, finished.size()), finished);
    const auto states = [&] {
        std::vector<std::string> found;
        for (const auto &entry : fs::directory_iterator(e))
            if (fs::exists(entry.path() / "BILLING.mdb"))
                found.push_back(entry.path().filename().string() + " " +
                                SqlFile(entry.path() / "BILLING.mdb").scalar("select max(v) from t"));
        std::sort(found.begin(), found.end());
        return found;
    };
    EXPECT_EQ(states(), (std::vector<std::string>{"QVNWin32 data 4", "QVNWin32 data replaced 2026-12-07 19.40.03 2",
                                                  "QVNWin32 data replaced 2026-12-07 19.40.04 3"}));
    SqlFile(live).exec("update t set v = 5");
    {
        FileSizeLimit full(1 << 20);
        EXPECT_TRUE(backup(-1).ends_with("the data database were checked good there.\n\nThe files this backup "
                                         "replaced were kept in E:\\Backups\\QVNWin32 data replaced 2026-12-07 19.40.05."));
    }
    ::setenv("QUORVANT_SYSTEM_CONFIG", system.c_str(), 1);
    platform::SetClockForTests({});
    EXPECT_EQ(states(), (std::vector<std::string>{"QVNWin32 data replaced 2026-12-07 19.40.03 2",
                                                  "QVNWin32 data replaced 2026-12-07 19.40.04 3",
                                                  "QVNWin32 data replaced 2026-12-07 19.40.05 4"}));
    // A copy there that was as new as the database until a commit during this backup is kept, and the
    // database copied anew (it used to be checked against the moved-on database and called different).
    EXPECT_EQ(backup(6).substr(0, finished.size()), finished);
    {
        Child writer([&] {  // from the moment the backup opens the database (its .ldb is there while held)
            while (!fs::exists(drives.linux("C:\\QVData\\BILLING.ldb"))) ::usleep(500);
            return writes();
        });
        EXPECT_EQ(backup(-1).substr(0, finished.size()), finished);
    }
    EXPECT_EQ(oneState(), "1ok");
}

// qvutil QBU --unattended: each way it is refused (exit status 2, the reason on standard error) or fails
// (1), then one that is made (status 0, its results on standard output); the window opened after a
// failed run says so under its heading and warns when no backup was checked good for two days. The
// drives N, R and P stand for folders where backup disks are mounted, in a mount namespace of a child's
// own: none is mounted on N (nothing is written in its folder), a read-only one on R (a blank in its name), one that fills on
// P (a good backup first, then a data database too large for it: the earlier copy of the data is kept).
TEST_F(BackupWindowTest, UnattendedBackupSaysWhyItFailedAndTheWindowShowsIt) {
    SqlFile(drives.linux("C:\\QVNWin32\\global.mdb"))
        .exec("create table current (databasepath, DatabaseFileName); insert into current values ('C:\\QVData', "
              "'BILLING.mdb')");
    fs::create_directories(drives.linux("C:\\QVData"));
    SqlFile(drives.linux("C:\\QVData\\BILLING.mdb")).exec("create table t (v); insert into t values (1)");
    WriteFile(drives.linux("E:\\afile"), "a file");
    fs::create_directories(drives.linux("E:\\Held\\QVNWin32"));
    fs::create_directories(drives.linux("E:\\My Backups"));
    const platform::Fd held = platform::TryLockFolder(drives.linux("E:\\Held\\QVNWin32"), false);
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{}, 2, "add the line BackupDestination=E:\\Backups to /etc/quorvant/qvutil.conf"},
        {{"E:\\afile"}, 2, "is a file, not a folder.\nNothing was copied. Name another destination on the command line or in the BackupDestination="},
        {{"F:\\Backups"}, 2, "drive F: is not mapped"},
        {{"Backups"}, 2, "is no Windows folder with its drive letter"},
        {{"E:\\Held"}, 2, "Another backup into E:\\Held\\QVNWin32 is under way."},
        {{"N:\\"}, 2, "N:\\ is not mounted: no disk is mounted on the Linux folder /media/none."},
        {{"R:\\"}, 2, "The disk that holds R:\\QVNWin32 is read-only (write-protected)"},
        {{"P:\\"}, 0, ""},
        {{"P:\\"}, 1, "to P:\\QVNWin32 data: Disk full: 'P:\\QVNWin32 data\\BILLING.mdb' (write: No space left on device)."},
    };
    int second = 0;
    platform::SetClockForTests([&] { return platform::MakeDateTime(2026, 12, 7, 22, 0, second); });
    const fs::path report = drives.root() / "report";
    Child child([&] {  // writes each result that is not as expected to `report`
        const bool mounts = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                            std::system("mount -t tmpfs -o size=1m tmpfs /media && mkdir /media/none '/media/read only' "
                                        "/media/full && mount -t tmpfs -o size=1m,ro tmpfs '/media/read only' && mount -t "
                                        "tmpfs -o size=512k tmpfs /media/full") == 0;
        ::setenv("QUORVANT_DRIVES", (drives.spec() + ";N=/media/none;R=/media/read only;P=/media/full").c_str(), 1);
        std::ofstream out(report);
        for (const auto &[arguments, status, reason] : cases) {
            if (!mounts && !arguments.empty() && arguments[0] > "M") continue;
            testing::internal::CaptureStderr();
            const int got = backup::RunUnattended(arguments);
            const std::string said = testing::internal::GetCapturedStderr();
            if (got != status || said.find(reason) == std::string::npos) out << got << ": " << said << "\n";
            if (status == 0) SqlFile(drives.linux("C:\\QVData\\BILLING.mdb")).exec("insert into t values (randomblob(600000))");
        }
        if (mounts && (!fs::is_empty("/media/none") ||
                       SqlFile("/media/full/QVNWin32 data replaced 2026-12-07 22.00.00/BILLING.mdb")
                               .scalar("select count(*) || max(v) from t") != "11"))
            out << "something was written on N:, or the earlier copy of the data on P: was not kept\n";
        return mounts ? 0 : 77;
    });
    const int ran = child.Wait();
    EXPECT_EQ(ReadFile(report), "");
    testing::internal::CaptureStdout();
    EXPECT_EQ(backup::RunUnattended({"E:\\My", "Backups"}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "All files have been copied to E:\\My Backups\\QVNWin32\nThe data "
              "database C:\\QVData\\BILLING.mdb was copied to E:\\My Backups\\QVNWin32 data\\BILLING.mdb.\n");
    second = 1;
    testing::internal::CaptureStderr();  // as a service's, whose standard error is the journal: the log's line alone
    struct stat journal {};
    ::fstat(STDERR_FILENO, &journal);
    ::setenv("JOURNAL_STREAM", (std::to_string(journal.st_dev) + ":" + std::to_string(journal.st_ino)).c_str(), 1);
    EXPECT_EQ(backup::RunUnattended({"E:\\afile"}), 2);
    ::unsetenv("JOURNAL_STREAM");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    platform::SetClockForTests([] { return platform::MakeDateTime(2026, 12, 10, 9, 0, 0); });
    Open();
    platform::SetClockForTests({});
    const std::string last = "The nightly backup into E:\\afile of 12/07/2026 22:00 failed: 'E:\\afile' is a file, not a folder. "
                             "The last good backup is of 12/07/2026 22:00.";
    ASSERT_NE(form->lblLastBackup, nullptr);
    EXPECT_EQ(form->lblLastBackup->Caption(), last);
    EXPECT_EQ(events, (Events{"shell: xcopy C:\\QVNWin32\\*.* \"E:\\My Backups\\QVNWin32\" /T/Y",  // no STEP 1 box
                              "shell: xcopy C:\\QVNWin32\\*.* \"E:\\My Backups\\QVNWin32\" /s/d/y",
                              "box BACKUP (48): No backup was checked good in the last two days. " + last}));
    EXPECT_TRUE(qvtest::ClippedCaptions(*form).empty());
    backup::RecordLastBackup("C:\\QVNWin32", {platform::Now(), false, true, "Q:\\Backups",
                             "Device unavailable: drive Q: is not mapped (a line such as Q=/media/backup in qvutil.conf, "
                             "or in QUORVANT_DRIVES, maps it); the backup disk of the office was not there at 22:00", {}});
    Open();  // a long reason: the line shows its beginning, whole words, and fits
    EXPECT_TRUE(qvtest::ClippedCaptions(*form).empty());
    if (ran == 77) GTEST_SKIP() << "no mount namespace here: the backup disks N, R and P were not tried";
}

// An audit log that a correction added lines to after it was copied: the copy holds the log as it stood
// then. Any other file that grew since differs.
TEST_F(BackupWindowTest, AnAuditLogThatGrewSinceItWasCopiedIsGood) {
    for (const std::string name : {"AUDIT\\BILLING202612.LOG", "notes.txt", "qvutil"}) {
        WriteFile(drives.linux("E:\\QVNWin32\\" + name), name == "qvutil" ? "program" : "line\r\n");
        if (name != "qvutil") WriteFile(drives.linux("C:\\QVNWin32\\" + name), "line\r\nmore\r\n");
    }
    const platform::TreeCheck check = platform::CheckCopiedTree("C:\\QVNWin32", "*.*", "E:\\QVNWin32");
    EXPECT_EQ(check.good, 2);
    EXPECT_EQ(check.firstBad, std::vector<std::string>{"notes.txt (differs)"});
}

// The check reads each copy back from its disk, not from the page cache: on an ext4 image whose block is
// changed beneath the file system (a stick that returns other bytes than it was given), the copy differs.
// In a child process, with a mount namespace of its own.
TEST_F(BackupWindowTest, CheckReadsTheCopyFromItsDisk) {
    const std::string image = (drives.root() / "stick.img").string(), block(4096, 'q');
    WriteFile(drives.linux("C:\\QVNWin32\\global.mdb"), block);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            std::system(("truncate -s 8M " + image + " && mkfs.ext4 -q " + image + " && mount -o loop " + image + " " +
                         drives.folder('E').string()).c_str()) != 0)
            ::_exit(77);
        if (platform::ShellAndWait("xcopy C:\\QVNWin32\\*.* E:\\QVNWin32 /s/y").status != 0) ::_exit(2);
        (void)ReadFile(drives.linux("E:\\QVNWin32\\global.mdb"));  // in the page cache
        std::fstream disk(image, std::ios::in | std::ios::out | std::ios::binary);
        disk.seekp(static_cast<std::streamoff>(ReadFile(image).find(block)) + 100);
        disk.put('X').flush();
        const platform::TreeCheck check = platform::CheckCopiedTree("C:\\QVNWin32", "*.*", "E:\\QVNWin32");
        ::_exit(check.firstBad == std::vector<std::string>{"global.mdb (differs)"} ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no loop-mounted disk here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace qvtest
