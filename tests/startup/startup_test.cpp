// Start-up: reading the settings database, dispatch on the keyword, the SQL execute routine.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/ui/forms.h"
#include "startup/shared.h"
#include "startup/startup.h"
#include "support/sql_file.h"
#include "support/temp_drive.h"

namespace {

using qvtest::SqlFile;
using startup::Shared;

class StartupTest : public ::testing::Test {
protected:
    qvtest::TempDrives drives{"C"};
    std::filesystem::path global = drives.linux("C:\\QVNWin32\\global.mdb");

    void SetUp() override {
        std::filesystem::create_directories(global.parent_path());
        platform::SetAppPathForTests("C:\\QVNWin32");
        Shared() = {};
    }
    void TearDown() override {
        platform::SetAppPathForTests("");
        Shared() = {};
    }
    // global.mdb with the given `current` rows (SQL value lists) and the product's password.
    void MakeGlobal(const std::vector<std::string> &rows, const std::string &password = "tovan58") {
        SqlFile g(global);
        g.exec("create table current (databasepath TEXT, DatabaseFileName TEXT)");
        for (auto &r : rows) g.exec("insert into current values (" + r + ")");
        g.setPassword(password);
    }
    int ReadSettingsError() {
        try {
            startup::ReadSettings();
        } catch (const platform::Error &e) {
            return e.number;
        }
        return 0;
    }
};

TEST_F(StartupTest, SettingsAreTrimmedAndJoinedFromTheFirstRecord) {
    MakeGlobal({"'  C:\\Data  ', ' live.mdb'", "'D:\\Other', 'other.mdb'"});
    startup::ReadSettings();
    EXPECT_EQ(Shared().DataFolder, "C:\\Data");
    EXPECT_EQ(Shared().DataFileName, "live.mdb");
    EXPECT_EQ(Shared().DataFilePath, "C:\\Data\\live.mdb");
    // Nothing stays open for the tool.
    EXPECT_FALSE(Shared().db);
    EXPECT_FALSE(Shared().rs);
    EXPECT_EQ(platform::dao::DBEngine().Workspaces(0).DatabasesCount(), 0);
}

TEST_F(StartupTest, AFolderEndingInABackslashGivesADoubledBackslash) {
    MakeGlobal({"'C:\\Data\\', 'live.mdb'"});
    startup::ReadSettings();
    EXPECT_EQ(Shared().DataFilePath, "C:\\Data\\\\live.mdb");
}

TEST_F(StartupTest, AnEmptyCurrentTableLeavesThePathsEmpty) {
    MakeGlobal({});
    startup::ReadSettings();
    EXPECT_EQ(Shared().DataFolder, "");
    EXPECT_EQ(Shared().DataFileName, "");
    EXPECT_EQ(Shared().DataFilePath, "");
}

TEST_F(StartupTest, SettingsFailuresRaiseTheirErrors) {
    EXPECT_EQ(ReadSettingsError(), 3024) << "missing global.mdb";
    MakeGlobal({"'C:\\Data', 'live.mdb'"}, "something else");
    EXPECT_EQ(ReadSettingsError(), 3031) << "wrong password";
    std::filesystem::remove(global);
    MakeGlobal({"NULL, 'live.mdb'"});
    EXPECT_EQ(ReadSettingsError(), 94) << "Null databasepath";
}

TEST_F(StartupTest, GlobalHeldOpenByAnotherProgramIsRefused) {
    MakeGlobal({"'C:\\Data', 'live.mdb'"});
    auto other = platform::dao::DBEngine().OpenDatabase("C:\\QVNWin32\\global.mdb", false, true, ";pwd=tovan58");
    EXPECT_EQ(ReadSettingsError(), 3045);
    other.Close();
    EXPECT_EQ(ReadSettingsError(), 0);
}

// A window that records that it was shown and closes itself as soon as it is on screen.
class SelfClosingForm : public platform::ui::Form {
public:
    explicit SelfClosingForm(std::vector<std::string> &shown, std::string name)
        : Form(name, name, 3000, 1500), shown_(shown) {}

protected:
    void Form_Load() override {
        shown_.push_back(Name());
        QTimer::singleShot(0, [this] { Unload(); });
    }

private:
    std::vector<std::string> &shown_;
};

TEST_F(StartupTest, TheKeywordIsUpperCasedAndComparedWhole) {
    std::vector<std::string> shown;
    std::vector<startup::ToolWindow> tools;
    for (std::string k : {"QBU", "RAC", "FRD"})
        tools.push_back({k, [&shown, k] { return std::make_unique<SelfClosingForm>(shown, "frm" + k); }});

    struct Case {
        std::string argument;
        int expected;
    };
    for (const Case &c : std::vector<Case>{{"QBU", 0}, {"RAC", 1}, {"FRD", 2}, {"rac", 1}, {"Rac", 1},
                                           {"frd", 2}, {"", -1}, {"XYZ", -1}, {"FRD ", -1}, {" FRD", -1},
                                           {"FRD x", -1}, {"QBUX", -1}}) {
        shown.clear();
        EXPECT_EQ(startup::ShowTool(c.argument, tools), c.expected) << "'" << c.argument << "'";
        EXPECT_EQ(shown.size(), c.expected < 0 ? 0u : 1u) << "'" << c.argument << "'";
        EXPECT_EQ(Shared().ToolKeyword, QString::fromStdString(c.argument).toUpper().toStdString());
    }
}

TEST_F(StartupTest, TheSqlExecuteRoutineDropsEveryFailure) {
    auto data = drives.linux("C:\\data.mdb");
    { SqlFile d(data); d.exec("create table t (x INTEGER)"); }
    startup::ExecuteSql("DROP TABLE FRDLK");  // no database handle at all

    Shared().db = platform::dao::DBEngine().OpenDatabase("C:\\data.mdb");
    startup::ExecuteSql("DROP TABLE FRDLK");         // absent table
    startup::ExecuteSql("insert into nowhere values (1)");
    startup::ExecuteSql("this is not sql");
    startup::ExecuteSql("insert into t (x) values (5)");  // and a good statement still runs
    Shared().db.Close();
    Shared().db = {};
    EXPECT_EQ(SqlFile(data).scalar("select x from t"), "5");
}

TEST(SqlQuote, DoublesEverySingleQuote) {
    EXPECT_EQ(startup::SqlQuote("O'HARE-7"), "O''HARE-7");
    EXPECT_EQ(startup::SqlQuote("''"), "''''");
    EXPECT_EQ(startup::SqlQuote("plain"), "plain");
}

}  // namespace
