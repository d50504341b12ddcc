// The built qvutil started as a user starts it: dispatch, and the last-resort report of start-up.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/dao/dao.h"
#include "support/e2e.h"
#include "support/installation.h"
#include "support/sql_file.h"
#include "support/temp_drive.h"

namespace {

using namespace qvtest;
namespace fs = std::filesystem;

class StartupE2E : public ::testing::Test {
protected:
    static inline std::unique_ptr<XSession> x;
    static void SetUpTestSuite() { x = std::make_unique<XSession>(); }
    static void TearDownTestSuite() { x.reset(); }

    TempDrives drives{"CE"};
    Installation inst;

    void Install(InstallationOptions o = {}) {
        o.readingsPerBill = 30;
        inst = LayOutInstallation(drives.folder('C'), QV_BIN_DIR, o);
    }
    std::unique_ptr<Program> Run(const std::vector<std::string> &args, const XSession *session) {
        return std::make_unique<Program>(inst.qvutil, args, QvutilEnv(session, drives.spec()), drives.folder('E'));
    }
    // Runs qvutil, expects the last-resort box, answers it, and returns the exit status and error text.
    std::pair<int, std::string> RunToLastResort(const std::string &keyword) {
        auto p = Run({keyword}, x.get());
        std::string box = x->waitForWindow("Quorvant 32 Utilities");
        EXPECT_FALSE(box.empty()) << "no last-resort box";
        if (!box.empty()) x->keys(box, {"Return"});
        auto status = p->wait(15000);
        return {status.value_or(-100), p->errorOutput()};
    }
};

TEST_F(StartupE2E, KeywordsThatNameNoToolEndAtOnceWithoutAWindow) {
    Install();
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {}, {"XYZ"}, {"FRD "}, {"FRD", "x"}, {"QBUX"}, {"", "RAC"}, {"--hel"}, {"--HELP"}, {"--version", "x"}}) {
        auto p = Run(args, nullptr);  // offscreen: any window would block the process
        auto status = p->wait(10000);
        ASSERT_TRUE(status.has_value()) << "did not end: " << (args.empty() ? "" : args[0]);
        EXPECT_EQ(*status, 0);
        EXPECT_EQ(p->errorOutput().find("Run-time error"), std::string::npos);
        EXPECT_EQ(p->output(), "");
    }
}

// Exactly --help or --version: the answer on standard output, before the settings and without a
// display (a QApplication on this X display would abort).
TEST(StartupOptions, HelpAndVersionNeedNoDisplayAndNoSettings) {
    for (const char *exe : {"qvutil", "qvxcopy"}) {
        for (const std::string option : {"--help", "--version"}) {
            Program p(fs::path(QV_BIN_DIR) / exe, {option}, {{"DISPLAY", ""}, {"QT_QPA_PLATFORM", "xcb"}});
            EXPECT_EQ(p.wait(10000), 0) << exe << option << p.errorOutput();
            const std::string out = p.output(), name = exe + std::string(" ");
            EXPECT_EQ(out.rfind(option == "--help" ? "Usage: " + name : name, 0), 0u) << out;
        }
    }
}

TEST_F(StartupE2E, WithoutADisplayAToolSaysSoInOneLineAndAnUnknownKeywordEndsSilently) {
    Install();
    for (const char *display : {"", ":987"}) {  // none, and one that nothing serves
        for (const auto &[keyword, status] : {std::pair{"frd", 1}, std::pair{"XYZ", 0}}) {
            auto env = QvutilEnv(nullptr, drives.spec());
            env["QT_QPA_PLATFORM"] = "xcb";
            env["DISPLAY"] = display;
            Program p(inst.qvutil, {keyword}, env, drives.folder('E'));
            EXPECT_EQ(p.wait(10000), status) << keyword << " on '" << display << "'";
            const std::string err = p.errorOutput();
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), status) << err;
            EXPECT_EQ(err.find("no display") != std::string::npos, status == 1) << err;
        }
    }
}

TEST_F(StartupE2E, SettingsFailuresEndThroughTheLastResortReport) {
    Install();
    // Held open by another program: the exclusive open of global.mdb fails.
    {
        auto held = platform::dao::DBEngine().OpenDatabase("C:\\QVNWin32\\global.mdb", false, true, ";pwd=tovan58");
        auto [status, err] = RunToLastResort("FRD");
        EXPECT_EQ(status, 1);
        EXPECT_NE(err.find("Run-time error '3045':"), std::string::npos) << err;
        held.Close();
    }
    // Wrong password.
    {
        SqlFile(inst.globalDb).setPassword("not the one");
        auto [status, err] = RunToLastResort("RAC");
        EXPECT_EQ(status, 1);
        EXPECT_NE(err.find("Run-time error '3031':"), std::string::npos) << err;
    }
    // Missing.
    {
        std::filesystem::remove(inst.globalDb);
        auto [status, err] = RunToLastResort("QBU");
        EXPECT_EQ(status, 1);
        EXPECT_NE(err.find("Run-time error '3024':"), std::string::npos) << err;
    }
}

TEST_F(StartupE2E, AnEmptyCurrentTableLeavesTheReadDateWindowNoDataDatabase) {
    InstallationOptions o;
    o.emptyCurrent = true;
    Install(o);
    auto [status, err] = RunToLastResort("frd");
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("Run-time error '3024':"), std::string::npos) << err;
    // Nothing was left behind in the current folder.
    EXPECT_TRUE(std::filesystem::is_empty(drives.folder('E')));
}

TEST_F(StartupE2E, AnEmptyCurrentTableStillOpensTheBackupWindow) {
    InstallationOptions o;
    o.emptyCurrent = true;
    Install(o);
    auto p = Run({"qbu"}, x.get());
    std::string w = x->waitForWindow("Quorvant32 Complete Software Backup");
    ASSERT_FALSE(w.empty());
    x->keys(w, {"alt+F4"});
    auto status = p->wait(10000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
}

}  // namespace
