#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "error_number.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "support/temp_drive.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

using qvtest::ErrorNumber;

// Restores the process's current folder when it goes out of scope.
struct KeepCurrentFolder {
    fs::path saved = fs::current_path();
    ~KeepCurrentFolder() { fs::current_path(saved); }
};

TEST(DriveMap, MapsDrivesSeparatorsAndRefusesUnmappedDrives) {
    qvtest::TempDrives drives("CE");
    const fs::path c = drives.folder('C'), e = drives.folder('E');
    EXPECT_EQ(MapPath("C:\\a\\b.mdb"), c / "a" / "b.mdb");
    EXPECT_EQ(MapPath("e:/a\\b"), e / "a" / "b");
    EXPECT_EQ(MapPath("E:\\\\a\\\\b\\"), e / "a" / "b");  // doubled separators are harmless
    EXPECT_EQ(MapPath("E:\\"), e);
    EXPECT_EQ(MapPath("E:\\a\\..\\..\\x"), e / "x");      // ".." stops at the drive's root
    EXPECT_EQ(ErrorNumber([] { MapPath("Q:\\x"); }), 68);
    const auto list = Drives();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].letter, 'C');
    EXPECT_EQ(list[1].folder, e);
}

TEST(DriveMap, IsReadAgainWhenTheVariableChanges) {
    const char *old = std::getenv("QUORVANT_DRIVES");
    const std::string saved = old ? old : "";
    unsetenv("QUORVANT_DRIVES");
    EXPECT_EQ(MapPath("C:\\usr"), fs::path("/usr"));  // unset: C is the root folder
    setenv("QUORVANT_DRIVES", "x=/srv/qv/;C=/tmp;bad;D=relative;C=/opt", 1);
    const auto list = Drives();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].letter, 'C');
    EXPECT_EQ(list[0].folder, fs::path("/opt"));  // a later entry replaces an earlier one
    EXPECT_EQ(list[1].letter, 'X');
    EXPECT_EQ(MapPath("x:\\a"), fs::path("/srv/qv/a"));
    if (old)
        setenv("QUORVANT_DRIVES", saved.c_str(), 1);
    else
        unsetenv("QUORVANT_DRIVES");
}

TEST(DriveMap, ExistingComponentsMatchWithoutRegardToCase) {
    qvtest::TempDrives drives("C");
    const fs::path c = drives.folder('C');
    qvtest::WriteFile(c / "QVNWin32" / "GLOBAL.MDB", "x");
    EXPECT_EQ(MapPath("C:\\qvnwin32\\global.mdb"), c / "QVNWin32" / "GLOBAL.MDB");
    // A new name keeps its spelling below the existing folder's own.
    EXPECT_EQ(MapPath("c:\\QVNWIN32\\Audit\\New.Log"), c / "QVNWin32" / "Audit" / "New.Log");
    // An exact match wins over a case-insensitive one.
    qvtest::WriteFile(c / "QVNWin32" / "global.mdb", "y");
    EXPECT_EQ(MapPath("C:\\QVNWin32\\global.mdb"), c / "QVNWin32" / "global.mdb");
    EXPECT_EQ(MapPath("C:\\QVNWin32\\GLOBAL.MDB"), c / "QVNWin32" / "GLOBAL.MDB");
}

TEST(DriveMap, TrailingBlanksAndDotsOfComponentsAreDropped) {
    qvtest::TempDrives drives("C");
    const fs::path c = drives.folder('C');
    EXPECT_EQ(MapPath("C:\\Data  \\x.mdb"), c / "Data" / "x.mdb");
    EXPECT_EQ(MapPath("C:\\Data. .\\x.mdb..."), c / "Data" / "x.mdb");
    EXPECT_EQ(MapPath("C:\\ Data\\x"), c / " Data" / "x");  // leading blanks are kept
    EXPECT_EQ(MapPath("C:\\a\\.\\...\\b"), c / "a" / "b");
}

TEST(DriveMap, CurrentDriveAndRelativePaths) {
    qvtest::TempDrives drives("CE");
    KeepCurrentFolder keep;
    fs::create_directories(drives.folder('E') / "Sub" / "Deeper");
    ChDir("e:\\sub");
    EXPECT_EQ(CurrentDrive(), 'E');
    EXPECT_EQ(CurDir(), "E:\\Sub");
    EXPECT_EQ(CurDir('E'), "E:\\Sub");
    EXPECT_EQ(CurDir('c'), "C:\\");
    EXPECT_EQ(MapPath("\\x\\y"), drives.folder('E') / "x" / "y");
    EXPECT_EQ(MapPath("deeper\\f"), drives.folder('E') / "Sub" / "Deeper" / "f");
    EXPECT_EQ(MapPath("..\\..\\..\\f"), drives.folder('E') / "f");
    EXPECT_EQ(MapPath("E:f"), drives.folder('E') / "Sub" / "f");  // the drive's current folder
    EXPECT_EQ(MapPath("C:f"), drives.folder('C') / "f");
    EXPECT_EQ(ErrorNumber([] { ChDir("E:\\missing"); }), 76);
    EXPECT_EQ(ErrorNumber([] { CurDir('Q'); }), 68);
    ChDir("C:\\");
    EXPECT_EQ(CurDir(), "C:\\");
}

TEST(ReverseMap, UsesTheDriveWithTheLongestPrefix) {
    qvtest::TempDrives drives("C");
    const fs::path root = drives.root();
    const fs::path deep = root / "C" / "nested";
    setenv("QUORVANT_DRIVES", ("C=" + root.string() + ";D=" + deep.string() + "/").c_str(), 1);
    EXPECT_EQ(WindowsPath(root / "C" / "x" / "f.txt"), "C:\\C\\x\\f.txt");
    EXPECT_EQ(WindowsPath(deep / "a" / "b"), "D:\\a\\b");
    EXPECT_EQ(WindowsPath(deep), "D:\\");
    EXPECT_EQ(WindowsPath(root / "C" / "nestedness"), "C:\\C\\nestedness");  // a prefix of a name is not a folder
    EXPECT_EQ(ErrorNumber([] { WindowsPath("/somewhere/else"); }), 76);
    // Mapping there and back gives the same path.
    EXPECT_EQ(MapPath(WindowsPath(deep / "a")), deep / "a");
}

TEST(ReverseMap, DriveFolderReachedThroughASymbolicLink) {
    qvtest::TempDrives drives("C");
    const fs::path real = drives.root() / "real";
    fs::create_directories(real / "x");
    fs::create_directory_symlink(real, drives.root() / "link");
    setenv("QUORVANT_DRIVES", ("E=" + (drives.root() / "link").string()).c_str(), 1);
    EXPECT_EQ(WindowsPath(real / "x"), "E:\\x");
}

TEST(AppPath, FolderOfTheExecutableAndTheTestOverride) {
    unsetenv("QUORVANT_DRIVES");
    const fs::path exeFolder = fs::read_symlink("/proc/self/exe").parent_path();
    std::string expected = "C:";
    for (const auto &part : exeFolder.relative_path()) expected += "\\" + part.string();
    EXPECT_EQ(AppPath(), expected);
    SetAppPathForTests("C:\\QVNWin32");
    EXPECT_EQ(AppPath(), "C:\\QVNWin32");
    SetAppPathForTests("");
    EXPECT_EQ(AppPath(), expected);
}

}  // namespace
