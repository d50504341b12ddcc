#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include "error_number.h"
#include "platform/config.h"
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
    setenv("QUORVANT_DRIVES", "x=/srv/qv/;C=/tmp;;C=/opt;", 1);
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

// Sets (or, for nullptr, unsets) variables for the life of the object.
struct ScopedEnv {
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    void set(const char *name, const char *value) {
        const char *old = std::getenv(name);
        saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it)
            it->second ? setenv(it->first.c_str(), it->second->c_str(), 1) : unsetenv(it->first.c_str());
    }
};

// The system file, the user's file and the variables: which setting wins, and every refusal names
// the file and line (or the variable).
TEST(Configuration, FilesVariablesAndRefusals) {
    qvtest::TempDrives drives("C");
    const fs::path sys = drives.root() / "sys.conf", user = drives.root() / "user.conf";
    struct Case {
        std::string system, user, drivesVar, folderVar;
        std::string map, folder;  // expected, or else
        std::string error;        // the start of the refusal ("<sys>"/"<user>" for the files)
    };
    const Case cases[] = {
        // No configuration (a site install): C: is "/", the program folder the executable's.
        {"", "", "", "", "C=/", "", ""},
        // A file only: comments, [General], a quoted value, backslashes as written or doubled by QSettings.
        {"; drives\nc=/srv/qv/c/ ; drive C\n[General]\nE = \"/media/a;b\"\nProgramFolder=C:\\new\\QV\n", "", "", "",
         "C=/srv/qv/c;E=/media/a;b", "C:\\new\\QV", ""},
        {"\xEF\xBB\xBF[General]\r\nC=/b\r\n", "", "", "", "C=/b", "", ""},  // saved by a Windows editor
        {"[general]\nC=/c\nProgramFolder=C:\\\\QVNWin32\\\\\n", "", "", "", "C=/c", "C:\\QVNWin32\\", ""},
        // The user's file over the system's, setting by setting.
        {"C=/a\nE=/e\nProgramFolder=C:\\X\n", "C=/b\n", "", "", "C=/b;E=/e", "C:\\X", ""},
        // The variables over the files: the whole drive map, the program folder.
        {"C=/a\nProgramFolder=C:\\X\n", "E=/e\n", "D=/d;e=/x", "D:\\Y", "D=/d;E=/x", "D:\\Y", ""},
        {"C /b\n", "", "", "", "", "", "<sys>, line 1: \"C /b\" is not a setting"},
        {"C=/a\n", "C=/b\n[Drives]\n", "", "", "", "", "<user>, line 2: unknown section [Drives]"},
        {"", "C=/a\n\nProgramFolde=C:\\X\n", "", "", "", "", "<user>, line 3: unknown setting \"ProgramFolde\""},
        {"C=srv/qv\n", "", "", "", "", "", "<sys>, line 1: drive C: must stand for an absolute Linux folder"},
        {"C=/a\n[General]\nc=/b\n", "", "", "", "", "", "<sys>, line 3: c is set a second time (first on line 1)"},
        {"ProgramFolder=QVNWin32\n", "", "", "", "", "", "<sys>, line 1: the program folder must be a Windows folder"},
        {"C=/a\nProgramFolder=E:\\QV\n", "", "", "", "", "", "<sys>, line 2: the program folder E:\\QV lies on drive E:"},
        {"C=/a\n", "", "C=/c;bad", "", "", "", "QUORVANT_DRIVES: \"bad\" is not a drive mapping"},
        {"C=/a\n", "", "", "QVNWin32", "", "", "QUORVANT_PROGRAM_FOLDER: the program folder must be"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.system + " | " + c.user + " | " + c.drivesVar + " | " + c.folderVar);
        fs::remove(sys);
        fs::remove(user);
        if (!c.system.empty()) qvtest::WriteFile(sys, c.system);
        if (!c.user.empty()) qvtest::WriteFile(user, c.user);
        ScopedEnv env;
        env.set("QUORVANT_DRIVES", c.drivesVar.empty() ? nullptr : c.drivesVar.c_str());
        env.set("QUORVANT_PROGRAM_FOLDER", c.folderVar.empty() ? nullptr : c.folderVar.c_str());
        try {
            const Configuration config = ReadConfiguration({sys, user});
            std::string map;
            for (const auto &d : config.drives) map += (map.empty() ? "" : ";") + std::string(1, d.letter) + "=" + d.folder.string();
            EXPECT_EQ(map, c.map);
            EXPECT_EQ(config.programFolder, c.folder);
            EXPECT_EQ(c.error, "");
        } catch (const Error &e) {
            std::string expected = c.error;
            if (expected.starts_with("<sys>")) expected.replace(0, 5, sys.string());
            if (expected.starts_with("<user>")) expected.replace(0, 6, user.string());
            EXPECT_EQ(e.number, 5);
            EXPECT_EQ(e.description.substr(0, expected.size()), expected) << e.description;
            EXPECT_NE(c.error, "");
        }
    }
}

TEST(AppPath, ExecutableFolderConfiguredFolderAndTheTestOverride) {
    qvtest::TempDrives drives("C");
    ScopedEnv env;
    env.set("QUORVANT_DRIVES", nullptr);
    const fs::path exeFolder = fs::read_symlink("/proc/self/exe").parent_path();
    std::string expected = "C:";
    for (const auto &part : exeFolder.relative_path()) expected += "\\" + part.string();
    EXPECT_EQ(AppPath(), expected);
    SetAppPathForTests("C:\\QVNWin32");
    EXPECT_EQ(AppPath(), "C:\\QVNWin32");
    SetAppPathForTests("");
    EXPECT_EQ(AppPath(), expected);

    // The user's file through XDG_CONFIG_HOME: the configured folder, as it is spelt on disk.
    const fs::path c = drives.folder('C'), file = drives.root() / "xdg" / "quorvant" / "qvutil.conf";
    fs::create_directories(c / "QVNWin32");
    qvtest::WriteFile(file, "C=" + c.string() + "\nProgramFolder=c:\\qvnwin32\n");
    env.set("XDG_CONFIG_HOME", (drives.root() / "xdg").c_str());
    EXPECT_EQ(AppPath(), "C:\\QVNWin32");
    EXPECT_EQ(MapPath("C:\\x"), c / "x");
    // Malformed, it maps nothing.
    qvtest::WriteFile(file, "C=" + c.string() + "\nProgramFolder\n");
    env.set("XDG_CONFIG_HOME", file.parent_path().parent_path().c_str());  // the same text: not read again
    env.set("HOME", "/nonexistent");                                          // a changed variable: read again
    EXPECT_EQ(ErrorNumber([] { AppPath(); }), 5);
    EXPECT_EQ(ErrorNumber([] { MapPath("C:\\x"); }), 5);
}

}  // namespace
