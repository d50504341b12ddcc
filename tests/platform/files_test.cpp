#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "error_number.h"
#include "platform/error.h"
#include "platform/filelock.h"
#include "platform/files.h"
#include "support/temp_drive.h"

using namespace platform;
namespace fs = std::filesystem;
using qvtest::ReadFile;
using qvtest::WriteFile;

namespace {

using qvtest::ErrorNumber;
using qvtest::ErrorText;

using Names = std::vector<std::string>;

class Listing : public ::testing::Test {
protected:
    qvtest::TempDrives drives{"C"};
    fs::path dir = drives.folder('C') / "Data";
    void SetUp() override {
        for (const char *name : {"a.txt", "B.TXT", "noext", "DATA1.MDB", "DATA.MDB", "DATA12.MDB", ".hidden",
                                 ".hidden.txt", "x.tar.gz"})
            WriteFile(dir / name, "x");
        fs::create_directories(dir / "sub.txt");
        fs::create_directories(dir / "folder");
        fs::create_symlink(dir / "a.txt", dir / "link.txt");
    }
};

TEST_F(Listing, StarDotStarTakesEveryOrdinaryFileWithOrWithoutADot) {
    EXPECT_EQ(ListFiles("C:\\Data\\*.*"),
              (Names{"a.txt", "B.TXT", "DATA.MDB", "DATA1.MDB", "DATA12.MDB", "link.txt", "noext", "x.tar.gz"}));
    EXPECT_EQ(ListFiles("c:\\data\\*"), ListFiles("C:\\Data\\*.*"));
}

TEST_F(Listing, PatternsMatchWithoutRegardToCase) {
    EXPECT_EQ(ListFiles("C:\\Data\\*.txt"), (Names{"a.txt", "B.TXT", "link.txt"}));
    EXPECT_EQ(ListFiles("C:\\Data\\data?.mdb"), (Names{"DATA.MDB", "DATA1.MDB"}));
    EXPECT_EQ(ListFiles("C:\\Data\\DATA??.MDB"), (Names{"DATA.MDB", "DATA1.MDB", "DATA12.MDB"}));
    EXPECT_EQ(ListFiles("C:\\Data\\*."), (Names{"noext"}));
    EXPECT_EQ(ListFiles("C:\\Data\\*.gz"), (Names{"x.tar.gz"}));
    EXPECT_EQ(ListFiles("C:\\Data\\b.txt"), (Names{"B.TXT"}));
    EXPECT_EQ(ListFiles("C:\\Data\\DATA.*"), (Names{"DATA.MDB"}));
    EXPECT_TRUE(ListFiles("C:\\Data\\*.mdbx").empty());
}

TEST_F(Listing, MissingFolderIsEmptyAndUnmappedDriveRaises) {
    EXPECT_TRUE(ListFiles("C:\\Nowhere\\*.*").empty());
    fs::remove_all(dir);
    fs::create_directories(dir / "only-a-folder");
    WriteFile(dir / ".only-hidden", "x");
    EXPECT_TRUE(ListFiles("C:\\Data\\*.*").empty());
    EXPECT_EQ(ErrorNumber([] { ListFiles("Q:\\*.*"); }), 68);
}

class FileOps : public ::testing::Test {
protected:
    qvtest::TempDrives drives{"C"};
    fs::path c = drives.folder('C');
};

TEST_F(FileOps, FileCopyOverwritesAndKeepsTheTimeStamp) {
    WriteFile(c / "src.mdb", "new");
    WriteFile(c / "dst.mdb", "older and longer content");
    ASSERT_EQ(std::system(("touch -d '2024-07-04 14:05:09' " + (c / "src.mdb").string()).c_str()), 0);  // summer time
    FileCopy("C:\\src.mdb", "C:\\dst.mdb");
    EXPECT_EQ(ReadFile(c / "dst.mdb"), "new");
    EXPECT_EQ(FileDateTime("C:\\DST.MDB"), MakeDateTime(2024, 7, 4, 14, 5, 9));
    FileCopy("C:\\src.mdb", "C:\\copy2.mdb");
    EXPECT_EQ(ReadFile(c / "copy2.mdb"), "new");
}

TEST_F(FileOps, FileCopyErrors) {
    WriteFile(c / "a.mdb", "keep me");
    EXPECT_EQ(ErrorNumber([] { FileCopy("C:\\missing.mdb", "C:\\b.mdb"); }), 53);
    EXPECT_EQ(ErrorNumber([] { FileCopy("C:\\NoFolder\\a.mdb", "C:\\b.mdb"); }), 76);
    EXPECT_EQ(ErrorNumber([] { FileCopy("C:\\a.mdb", "C:\\NoFolder\\b.mdb"); }), 76);
    EXPECT_EQ(ErrorNumber([] { FileCopy("C:\\a.mdb", "Q:\\b.mdb"); }), 68);
    fs::create_directories(c / "dir");
    EXPECT_EQ(ErrorNumber([] { FileCopy("C:\\a.mdb", "C:\\dir"); }), 75);
    EXPECT_EQ(ErrorNumber([] { FileCopy("C:\\dir", "C:\\b.mdb"); }), 75);
    // Onto itself, also through another spelling: refused, and the file is not emptied.
    EXPECT_EQ(ErrorNumber([] { FileCopy("C:\\a.mdb", "c:\\A.MDB"); }), 75);
    EXPECT_EQ(ReadFile(c / "a.mdb"), "keep me");
    EXPECT_FALSE(fs::exists(c / "b.mdb"));
}

TEST_F(FileOps, ExistenceAndTimeStamps) {
    WriteFile(c / "f.txt", "x");
    fs::create_directories(c / "Folder");
    EXPECT_TRUE(FileExists("C:\\F.TXT"));
    EXPECT_FALSE(FileExists("C:\\Folder"));
    EXPECT_TRUE(FolderExists("c:\\folder"));
    EXPECT_FALSE(FolderExists("C:\\f.txt"));
    EXPECT_FALSE(FileExists("Q:\\f.txt"));
    EXPECT_EQ(ErrorText([] { FileDateTime("C:\\missing.txt"); }), "53 File not found: 'C:\\missing.txt'");
}

TEST_F(FileOps, MkDirAndRename) {
    MkDir("C:\\Audit");
    EXPECT_TRUE(fs::is_directory(c / "Audit"));
    EXPECT_EQ(ErrorNumber([] { MkDir("C:\\Audit"); }), 75);
    EXPECT_EQ(ErrorNumber([] { MkDir("C:\\AUDIT"); }), 75);  // exists in another case
    EXPECT_EQ(ErrorText([] { MkDir("C:\\No\\Such"); }), "76 Path not found: 'C:\\No\\Such'");
    EXPECT_EQ(ErrorText([] { MkDir("Q:\\x"); }),
              "68 Device unavailable: drive Q: is not mapped (the drive map maps it: a line such as Q=/media/backup in qvutil.conf, or QUORVANT_DRIVES)");

    WriteFile(c / "one.txt", "1");
    WriteFile(c / "two.txt", "2");
    EXPECT_EQ(ErrorNumber([] { RenameFile("C:\\one.txt", "C:\\two.txt"); }), 58);
    EXPECT_EQ(ErrorNumber([] { RenameFile("C:\\none.txt", "C:\\three.txt"); }), 53);
    RenameFile("C:\\one.txt", "C:\\Audit\\three.txt");
    EXPECT_EQ(ReadFile(c / "Audit" / "three.txt"), "1");
    EXPECT_FALSE(fs::exists(c / "one.txt"));
}

TEST_F(FileOps, AppendLineEndsLinesWithCrLfAndNeedsItsFolder) {
    AppendLine("C:\\log.txt", "first");
    AppendLine("c:\\LOG.TXT", "second line ");
    EXPECT_EQ(ReadFile(c / "log.txt"), "first\r\nsecond line \r\n");
    EXPECT_EQ(ErrorText([] { AppendLine("C:\\AUDIT\\x.LOG", "line"); }), "76 Path not found: 'C:\\AUDIT\\x.LOG'");
    EXPECT_FALSE(fs::exists(c / "AUDIT"));
    fs::create_directories(c / "dir");
    EXPECT_EQ(ErrorNumber([] { AppendLine("C:\\dir", "line"); }), 75);
}

TEST_F(FileOps, TextAppenderOpensAtOnceAndWritesOnClose) {
    EXPECT_EQ(ErrorNumber([] { TextAppender f("C:\\missing\\a.log"); }), 76);
    WriteFile(c / "a.log", "old\r\n");
    {
        TextAppender f("C:\\a.log");
        f.WriteLine("one");
        f.WriteLine("");
        f.WriteLine("two");
        f.Close();
        f.Close();  // a second close is harmless
        EXPECT_EQ(ReadFile(c / "a.log"), "old\r\none\r\n\r\ntwo\r\n");
    }
    {
        TextAppender f("C:\\new.log");
        EXPECT_TRUE(fs::exists(c / "new.log"));  // created before anything is written
        f.WriteLine(std::string(200000, 'x'));   // more than the buffer holds
        f.WriteLine("end");
    }  // the destructor flushes
    EXPECT_EQ(fs::file_size(c / "new.log"), 200000u + 2 + 5);
}

TEST_F(FileOps, LockFileServesEveryLogin) {
    const bool root = ::getuid() == 0;
    // Takes the lock as another login (nobody) in a child process: 0 taken, 1 refused, 2 an error.
    auto takeAsNobody = [] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
            try {
                ::_exit(FileLock::TryTake("C:\\data.mdb.frd") ? 0 : 1);
            } catch (...) {
                ::_exit(2);
            }
        }
        int status = -1;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    fs::permissions(drives.root(), fs::perms(0755));
    const fs::path file = c / "data.mdb.frd";
    const mode_t umaskWas = ::umask(022);
    {
        auto lock = FileLock::TryTake("C:\\data.mdb.frd");
        ::umask(umaskWas);
        ASSERT_TRUE(lock);
        EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms(0666));
        if (root) {
            EXPECT_EQ(takeAsNobody(), 1);  // held: refused, no error
        }
    }
    if (!root) GTEST_SKIP() << "another login needs root";
    // A file left by root: readable is enough for the lock; one not even readable is a refusal, no error.
    for (auto [mode, taken] : {std::pair{0644, 0}, {0444, 0}, {0600, 1}}) {
        WriteFile(file, "");
        fs::permissions(file, fs::perms(mode));
        EXPECT_EQ(takeAsNobody(), taken) << std::oct << mode;
    }
}

TEST(FileErrors, DiskFull) {
    setenv("QUORVANT_DRIVES", "D=/dev", 1);
    EXPECT_EQ(ErrorNumber([] { AppendLine("D:\\full", "x"); }), 61);
    TextAppender full("D:\\full");
    full.WriteLine("x");
    EXPECT_EQ(ErrorNumber([&] { full.Close(); }), 61);
    unsetenv("QUORVANT_DRIVES");
}

TEST(FileErrors, PermissionDenied) {
    // The kernel's own folders refuse new files even to root.
    if (!fs::is_directory("/sys/kernel")) GTEST_SKIP() << "no /sys/kernel";
    setenv("QUORVANT_DRIVES", "S=/sys", 1);
    EXPECT_EQ(ErrorText([] { AppendLine("S:\\kernel\\qv.log", "x"); }), "70 Permission denied: 'S:\\kernel\\qv.log'");
    EXPECT_EQ(ErrorNumber([] { MkDir("S:\\qv"); }), 70);
    EXPECT_EQ(ErrorNumber([] { TextAppender f("s:\\KERNEL\\qv.log"); }), 70);
    unsetenv("QUORVANT_DRIVES");
}

}  // namespace
