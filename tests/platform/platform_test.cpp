// The platform layer on temporary drives: date recognition and formatting, the clock seam, drive
// mapping and the configuration, file listing and files, the lock file, file errors, started processes.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <system_error>
#include <random>
#include <csignal>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/config.h"
#include "platform/digest.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/filelock.h"
#include "platform/files.h"
#include "platform/own_folders.h"
#include "platform/pending_lines.h"
#include "platform/text_appender.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/safe_file.h"
#include "qvsample/temp_drive.h"
#include "support/child.h"
#include "support/error_number.h"

using namespace platform;
namespace fs = std::filesystem;
using qvtest::ErrorNumber;

namespace {

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

// Pins Now() for the life of the object.
struct FixedClock {
    explicit FixedClock(DateTime t) {
        SetClockForTests([t] { return t; });
    }
    ~FixedClock() { SetClockForTests({}); }
};

struct Recognized {
    const char *text;
    int y;
    unsigned m, d;
    int h, mi, s;
};

TEST(DateRecognition, AcceptsTheTypedFormsInMonthDayYearOrder) {
    FixedClock clock(MakeDateTime(2023, 8, 9, 15, 0, 0));
    const Recognized cases[] = {
        {"5/1/17", 2017, 5, 1, 0, 0, 0},
        {"5-1-17", 2017, 5, 1, 0, 0, 0},
        {"05/01/2017", 2017, 5, 1, 0, 0, 0},
        {"12/31/1999", 1999, 12, 31, 0, 0, 0},
        {"May 1, 2017", 2017, 5, 1, 0, 0, 0},
        {"may 1 2017", 2017, 5, 1, 0, 0, 0},
        {"1 May 2017", 2017, 5, 1, 0, 0, 0},
        {"1-May-17", 2017, 5, 1, 0, 0, 0},
        {"September 30, 2020", 2020, 9, 30, 0, 0, 0},
        {"2017-05-01", 2017, 5, 1, 0, 0, 0},
        {"5/1/2017 10:30", 2017, 5, 1, 10, 30, 0},
        {"5/1/2017 10:30:15", 2017, 5, 1, 10, 30, 15},
        {"5/1/2017 10:30 PM", 2017, 5, 1, 22, 30, 0},
        {"5/1/2017 12:05 am", 2017, 5, 1, 0, 5, 0},
        {"5/1/2017 12:05PM", 2017, 5, 1, 12, 5, 0},
        {"  5/1/17  ", 2017, 5, 1, 0, 0, 0},
        {"2/29/2024", 2024, 2, 29, 0, 0, 0},
        {"5/1", 2023, 5, 1, 0, 0, 0},      // month/day alone: the current year
        {"Dec 25", 2023, 12, 25, 0, 0, 0},
        {"5/2017", 2017, 5, 1, 0, 0, 0},    // month/yyyy: the first of the month
        {"5/1/2017 10 PM", 2017, 5, 1, 22, 0, 0},
        {"May 1, 2017 7:05:09 am", 2017, 5, 1, 7, 5, 9},
        {"9/9/9", 2009, 9, 9, 0, 0, 0},     // short years (the 29/30 window: DateEntryTest)
        {"1/2/123", 123, 1, 2, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        auto v = RecognizeDate(c.text);
        ASSERT_TRUE(v.has_value());
        EXPECT_EQ(*v, MakeDateTime(c.y, c.m, c.d, c.h, c.mi, c.s));
        EXPECT_TRUE(IsDate(c.text));
    }
}

TEST(DateRecognition, RefusesWhatIsNoDateTypeMismatchAndDaysThatDoNotExist) {
    const char *refused[] = {
        "",          "   ",        "5117",       "051517",     "05152017",  "10:30",    "10:30 PM",
        "02/30/2021", "13/01/2021", "0/51/17",   "2/29/2023",  "5/0/17",    "5/1/17/3", "5//17",
        "May 2017",  "Mai 1, 2017", "5/1/2017 25:00", "5/1/2017 10:60", "5/1/2017 13:00 PM",
        "5/1/2017 10:30 XM", "5/1/2017T10:30", "abc",   "1/1/10000",  "5.1.17",
        "10 PM",     "5/1/2017 13 PM", "5/1/2017 10", "2/30", "13/5", "5/201",
    };
    for (const char *text : refused) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(IsDate(text));
    }
    // DateValue drops the time and raises a type mismatch; MakeDateTime refuses days that do not exist.
    EXPECT_EQ(DateValue("5/1/2017 10:30 PM"), MakeDateTime(2017, 5, 1));
    EXPECT_FALSE(HasTimeOfDay(DateValue("5/1/2017 10:30 PM")));
    EXPECT_EQ(qvtest::ErrorText([] { DateValue("0/51/17"); }), "13 Type mismatch");
    EXPECT_THROW(MakeDateTime(2021, 2, 29), Error);
    EXPECT_THROW(MakeDateTime(2021, 13, 1), Error);
    EXPECT_THROW(MakeDateTime(2021, 1, 1, 24), Error);
    EXPECT_NO_THROW(MakeDateTime(2020, 2, 29, 23, 59, 59));
}

TEST(DateFormat, ShortDateText) {
    EXPECT_EQ(ShortDateText(MakeDateTime(2021, 12, 25, 22, 5, 9)), "12/25/2021 10:05:09 PM");
    EXPECT_EQ(ShortDateText(MakeDateTime(2021, 12, 25, 0, 30, 0)), "12/25/2021 12:30:00 AM");
    // The short form reads back as the same value.
    const DateTime t = MakeDateTime(1999, 7, 4, 13, 14, 15);
    EXPECT_EQ(RecognizeDate(ShortDateText(t)), t);
}

TEST(DateFormat, StorageTextRoundTrip) {
    EXPECT_EQ(StorageText(MakeDateTime(2021, 5, 1)), "2021-05-01");
    EXPECT_EQ(StorageText(MakeDateTime(2021, 5, 1, 0, 0, 1)), "2021-05-01 00:00:01");
    for (const DateTime t : {MakeDateTime(2021, 5, 1), MakeDateTime(1930, 12, 31, 23, 59, 59)})
        EXPECT_EQ(ParseStorageText(StorageText(t)), t);
    EXPECT_EQ(ParseStorageText("2021-05-01T08:09:10"), MakeDateTime(2021, 5, 1, 8, 9, 10));
    for (const char *bad : {"", "2021-5-1", "2021-02-30", "05/01/2021", "2021-05-01 24:00:00", "2021-05-01 10:00",
                            "2021-05-01x"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseStorageText(bad).has_value());
    }
}


TEST(DriveMap, MapsDrivesSeparatorsBlanksAndCaseAndRefusesUnmappedDrives) {
    qvtest::TempDrives drives("CE");
    const fs::path c = drives.folder('C'), e = drives.folder('E');
    EXPECT_EQ(MapPath("C:\\a\\b.mdb"), c / "a" / "b.mdb");
    EXPECT_EQ(MapPath("e:/a\\b"), e / "a" / "b");
    EXPECT_EQ(MapPath("E:\\\\a\\\\b\\"), e / "a" / "b");  // doubled separators are harmless
    EXPECT_EQ(MapPath("E:\\"), e);
    EXPECT_EQ(MapPath("E:\\a\\..\\..\\x"), e / "x");      // ".." stops at the drive's root
    EXPECT_EQ(ErrorNumber([] { MapPath("Q:\\x"); }), 68);  // the list of drives: the drive list's test

    // Trailing blanks and dots of components are dropped, leading blanks kept.
    EXPECT_EQ(MapPath("C:\\Data  \\x.mdb"), c / "Data" / "x.mdb");
    EXPECT_EQ(MapPath("C:\\Data. .\\x.mdb..."), c / "Data" / "x.mdb");
    EXPECT_EQ(MapPath("C:\\ Data\\x"), c / " Data" / "x");
    EXPECT_EQ(MapPath("C:\\a\\.\\...\\b"), c / "a" / "b");

    // Existing components match without regard to case; a new name keeps its spelling below the existing
    // folder's own; an exact match wins over a case-insensitive one.
    qvtest::WriteFile(c / "QVNWin32" / "GLOBAL.MDB", "x");
    EXPECT_EQ(MapPath("C:\\qvnwin32\\global.mdb"), c / "QVNWin32" / "GLOBAL.MDB");
    EXPECT_EQ(MapPath("c:\\QVNWIN32\\Audit\\New.Log"), c / "QVNWin32" / "Audit" / "New.Log");
    qvtest::WriteFile(c / "QVNWin32" / "global.mdb", "y");
    EXPECT_EQ(MapPath("C:\\QVNWin32\\global.mdb"), c / "QVNWin32" / "global.mdb");
    EXPECT_EQ(MapPath("C:\\QVNWin32\\GLOBAL.MDB"), c / "QVNWin32" / "GLOBAL.MDB");
}

TEST(DriveMap, CurrentDriveAndRelativePaths) {
    qvtest::TempDrives drives("CE");
    const fs::path old = fs::current_path();
    fs::create_directories(drives.folder('E') / "Sub" / "Deeper");
    fs::current_path(drives.folder('E') / "Sub");
    EXPECT_EQ(CurrentDrive(), 'E');
    EXPECT_EQ(CurDir(), "E:\\Sub");  // of a drive named: the drive list's test (PickingADrive...)
    EXPECT_EQ(MapPath("\\x\\y"), drives.folder('E') / "x" / "y");
    EXPECT_EQ(MapPath("deeper\\f"), drives.folder('E') / "Sub" / "Deeper" / "f");
    EXPECT_EQ(MapPath("..\\..\\..\\f"), drives.folder('E') / "f");
    EXPECT_EQ(MapPath("E:f"), drives.folder('E') / "Sub" / "f");  // the drive's current folder
    EXPECT_EQ(MapPath("e:"), drives.folder('E') / "Sub");
    EXPECT_EQ(MapPath("C:f"), drives.folder('C') / "f");
    EXPECT_EQ(ErrorNumber([] { CurDir('Q'); }), 68);
    fs::current_path(drives.folder('C'));
    EXPECT_EQ(CurDir(), "C:\\");
    fs::current_path(old);
}

TEST(ReverseMap, UsesTheDriveWithTheLongestPrefix) {
    qvtest::TempDrives drives("C");
    const fs::path root = drives.root();
    const fs::path deep = root / "C" / "nested";
    // The variable is read again when it changes; an empty entry is skipped, a later one replaces an earlier.
    setenv("QUORVANT_DRIVES", ("C=" + root.string() + ";;d=/nowhere;D=" + deep.string() + "/").c_str(), 1);
    EXPECT_EQ(WindowsPath(root / "C" / "x" / "f.txt"), "C:\\C\\x\\f.txt");
    EXPECT_EQ(WindowsPath(deep / "a" / "b"), "D:\\a\\b");
    EXPECT_EQ(WindowsPath(deep), "D:\\");
    EXPECT_EQ(WindowsPath(root / "C" / "nestedness"), "C:\\C\\nestedness");  // a prefix of a name is not a folder
    EXPECT_EQ(ErrorNumber([] { WindowsPath("/somewhere/else"); }), 76);
}

TEST(ReverseMap, DriveFolderReachedThroughASymbolicLink) {
    qvtest::TempDrives drives("C");
    const fs::path real = drives.root() / "real";
    fs::create_directories(real / "x");
    fs::create_directory_symlink(real, drives.root() / "link");
    setenv("QUORVANT_DRIVES", ("E=" + (drives.root() / "link").string()).c_str(), 1);
    EXPECT_EQ(WindowsPath(real / "x"), "E:\\x");
}

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
        {"C=/a\nProgramFolder=E:\\QV\n", "", "", "", "", "", "<sys>, line 2: the program folder E:\\QV lies on drive E:"},
        {"C=/a\n", "", "C=/c;bad", "", "", "", "QUORVANT_DRIVES: \"bad\" is not a drive mapping"},
        {"C=/a\n", "", "", "QVNWin32", "", "", "QUORVANT_PROGRAM_FOLDER: the program folder must be"},
        // Quoted values: backslashes as written by hand, or doubled by QSettings; refused as written.
        {"C=/c\nProgramFolder=\"C:\\QVNWin32\\\" ; by hand\n", "", "", "", "C=/c", "C:\\QVNWin32\\", ""},
        {"C=\"/srv/qv c/\"\nProgramFolder=\"C:\\\\Q;V\\\\\"\n", "E=\"/e\"\n", "", "", "C=/srv/qv c;E=/e", "C:\\Q;V\\", ""},
        {"C=/c\nProgramFolder=\"QV\\QVNWin32\"\n", "", "", "", "", "", "<sys>, line 2: the program folder must be a "
         "Windows folder with its drive letter, such as C:\\QVNWin32, not \"QV\\QVNWin32\""},
        {"ProgramFolder=\"C:\\QV\n", "", "", "", "", "",
         "<sys>, line 1: the value of ProgramFolder opens a quote that it does not close: \"C:\\QV"},
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

// A configuration file holds a few lines: one larger than 1 MB is refused before it is read, naming the file.
TEST(Configuration, RefusesAFileOverOneMegabyte) {
    qvtest::TempDrives drives("C");
    const fs::path file = drives.root() / "qvutil.conf";
    const std::string last = "\nProgramFolder=C:\\QV\n";  // read to its end: the last line counts
    qvtest::WriteFile(file, std::string((1 << 20) - last.size(), ';') + last);
    EXPECT_EQ(ReadConfiguration({file}).programFolder, "C:\\QV");
    qvtest::WriteFile(file, std::string((1 << 20) + 1 - last.size(), ';') + last);
    EXPECT_EQ(qvtest::ErrorText([&] { ReadConfiguration({file}); }),
              "5 " + file.string() + ": is too large for a configuration file (1048577 bytes; at most 1 MB): is it the right file?");
}

// A drive whose folder is missing is named with that folder (the backup window's drive list shows it too).
TEST(DriveMap, AMissingDriveFolderIsNamedInMessages) {
    qvtest::TempDrives drives("C");
    fs::remove_all(drives.folder('C'));
    const std::string note = " Drive C: is mapped to the Linux folder " + drives.folder('C').string() + ", which does not exist.";
    EXPECT_EQ(qvtest::ErrorText([] { dao::DBEngine().OpenDatabase("C:\\QVNWin32\\global.mdb", true, true); }),
              "3024 Could not find file 'C:\\QVNWin32\\global.mdb'." + note);
    EXPECT_EQ(qvtest::ErrorText([] { FileDateTime("C:\\x.txt"); }), "53 File not found: 'C:\\x.txt'." + note);
}

TEST(AppPath, ExecutableFolderConfiguredFolderAndTheTestOverride) {
    qvtest::TempDrives drives("C");
    ScopedEnv env;
    env.set("QUORVANT_DRIVES", nullptr);
    for (const auto &f : ConfigurationFiles()) EXPECT_TRUE(f.string().starts_with(std::getenv("XDG_CONFIG_HOME"))) << f;  // the run's own
    const fs::path exeFolder = fs::read_symlink("/proc/self/exe").parent_path();
    std::string expected = "C:";
    for (const auto &part : exeFolder.relative_path()) expected += "\\" + part.string();
    EXPECT_EQ(AppPath(), expected);
    // Nothing configured: a missing settings database names the file to edit and what it lacks.
    EXPECT_EQ(qvtest::ErrorText([&] { dao::DBEngine().OpenDatabase(expected + "\\global.mdb", true, true); }),
              "3024 qvutil is not configured: no drive is mapped and no program folder is named in " +
                  ConfigurationFiles().front().string() + ", which does not exist, nor in " +
                  ConfigurationFiles().back().string() + ". An administrator adds to " +
                  ConfigurationFiles().front().string() + " lines such as C=/srv/qv/c (the Linux folder that stands "
                  "for drive C:) and ProgramFolder=C:\\QVNWin32 (the folder of global.mdb).\n\nWithout them the "
                  "program looked in its own folder: Could not find file '" + expected + "\\global.mdb'.");
    SetAppPathForTests("C:\\QVNWin32");
    EXPECT_EQ(AppPath(), "C:\\QVNWin32");
    SetAppPathForTests("");
    EXPECT_EQ(AppPath(), expected);

    // The system file (QUORVANT_SYSTEM_CONFIG) and the user's: the configured folder, as it is spelt on disk.
    const fs::path c = drives.folder('C'), file = drives.root() / "xdg" / "quorvant" / "qvutil.conf";
    fs::create_directories(c / "QVNWin32");
    qvtest::WriteFile(drives.root() / "system.conf", "ProgramFolder=c:\\qvnwin32\n");
    qvtest::WriteFile(file, "C=" + c.string() + "\n");
    env.set("QUORVANT_SYSTEM_CONFIG", (drives.root() / "system.conf").c_str());
    env.set("XDG_CONFIG_HOME", (drives.root() / "xdg").c_str());
    EXPECT_EQ(AppPath(), "C:\\QVNWin32");
    EXPECT_EQ(MapPath("C:\\x"), c / "x");
    // Malformed, it maps nothing.
    qvtest::WriteFile(file, "C=" + c.string() + "\nProgramFolder\n");
    env.set("XDG_CONFIG_HOME", file.parent_path().parent_path().c_str());  // the same text: not read again
    env.set("HOME", "/nonexistent");                                          // a changed variable: read again
    EXPECT_EQ(ErrorNumber([] { AppPath(); }), 5);
    EXPECT_EQ(ErrorNumber([] { MapPath("C:\\x"); }), 5);
    // Drives mapped, none holding the executable's folder, and no program folder named: the line and its file.
    qvtest::WriteFile(drives.root() / "system.conf", "E=" + c.string() + "\n");
    qvtest::WriteFile(file, "");
    env.set("HOME", "/nonexistent/2");  // read again
    EXPECT_EQ(qvtest::ErrorText([] { AppPath(); }),
              "76 qvutil is not fully configured: no program folder is named in " + (drives.root() / "system.conf").string() +
                  ", nor in " + file.string() + ", and the folder of this program, " + exeFolder.string() +
                  ", lies on none of the drives mapped (E:). An administrator adds to " +
                  (drives.root() / "system.conf").string() + " the line ProgramFolder=C:\\QVNWin32 (the folder of "
                  "global.mdb) and, when its drive is not mapped yet, that drive's line, such as C=/srv/qv/c.");
}

// Root with another login's environment (su without "-"): a folder that login may change, or one that
// does not exist yet in a folder every login may write (it may make it while a window is open), is not
// used; of a list, only those entries go.
TEST(OwnFolders, RootUsesNoFolderAnotherLoginMayChangeOrMakeLater) {
    if (::geteuid() != 0) GTEST_SKIP() << "root's rule";
    qvtest::TempDrives drives("C");
    const std::string shared = drives.root() / "shared", theirs = shared + "/theirs", own = drives.root() / "own";
    fs::create_directories(theirs), fs::create_directories(own);
    fs::permissions(shared, fs::perms(01777));
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    const std::tuple<const char *, std::string, std::string> cases[] = {  // the variable, its value, what is left
        {"XDG_CONFIG_HOME", shared + "/missing", ""}, {"XDG_CACHE_HOME", own, own}, {"XDG_DATA_DIRS", theirs, ""},
        {"XDG_CONFIG_DIRS", shared + "/missing:" + own + ":" + theirs, own}, {"QT_PLUGIN_PATH", "plugins:" + own, own}};
    ScopedEnv env;
    for (const auto &[variable, value, left] : cases) env.set(variable, value.c_str());
    KeepRootToItsOwnFolders();
    for (const auto &[variable, value, left] : cases) EXPECT_EQ(std::getenv(variable) ? std::getenv(variable) : "", left) << variable;
}

using qvtest::ReadFile;
using qvtest::WriteFile;
using qvtest::ErrorText;

using Names = std::vector<std::string>;

// DOS patterns without regard to case: "?" may match nothing before the dot, "*." takes names without one.
TEST(Wildcards, PatternsMatchNamesAsDosMatchesThem) {
    const Names names = {"a.txt", "B.TXT", "DATA.MDB", "DATA1.MDB", "DATA12.MDB", "noext", "x.tar.gz", "aXbYbZc",
                         "global.mdb.bak"};
    const std::pair<const char *, Names> cases[] = {
        {"*.*", names},
        {"*", names},
        {"*.txt", {"a.txt", "B.TXT"}},
        {"data?.mdb", {"DATA.MDB", "DATA1.MDB"}},
        {"DATA??.MDB", {"DATA.MDB", "DATA1.MDB", "DATA12.MDB"}},
        {"*.", {"noext", "aXbYbZc"}},
        {"*.gz", {"x.tar.gz"}},
        {"b.txt", {"B.TXT"}},
        {"DATA.*", {"DATA.MDB"}},
        {"*.mdbx", {}},
        {"*.mdb", {"DATA.MDB", "DATA1.MDB", "DATA12.MDB"}},
        {"a*b*c", {"aXbYbZc"}},
    };
    for (const auto &[pattern, expected] : cases) {
        Names matched;
        for (const std::string &name : names)
            if (WildcardMatch(pattern, name)) matched.push_back(name);
        EXPECT_EQ(matched, expected) << pattern;
    }
}

class FileOps : public ::testing::Test {
protected:
    qvtest::TempDrives drives{"C"};
    fs::path c = drives.folder('C');
};

TEST_F(FileOps, ExistenceAndTimeStamps) {
    WriteFile(c / "f.txt", "x");
    fs::create_directories(c / "Folder");
    EXPECT_TRUE(FileExists("C:\\F.TXT"));
    EXPECT_FALSE(FileExists("C:\\Folder"));
    EXPECT_FALSE(FileExists("Q:\\f.txt"));
    EXPECT_EQ(ErrorText([] { FileDateTime("Q:\\x"); }),
              "68 Device unavailable: drive Q: is not mapped (a line such as Q=/media/backup in qvutil.conf, or in "
              "QUORVANT_DRIVES, maps it)");
}

// The kernel copies what it can; a file open for appending and a file of /proc (empty to the kernel's
// copy) go through memory; a source shorter than the range asked for fails, naming it.
TEST_F(FileOps, CopiesGoThroughMemoryWhereTheKernelCannotAndAShortSourceFails) {
    WriteFile(c / "log", "head\n");
    const Fd status(::open("/proc/self/status", O_RDONLY)), log(::open((c / "log").c_str(), O_WRONLY | O_APPEND));
    CopyRange(status.get(), log.get(), kToEnd, kAtPosition, "/proc/self/status", c / "log");
    EXPECT_EQ(ReadFile(c / "log").rfind("head\nName:", 0), 0u);
    const Fd from(::open((c / "log").c_str(), O_RDONLY)), to(::open((c / "copy").c_str(), O_RDWR | O_CREAT, 0600));
    const auto size = fs::file_size(c / "log");
    CopyRange(from.get(), to.get(), size, 0, c / "log", c / "copy");
    EXPECT_EQ(ReadFile(c / "copy"), ReadFile(c / "log"));
    EXPECT_EQ(ErrorText([&] { CopyRange(from.get(), to.get(), size + 1, 0, c / "log", c / "copy", OsContext::Database); }),
              "75 Path/File access error: 'C:\\log' (read: Input/output error)");
}

// Each line's digest takes over the state of the whole blocks it shares with the line before: lines that
// share none, some or all of them, or a later block but not an earlier one, give SHA-256 itself.
TEST(LineDigests, EqualSha256WhateverALineSharesWithTheLineBefore) {
    LineDigests digests;
    std::mt19937 random(36);
    std::string before(400, 'a');
    for (const std::size_t kept : {0, 1, 63, 64, 65, 127, 128, 129, 255, 256, 257, 320, 400})
        for (const std::size_t added : {0, 1, 55, 56, 64, 200}) {
            std::string line = before.substr(0, std::min(kept, before.size()));
            for (std::size_t i = 0; i < added; ++i) line += static_cast<char>('a' + random() % 3);
            ASSERT_EQ(digests.Of(line), Sha256Bytes(line)) << kept << " " << added;
            if (line.size() >= 128) {
                std::string other = line;
                other[3] ^= 1;  // its first block differs, its second is the same
                ASSERT_EQ(digests.Of(other), Sha256Bytes(other)) << kept << " " << added;
                ASSERT_EQ(digests.Of(line), Sha256Bytes(line)) << kept << " " << added;
            }
            before = line.size() >= 300 ? line : line + std::string(300, 'b');
        }
}

// Lines that cannot be spooled (the file system of the log's folder full) fail the batch at once, by
// the next WriteLine, not at its end: the log never gets a batch with lines left out. Where no thread
// can be started to spool them, the caller spools them itself.
TEST_F(FileOps, ABatchWhoseLinesCannotBeSpooledFailsBeforeItsCommitAndOneWithoutThreadsIsWritten) {
    WriteFile(c / "a.log", "earlier\r\n");
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit limit{256 * 1024, RLIM_INFINITY};
        ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int step = 0;
        try {
            SpooledAppender f(MapPath("C:\\a.log"), "note");
            for (int i = 0; i < 10000; ++i) f.WriteLine(std::string(100, 'x') + std::to_string(i));
            step = 1;
            f.Prepare("mark");
            step = 2;
            f.Commit();
            ::_exit(10);
        } catch (const Error &e) {
            ::_exit(e.number == 61 ? step : 20 + step);
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);  // 61 Disk full, raised by a WriteLine
    EXPECT_EQ(ReadFile(c / "a.log"), "earlier\r\n");

    // A login that may start no more processes or threads writes its lines itself.
    if (::geteuid() != 0) GTEST_SKIP() << "a login without threads needs root to be taken";
    fs::permissions(c, fs::perms::all);
    fs::permissions(c / "a.log", fs::perms::all);
    const int lines = 5000;
    EXPECT_EQ(qvtest::AsNobody([&] {
                  const rlimit none{0, 0};
                  ::setrlimit(RLIMIT_NPROC, &none);
                  if (std::thread t; true) {
                      try {
                          t = std::thread([] {});
                          t.join();
                          return 97;  // threads to be had after all: nothing tried here
                      } catch (const std::system_error &) {
                      }
                  }
                  SpooledAppender f(MapPath("C:\\a.log"));
                  for (int i = 0; i < lines; ++i) f.WriteLine(std::string(100, 'y') + std::to_string(i));
                  f.Commit();
                  return 0;
              }),
              0);
    const std::string text = ReadFile(c / "a.log");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), lines + 1);
    EXPECT_TRUE(text.ends_with(std::string(100, 'y') + std::to_string(lines - 1) + "\r\n"));
}

// A batch whose writer was killed partway through a line: the line is completed, or, when another writer
// came after it, written again whole after that writer's lines.
TEST_F(FileOps, PendingLinesCompleteALineCutShort) {
    const std::string earlier = std::string(198, 'e') + "\r\n";
    const std::vector<std::string> batch = {"one", "two", "three"};
    for (const bool another : {false, true}) {
        WriteFile(c / "a.log", earlier);
        const pid_t child = ::fork();
        if (child == 0) {
            SpooledAppender f(MapPath("C:\\a.log"), "note");
            for (const auto &line : batch) f.WriteLine(line);
            f.Prepare("mark");
            const rlimit limit{200 + 7, RLIM_INFINITY};  // "one\r\ntw", then the write kills it
            ::signal(SIGXFSZ, SIG_DFL);
            ::setrlimit(RLIMIT_FSIZE, &limit);
            f.Commit();
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        ASSERT_EQ(ReadFile(c / "a.log"), earlier + "one\r\ntw");
        if (another) {
            SpooledAppender other(MapPath("C:\\a.log"));
            other.WriteLine("other");
            other.Commit();
        }
        int found = 0;
        PendingLines::Each(MapPath("C:\\"), [&](PendingLines &pending) {
            ++found;
            EXPECT_EQ(pending.Note() + " " + pending.Mark(), "note mark");
            std::uint64_t next = 0;
            const auto done = pending.Complete([&](std::uint64_t &place, std::string &line) {
                return next < batch.size() && (line = batch[place = next++], true);
            });
            EXPECT_EQ(done.written * 10 + done.missing, 30u);
        });
        EXPECT_EQ(found, 1);
        EXPECT_EQ(ReadFile(c / "a.log"), earlier + (another ? "one\r\ntw\r\nother\r\ntwo\r\nthree\r\n" : "one\r\ntwo\r\nthree\r\n"));
        PendingLines::Each(MapPath("C:\\"), [&](PendingLines &) { ++found; });
        EXPECT_EQ(found, 1);
    }
}

TEST_F(FileOps, LockFileServesEveryLogin) {
    const bool root = ::getuid() == 0;
    // As another login: the lock taken 0, refused 1, an error 99.
    auto takeAsNobody = [] { return qvtest::AsNobody([] { return FileLock::TryTake(MapPath("C:\\data.mdb.frd")) ? 0 : 1; }); };
    fs::permissions(drives.root(), fs::perms(0755));
    const fs::path file = c / "data.mdb.frd";
    const mode_t umaskWas = ::umask(022);
    {
        auto lock = FileLock::TryTake(MapPath("C:\\data.mdb.frd"));
        ::umask(umaskWas);
        ASSERT_TRUE(lock);
        // The folder's group and access, none for a login outside that group.
        EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms(0640));
        WriteFile(file, "daemon\n");  // what the file says names nobody: the kernel tells who holds it
        EXPECT_EQ(FileLock::HolderOf(MapPath("C:\\data.mdb.frd")), UserName());
        if (root) {
            EXPECT_EQ(takeAsNobody(), 1);  // held: refused, no error
        }
        // Removed behind its holder's back (a "stuck" lock cleared by hand): the first holder's release
        // leaves the second's new file, which keeps a third out.
        fs::remove(file);
        auto second = FileLock::TryTake(MapPath("C:\\data.mdb.frd"));
        ASSERT_TRUE(second);
        lock.reset();
        EXPECT_TRUE(fs::exists(file));
        EXPECT_FALSE(FileLock::TryTake(MapPath("C:\\data.mdb.frd")));
    }
    EXPECT_FALSE(fs::exists(file));
    if (!root) GTEST_SKIP() << "another login needs root";
    {
        // A login outside the office holds a file it may read (an earlier version's), through a descriptor
        // that the process which took the lock handed on before it ended: that process is not named, and
        // the lock is taken all the same, in a new file the outsider may not open.
        WriteFile(file, "");
        fs::permissions(file, fs::perms(0644));
        qvtest::Child outsider([&] {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 98;
            const int fd = ::open(file.c_str(), O_RDONLY);
            qvtest::Child taker([&] { return ::flock(fd, LOCK_EX | LOCK_NB); });  // ends, the lock left held
            if (taker.Wait() != 0) return 97;
            ::pause();
            return 0;
        });
        for (int i = 0; i < 500 && !FileLock::HeldByAnyone(file); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(FileLock::HolderOf(file), "");
        EXPECT_TRUE(FileLock::TryTake(MapPath("C:\\data.mdb.frd")));
        EXPECT_FALSE(outsider.Ended());
    }
    // A file left by root: readable is enough for the lock; one not even readable is a refusal, no error.
    for (auto [mode, taken] : {std::pair{0644, 0}, {0444, 0}, {0600, 1}}) {
        WriteFile(file, "");
        fs::permissions(file, fs::perms(mode));
        EXPECT_EQ(takeAsNobody(), taken) << std::oct << mode;
    }
    // Whether a window holds it cannot be told through a file this login may not open: that is said.
    EXPECT_EQ(qvtest::AsNobody([] { return qvtest::ErrorText([] { FileLock::HeldByAnyone(MapPath("C:\\data.mdb.frd")); }) == "70 Permission denied: 'C:\\data.mdb.frd'" ? 0 : 1; }), 0);
    // No lock file, and a folder that refuses to create one: an error, not a window in the way.
    fs::remove(file);
    EXPECT_EQ(takeAsNobody(), 99);
    // A link another login planted at the name: SafeFile (the open) and SharedMachineE2E (each tool).
}

// One test case for both ways of starting the copier: it puts a stand-in copier beside the test program,
// which no other test case of this program may do at the same time. The argument text reaches the copier
// whole without a desktop too: the backup window's tests run the real one.
TEST(ShellAndWait, XcopyStartsTheCopierBesideTheExecutableWithTheRawArgumentText) {
    qvtest::TempDrives drives("C");
    ScopedEnv env;
    env.set("DISPLAY", nullptr);  // no terminal window at first
    const fs::path copier = fs::read_symlink("/proc/self/exe").parent_path() / "qvxcopy";
    if (fs::exists(copier)) GTEST_SKIP() << "a real copier lies beside the test program";
    EXPECT_EQ(ErrorNumber([] { ShellAndWait("xcopy C:\\a\\*.* C:\\b /T/Y"); }), 53);

    // The stand-in copier and terminal program write down their arguments.
    const fs::path bin = drives.root() / "bin", out = drives.root() / "args";
    const std::string record = "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > " + out.string() + ".tmp; mv " +
                               out.string() + ".tmp " + out.string() + "\n";
    qvtest::WriteFile(copier, record);
    qvtest::WriteFile(bin / "x-terminal-emulator", record);
    fs::permissions(copier, fs::perms::owner_all);
    fs::permissions(bin / "x-terminal-emulator", fs::perms::owner_all);
    struct RemoveCopier {
        fs::path p;
        ~RemoveCopier() { fs::remove(p); }
    } remove{copier};

    // Waited for, it tells its exit status and reason through its status file, which it holds while it
    // works; one that ends without a word is told from one still at work. It inherits no open file of
    // the utility (here descriptor 9, as a database's lock would be).
    const Fd held(::open((drives.root() / "held").c_str(), O_CREAT | O_RDWR, 0644));
    ASSERT_EQ(::dup2(held.get(), 9), 9);
    qvtest::WriteFile(copier, "#!/bin/sh\nexec 3>>\"${1#--status-file=}\"; flock 3; echo started >&3\n"
                              "[ -e /proc/$$/fd/9 ] && r=leaked || r=clean\n"
                              "[ \"$2\" = stop ] || printf 'end 5\\nAccess denied - E:\\\\Q %s' $r >&3\n");
    const ShellOutcome finished = ShellAndWait("xcopy finish"), stopped = ShellAndWait("xcopy stop");
    ::close(9);
    EXPECT_EQ(finished.status, 5);
    EXPECT_EQ(finished.reason, "Access denied - E:\\Q clean");
    EXPECT_EQ(stopped.status, -1);
    EXPECT_EQ(stopped.reason, "The copier ended before its work was done: its window was closed, or it was stopped.");
    qvtest::WriteFile(copier, record);

    // With a desktop it runs inside a terminal window, which stays open after a failure.
    env.set("PATH", (bin.string() + ":" + std::getenv("PATH")).c_str());
    env.set("DISPLAY", ":97");
    qvtest::WriteFile(bin / "x-terminal-emulator",
                      record + "for a; do case $a in --status-file=*) echo 'end 0' >\"${a#*=}\";; esac; done\n");
    EXPECT_EQ(ShellAndWait("xcopy C:\\a\\*.* D:\\b /T/Y").status, 0);
    const std::string args = qvtest::ReadFile(out);
    EXPECT_TRUE(args.starts_with("5|-e|" + copier.string() + "|--pause-on-failure|--status-file=")) << args;
    EXPECT_TRUE(args.ends_with("|C:\\a\\*.* D:\\b /T/Y|")) << args;
}

}  // namespace
