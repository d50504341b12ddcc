// qvxcopy: its command-line splitting and name patterns, and the built executable run on real folders
// mapped as drives.
#include <QProcess>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "qvsample/temp_drive.h"
#include "support/e2e.h"
#include "xcopy/command_line.h"
#include "xcopy/file_writer.h"

namespace fs = std::filesystem;

namespace {

using namespace qvtest;

// Runs QV_BIN_DIR/qvxcopy with `argumentText` as its one argument, in `currentFolder` (when given), with the
// drive map of the calling process; as the login `uid` of the group nogroup when given (the caller is root).
Ran RunCopier(const std::string &argumentText, const fs::path &currentFolder = {}, const std::string &uid = {}) {
    return RunToEnd(QV_BIN_DIR "/qvxcopy", {argumentText}, uid, currentFolder);
}

// The files and folders under `root` (relative paths, folders with a trailing "/"), sorted.
std::string Listing(const fs::path &root) {
    std::vector<std::string> names;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        names.push_back(fs::relative(it->path(), root).string() + (it->is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end());
    std::string text;
    for (const auto &n : names) text += n + "\n";
    return text;
}

// Sets a file's modification time to `secondsAgo` seconds before now.
void SetAge(const fs::path &file, int secondsAgo) {
    fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
}

using Parts = std::vector<std::string>;

// The backup window's own command lines (a drive root, quoted paths with blanks) run through the real
// copier in its tests; these are the forms it does not write.
TEST(CopierCommandLine, SplitsAtBlanksAndBeforeEverySlashOutsideQuotes) {
    EXPECT_EQ(xcopy::SplitArguments("  a   b/T"), (Parts{"a", "b", "/T"}));
    EXPECT_EQ(xcopy::SplitArguments("\"E:\\a/b c\"/s"), (Parts{"E:\\a/b c", "/s"}));
    EXPECT_EQ(xcopy::SplitArguments("C:\\My\" \"Dir x"), (Parts{"C:\\My Dir", "x"}));
}

// What no disk here does: a name that the destination's file system refuses (a FAT stick and ':'), a disk
// that was pulled (a FUSE mount whose server is gone).
TEST(CopierMessages, NameTheCauseInAClerksWords) {
    TempDrives drives{"E"};
    EXPECT_EQ(xcopy::Describe(EINVAL, drives.linux("E:\\Q\\a:b.txt")),
              "Unable to write E:\\Q\\a:b.txt: the destination disk does not allow the character : in names. Rename "
              "the file in the program folder, or choose another disk.");
    EXPECT_EQ(xcopy::Describe(ENOTCONN, drives.linux("E:\\Q\\big.bin")),
              "The destination E:\\Q\\big.bin can no longer be reached; was the disk removed?");
}

// A program folder with nested, empty and hidden parts; drive E is the backup drive.
class CopierTest : public ::testing::Test {
protected:
    qvtest::TempDrives drives{"CE"};
    fs::path src = drives.linux("C:\\QVNWin32");
    fs::path dst = drives.linux("E:\\Backup\\QVNWin32");

    void SetUp() override {
        WriteFile(src / "qvutil", "program");
        fs::permissions(src / "qvutil", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
        WriteFile(src / "global.mdb", "settings");
        WriteFile(src / "read only.txt", "keep me");
        fs::permissions(src / "read only.txt", fs::perms::owner_read | fs::perms::group_read);
        WriteFile(src / ".hidden", "x");
        WriteFile(src / "DATA" / "BILLING.mdb", "data");
        WriteFile(src / "DATA" / "backup" / "BILLING1.mdb", "copy");
        fs::create_directories(src / "AUDIT");
        fs::create_directories(src / "Empty" / "Nested");
        WriteFile(src / "OnlyHidden" / ".secret", "x");
        WriteFile(src / ".git" / "config", "x");
    }

    static constexpr const char *kAllFiles =
        "DATA/\nDATA/BILLING.mdb\nDATA/backup/\nDATA/backup/BILLING1.mdb\nglobal.mdb\nqvutil\nread only.txt\n";
};

// The structure pass creates only folders holding files; after the file pass, a second run copies nothing.
TEST_F(CopierTest, StructurePassMakesOnlyFoldersHoldingFilesAndASecondRunCopiesNothing) {
    auto run = RunCopier("C:\\QVNWin32\\*.* E:\\Backup\\QVNWin32 /T/Y");
    EXPECT_EQ(run.status, 0) << run.out;
    ASSERT_TRUE(fs::is_directory(dst));
    // No files, no empty or nested-empty folders, nothing for folders of hidden files only.
    EXPECT_EQ(Listing(dst), "DATA/\nDATA/backup/\n");
    EXPECT_TRUE(Holds(run.out, "0 File(s) copied"));
    ASSERT_EQ(RunCopier("C:\\QVNWin32\\*.* E:\\Backup\\QVNWin32 /s/d/y").status, 0);
    WriteFile(dst / "DATA" / ".BILLING.mdb.0123456789abcdef.qvtmp", "left by a killed copy");
    SetAge(dst / "DATA" / ".BILLING.mdb.0123456789abcdef.qvtmp", 60);
    auto again = RunCopier("C:\\QVNWin32\\*.* E:\\Backup\\QVNWin32 /s/d/y");
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, "0 File(s) copied\n");  // and no temporary file left, of this copy or a killed one
    EXPECT_EQ(Listing(dst), kAllFiles);
}

TEST_F(CopierTest, SubfolderPassCopiesVisibleFilesWithTimesAndPermissions) {
    SetAge(src / "global.mdb", 86400);
    fs::create_directories(dst.parent_path());
    fs::permissions(dst.parent_path(), fs::perms(01777));  // every login's folder
    auto run = RunCopier("C:\\QVNWin32\\*.* E:\\Backup\\QVNWin32 /s/d/y");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(Listing(dst), kAllFiles);
    EXPECT_EQ(ReadFile(dst / "DATA" / "backup" / "BILLING1.mdb"), "copy");
    EXPECT_EQ(ReadFile(dst / "read only.txt"), "keep me");
    EXPECT_EQ(fs::last_write_time(dst / "global.mdb"), fs::last_write_time(src / "global.mdb"));
    // The program stays executable; a read-only source gives a copy its owner can replace.
    EXPECT_NE(fs::status(dst / "qvutil").permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_NE(fs::status(dst / "read only.txt").permissions() & fs::perms::owner_write, fs::perms::none);
    // No copy is every login's to write, nor gains more than its owner's and its group's write.
    EXPECT_EQ(fs::status(dst).permissions(), fs::perms(0775));
    for (const auto &e : fs::recursive_directory_iterator(dst))
        EXPECT_EQ(e.status().permissions() & ~(fs::status(src / e.path().lexically_relative(dst)).permissions() | fs::perms(0220)),
                  fs::perms::none) << e.path();
    // Each copied file is listed under its source path, then the count.
    EXPECT_TRUE(Holds(run.out, "C:\\QVNWin32\\DATA\\backup\\BILLING1.mdb\n"));
    EXPECT_TRUE(Holds(run.out, "C:\\QVNWin32\\read only.txt\n"));
    EXPECT_TRUE(Holds(run.out, "5 File(s) copied"));
}

TEST_F(CopierTest, DateSwitchCopiesOnlyMissingOrStrictlyOlderFiles) {
    WriteFile(dst / "global.mdb", "older backup");
    SetAge(dst / "global.mdb", 3600);
    WriteFile(dst / "qvutil", "same age");
    fs::last_write_time(dst / "qvutil", fs::last_write_time(src / "qvutil"));
    SetAge(src / "DATA" / "BILLING.mdb", 7200);
    WriteFile(dst / "DATA" / "BILLING.mdb", "newer backup");
    WriteFile(dst / "extra.txt", "only at the destination");

    auto run = RunCopier("C:\\QVNWin32\\*.* E:\\Backup\\QVNWin32 /sdy");  // one token, three switches
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(ReadFile(dst / "global.mdb"), "settings");
    EXPECT_EQ(ReadFile(dst / "qvutil"), "same age");
    EXPECT_EQ(ReadFile(dst / "DATA" / "BILLING.mdb"), "newer backup");
    EXPECT_EQ(ReadFile(dst / "extra.txt"), "only at the destination");  // never deletes
    EXPECT_TRUE(Holds(run.out, "3 File(s) copied"));

    // Without /D every file is copied again, over newer ones too.
    auto all = RunCopier("C:\\QVNWin32\\*.* E:\\Backup\\QVNWin32 /Sy");
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(ReadFile(dst / "DATA" / "BILLING.mdb"), "data");
    EXPECT_TRUE(Holds(all.out, "5 File(s) copied"));
}

TEST_F(CopierTest, WithoutSubfolderSwitchOnlyTopFilesMatchingThePattern) {
    WriteFile(src / "README", "no dot");
    auto run = RunCopier("C:\\QVNWin32\\*.MDB E:\\Backup\\QVNWin32");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(Listing(dst), "global.mdb\n");
    ASSERT_EQ(RunCopier("C:\\QVNWin32\\readme.* E:\\Backup\\QVNWin32").status, 0);
    EXPECT_EQ(Listing(dst), "README\nglobal.mdb\n");
}

// Quoted paths with blanks are the backup window's (BackupWindowTest.StepTwo...).
TEST_F(CopierTest, MissingDestinationIsCreatedAsFolderAndCurrentFolderIsDefault) {
    auto run = RunCopier("C:\\QVNWin32\\global.mdb E:\\New");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(ReadFile(drives.linux("E:\\New\\global.mdb")), "settings");
    // A destination written as a folder (trailing backslash) is not made when nothing goes into it.
    ASSERT_EQ(RunCopier("C:\\QVNWin32\\*.xyz E:\\None\\ /s").status, 0);
    EXPECT_FALSE(fs::exists(drives.linux("E:\\None")));

    fs::create_directories(drives.folder('E') / "here");
    ASSERT_EQ(RunCopier("C:\\QVNWin32\\qvutil", drives.folder('E') / "here").status, 0);
    EXPECT_EQ(ReadFile(drives.folder('E') / "here" / "qvutil"), "program");
}

TEST_F(CopierTest, RefusesCyclicCopyAndBadCommandLines) {
    auto cyclic = RunCopier("C:\\QVNWin32\\*.* C:\\QVNWin32\\DATA\\QVNWin32 /s/d/y");
    EXPECT_EQ(cyclic.status, 4);
    EXPECT_TRUE(Holds(cyclic.out, "Cannot perform a cyclic copy"));
    EXPECT_FALSE(fs::exists(src / "DATA" / "QVNWin32"));
    EXPECT_EQ(RunCopier("C:\\QVNWin32\\*.* C:\\QVNWin32 /T").status, 4);

    auto badSwitch = RunCopier("C:\\QVNWin32\\*.* E:\\Backup /s/x");
    EXPECT_EQ(badSwitch.status, 4);
    EXPECT_TRUE(Holds(badSwitch.out, "Invalid switch - /x"));
    EXPECT_EQ(RunCopier("C:\\QVNWin32\\*.* E:\\Backup /D:1-1-2020").status, 4);
    EXPECT_EQ(RunCopier("/s/d/y").status, 4);
    EXPECT_EQ(RunCopier("C:\\QVNWin32\\*.* E:\\Backup E:\\Other /s").status, 4);
    EXPECT_EQ(RunCopier("C:\\Nowhere\\*.* E:\\Backup /s").status, 4);

    auto unmapped = RunCopier("C:\\QVNWin32\\*.* Q:\\Backup /s/d/y");
    EXPECT_EQ(unmapped.status, 4);
    EXPECT_TRUE(Holds(unmapped.out, "Invalid drive"));
    EXPECT_FALSE(fs::exists(drives.folder('E') / "Backup"));
}

TEST_F(CopierTest, WriteFailureStopsWithStatusFiveAndNoPartialFiles) {
    WriteFile(dst / "DATA", "a file where the folder should go");
    auto run = RunCopier("C:\\QVNWin32\\*.* E:\\Backup\\QVNWin32 /s/d/y");
    EXPECT_EQ(run.status, 5) << run.out;
    EXPECT_EQ(ReadFile(dst / "DATA"), "a file where the folder should go");
    // Files copied before the failure are counted; no temporary file is left behind.
    EXPECT_TRUE(Holds(run.out, "File(s) copied"));
    for (const auto &entry : fs::recursive_directory_iterator(dst))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();

    WriteFile(drives.folder('E') / "plain", "file");
    EXPECT_EQ(RunCopier("C:\\QVNWin32\\*.* E:\\plain\\sub /s").status, 5);

    // A read-only file (no write permission for its owner) is not replaced, whoever runs the copy.
    WriteFile(drives.linux("E:\\ro\\global.mdb"), "read-only backup");
    fs::permissions(drives.linux("E:\\ro\\global.mdb"), fs::perms::owner_read);
    auto readOnly = RunCopier("C:\\QVNWin32\\global.mdb E:\\ro /y");
    EXPECT_EQ(readOnly.status, 5);
    EXPECT_EQ(ReadFile(drives.linux("E:\\ro\\global.mdb")), "read-only backup");
    EXPECT_TRUE(Holds(readOnly.out, "Access denied - E:\\ro\\global.mdb"));
}

// The copier on a file system of its own, in a mount namespace of its own where this login may make one:
// a full disk and a read-only one are named as such, and a copy stopped by SIGTERM, SIGINT or SIGHUP (its
// terminal window closed) in the middle of a file leaves no temporary.
TEST_F(CopierTest, DisksThatFailAreNamedAndAStoppedCopyLeavesNoTemporary) {
    WriteFile(src / "big.dat", std::string(256 * 1024, 'x'));
    WriteFile(src / "huge.dat", "");
    fs::resize_file(src / "huge.dat", std::uintmax_t{1} << 30);
    const fs::path full = drives.folder('E') / "Full";
    fs::create_directories(full);
    const struct {
        std::string options, signal;
        int status;
        std::string said;
    } cases[] = {
        {"size=128k", "", 5, "Unable to write E:\\Full\\big.dat: There is not enough space on the disk.\n"},
        {"ro", "", 5, "The disk that holds E:\\Full\\DATA is read-only (write-protected); nothing can be written on "
                      "it.\n"},
        {"size=2g", "TERM", 0, "stopped: 143\n"},
        {"size=2g", "INT", 0, "stopped: 130\n"},
        {"size=2g", "HUP", 0, "stopped: 129\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.options + " " + c.signal);
        // Stopped while huge.dat is copied (its temporary is there), or run to its end.
        const std::string copy =
            c.signal.empty() ? "exec \"$1\" \"$2\""
                             : "\"$1\" \"$2\" & until ls -A \"$0\" | grep -q 'huge.dat.*qvtmp'; do kill -0 $! || break; "
                               "done; kill -" + c.signal + " $!; wait $!; echo \"stopped: $?\"; ls -RA \"$0\"";
        Program p("unshare", {"-m", "sh", "-c", "mount -t tmpfs -o " + c.options + " tmpfs \"$0\" || exit 99; " + copy,
                              full.string(), QV_BIN_DIR "/qvxcopy", "C:\\QVNWin32\\*.* E:\\Full /s/y"}, {});
        const auto status = p.wait(60000);
        if (status != c.status && (status == 99 || p.errorOutput().find("unshare") != std::string::npos))
            GTEST_SKIP() << "no file system of its own here";
        EXPECT_EQ(status, c.status);
        EXPECT_TRUE(Holds(p.output(), c.said));
        EXPECT_EQ(p.output().find("qvtmp"), std::string::npos) << p.output();
    }
}

// Two clerks of one group refresh the office's backup in a folder of that group: the folders and files
// that the first one's copy makes take the access of the folder they are made in.
TEST_F(CopierTest, AClerkOfTheGroupRefreshesTheBackupThatAnotherMade) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to run the copier as two logins";
    const fs::path office = drives.folder('E') / "Office";
    fs::create_directories(office);
    ASSERT_EQ(::chown(office.c_str(), 0, 65534), 0);
    fs::permissions(office, fs::perms(02775));
    fs::permissions(src / "read only.txt", fs::perms(0444));
    for (const std::string clerk : {"65534", "65000"}) {
        WriteFile(src / "DATA" / "BILLING.mdb", "data of " + clerk);
        auto run = RunCopier("C:\\QVNWin32\\*.* E:\\Office\\QVNWin32 /s/d/y", {}, clerk);
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(ReadFile(office / "QVNWin32" / "DATA" / "BILLING.mdb"), "data of " + clerk);
    }
    EXPECT_EQ(fs::status(office / "QVNWin32" / "DATA").permissions(), fs::perms(02775));
    EXPECT_EQ(fs::status(office / "QVNWin32" / "global.mdb").permissions(), fs::perms(0664));
}

// Root copies into a folder that another login can write: a link that login planted in the copy's
// place, at the destination folder or below it, is not followed, and nothing is written through it.
TEST_F(CopierTest, LinksThatAnotherUserPlantedAtTheDestinationAreNotFollowed) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root and a second login";
    const fs::path shared = drives.folder('E') / "Shared", rootOnly = drives.folder('E') / "RootOnly";
    fs::create_directories(rootOnly);
    fs::permissions(rootOnly, fs::perms::owner_all);
    for (const fs::path &link : {shared / "QVNWin32", shared / "QVNWin32" / "DATA"}) {
        fs::create_directories(link.parent_path());
        ASSERT_EQ(::chown(link.parent_path().c_str(), 65534, 65534), 0);
        fs::create_directory_symlink(rootOnly, link);
        ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);  // planted by nobody
        auto run = RunCopier("C:\\QVNWin32\\*.* E:\\Shared\\QVNWin32 /s/y");
        EXPECT_EQ(run.status, 5);
        const std::string refused = "'" + platform::ShownPath(link) + "' is a link made by another user";
        EXPECT_TRUE(Holds(run.out, refused + "; nothing was written.\n"));
        fs::remove(link);
    }
    EXPECT_TRUE(fs::is_empty(rootOnly));
}

TEST_F(CopierTest, AFileTheUserCannotReadIsNamedAsTheSource) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to run the copier as another user";
    ASSERT_EQ(std::system(("chown -R nobody:nogroup " + drives.root().string()).c_str()), 0);
    WriteFile(src / "secret.mdb", "root only");
    fs::permissions(src / "secret.mdb", fs::perms::owner_read | fs::perms::owner_write);
    auto run = RunCopier("C:\\QVNWin32\\*.* E:\\Backup\\QVNWin32 /s/y", {}, "nobody");
    EXPECT_EQ(run.status, 5) << run.out;
    EXPECT_TRUE(Holds(run.out, "Access denied - C:\\QVNWin32\\secret.mdb\n"));
}

// Links that the running user made are followed (a linked folder is copied), never into a loop nor to what
// is no file (a pipe, the kernel's files); as root, a link that another login (nobody) made is named,
// nothing it leads to is read, and the copy says it left it out.
TEST_F(CopierTest, LinksOfTheUserAreFollowedButNotIntoALoopNorAnotherUsersLinks) {
    WriteFile(drives.linux("C:\\Shared\\Reports\\month.rpt"), "report");
    fs::create_directory_symlink(drives.linux("C:\\Shared\\Reports"), src / "Reports");
    fs::create_directory_symlink(src, src / "DATA" / "up");          // back to an ancestor
    fs::create_directory_symlink(drives.linux("E:\\Backup"), src / "Out");  // holds the destination
    WriteFile(drives.linux("E:\\Backup\\note.txt"), "beside the backup");
    ASSERT_EQ(::mkfifo((src / "pipe.txt").c_str(), 0644), 0);  // read, it would wait for a writer
    fs::create_symlink("/proc/self/status", src / "status.txt");
    const bool root = ::getuid() == 0;
    fs::create_symlink(drives.linux("C:\\Shared\\Reports\\month.rpt"), src / "their.txt");
    ASSERT_TRUE(!root || ::lchown((src / "their.txt").c_str(), 65534, 65534) == 0);
    auto run = RunCopier("C:\\QVNWin32\\*.* E:\\Backup\\QVNWin32 /s/y");
    ASSERT_EQ(run.status, root ? 1 : 0) << run.out << run.err;
    EXPECT_EQ(ReadFile(dst / "Reports" / "month.rpt"), "report");
    EXPECT_EQ(ReadFile(dst / "Out" / "note.txt"), "beside the backup");
    for (const char *none : {"DATA/up", "Out/QVNWin32", "pipe.txt", "status.txt", root ? "their.txt" : "up"})
        EXPECT_FALSE(fs::exists(dst / none)) << none;
    const std::string refused = "'C:\\QVNWin32\\their.txt' is a link made by another user";
    EXPECT_EQ(run.err, "Skipped C:\\QVNWin32\\DATA\\up: it leads back to C:\\QVNWin32, which is being copied\n"
                          "Skipped C:\\QVNWin32\\Out\\QVNWin32: it leads into the destination E:\\Backup\\QVNWin32\n" +
                              (root ? "Skipped C:\\QVNWin32\\their.txt: " + refused + "; it was not followed\n" : ""));
    EXPECT_EQ(run.out.find(refused + ": it was not followed, and nothing it leads to was copied. An "
                                        "administrator should remove it.\n") != std::string::npos, root) << run.out;
}

// Started in a terminal window by the utility, a failed copy keeps the window open until Enter.
TEST_F(CopierTest, WithThePauseFlagOnlyAFailedCopyWaitsForEnter) {
    for (const auto &[args, fails] : {std::pair{"C:\\QVNWin32\\*.* E:\\Backup /s/x", true},
                                      std::pair{"C:\\QVNWin32\\qvutil E:\\Backup", false}}) {
        QProcess p;
        p.start(QV_BIN_DIR "/qvxcopy", {platform::kCopierPauseOnFailure, args});
        if (!fails) {
            EXPECT_TRUE(p.waitForFinished(20000)) << "waited after success";
            EXPECT_EQ(p.exitCode(), 0);
            continue;
        }
        QByteArray shown;
        while (!shown.contains("Press Enter") && p.waitForReadyRead(20000)) shown += p.readAllStandardOutput();
        EXPECT_TRUE(shown.contains("Invalid switch - /x")) << shown.toStdString();
        EXPECT_EQ(p.state(), QProcess::Running) << "ended without waiting: " << shown.toStdString();
        p.write("\n");
        EXPECT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), 4);
    }
}

}  // namespace
