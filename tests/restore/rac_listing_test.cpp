// The restore window: loading, and the listing of an automatic copy.
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "platform/files.h"
#include "platform/ui/forms.h"
#include "rac_fixture.h"

namespace fs = std::filesystem;
using ractest::RacEnv;

namespace {

// Sets a file's last-modified time, in local wall-clock time.
void SetWritten(const fs::path &p, int year, int month, int day, int h, int m, int s) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    t.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&t), 0}, {std::mktime(&t), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

TEST_F(RacEnv, WindowOpensWithRestoreDisabledAndTheDialogOnTheAutoCopyFolder) {
    auto &f = Open();
    EXPECT_FALSE(f.cmdRestore->Enabled());
    EXPECT_EQ(f.txt->Text(), "");
    EXPECT_TRUE(platform::ui::ClippedCaptions(f).empty());

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
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].prompt, c.message);
        EXPECT_EQ(boxes[0].style, platform::ui::vbOKOnly);
        EXPECT_EQ(boxes[0].title, platform::ui::kAppTitle);
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
    SetWritten(copy1, 2024, 3, 7, 14, 5, 9);
    auto &f = Open();
    List("C:\\QVData\\backup\\BILLING1.mdb");
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(f.txt->Text(), "BILLING1.mdb created 03/07/2024 14:05:09");
    EXPECT_TRUE(f.cmdRestore->Enabled());

    // Browsed elsewhere: the auto-copy folder's file of that name is what is listed.
    qvtest::MakeTaggedDatabase(drives.linux("C:\\Elsewhere\\BILLING1.mdb"), "elsewhere", 5);
    SetWritten(drives.linux("C:\\Elsewhere\\BILLING1.mdb"), 2025, 1, 2, 3, 4, 5);
    List("C:\\Elsewhere\\BILLING1.mdb");
    EXPECT_EQ(f.txt->Text(), "BILLING1.mdb created 03/07/2024 14:05:09");

    // A refused name after a good listing keeps the text, but Restore goes off.
    List("C:\\QVData\\backup\\GLOBAL1.mdb");
    EXPECT_EQ(f.txt->Text(), "BILLING1.mdb created 03/07/2024 14:05:09");
    EXPECT_FALSE(f.cmdRestore->Enabled());
}

TEST_F(RacEnv, NothingToListIsReportedAndDisablesRestore) {
    auto &f = Open();
    List("C:\\QVData\\backup\\BILLING1.mdb");
    ASSERT_TRUE(f.cmdRestore->Enabled());

    qvtest::MakeTaggedDatabase(drives.linux("C:\\Elsewhere\\ONLYHERE.mdb"), "x", 1);
    for (const char *path : {"C:\\Elsewhere\\ONLYHERE.mdb", "C:\\QVData\\backup\\MISSING.mdb"}) {
        SCOPED_TRACE(path);
        boxes.clear();
        List(path);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].prompt, "No Files were located.");
        EXPECT_EQ(boxes[0].style, platform::ui::vbInformation);
        EXPECT_EQ(boxes[0].title, "NOTHING TO DO");
        EXPECT_FALSE(f.cmdRestore->Enabled());
        EXPECT_EQ(f.txt->Text(), "BILLING1.mdb created " + platform::Format(platform::FileDateTime("C:\\QVData\\backup\\BILLING1.mdb"), "MM/DD/YYYY HH:MM:SS"));
    }
}

TEST_F(RacEnv, CancellingTheFirstDialogLocatesNothing) {
    auto &f = Open();
    List("");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].prompt, "No Files were located.");
    EXPECT_FALSE(f.cmdRestore->Enabled());
}

}  // namespace
