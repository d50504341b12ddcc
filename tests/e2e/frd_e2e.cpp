// The read-date correction tool run by a user on a generated installation: the keyboard alone takes
// it through a whole correction; the databases and the audit file tell what it did.
#include <gtest/gtest.h>

#include <QDate>

#include <cctype>
#include <filesystem>
#include <string>

#include "support/e2e.h"
#include "support/installation.h"
#include "support/sql_file.h"
#include "support/temp_drive.h"

namespace {

using namespace qvtest;
namespace fs = std::filesystem;

std::string Trimmed(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    return s;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

// Takes the read-date window of a started qvutil through a correction of every reading of one bill
// date with the keyboard alone; the databases and the audit file tell what it did.
void CorrectEveryReadingOfABillDate(const XSession &x, Program &qvutil, const Installation &inst,
                                    const InstallationOptions &o) {
    const std::string inScope = "billdate = '2026-05-01' and lockey <= " + std::to_string(o.selected);
    const long long n = SqlFile(inst.dataDb).count("select count(*) from [tbl reading] where " + inScope);
    const long long total = SqlFile(inst.dataDb).count("select count(*) from [tbl reading]");
    ASSERT_GT(n, 1);
    // Each change of a read date costs some time, so the run lasts long enough to press keys into.
    SqlFile(inst.dataDb).exec("create table slow (x INTEGER);"
                              "with recursive c(x) as (select 1 union all select x + 1 from c where x < 1400) "
                              "insert into slow select x from c;"
                              "create trigger slow_run after update on [tbl reading] begin "
                              "select count(*) from slow a, slow b where a.x <> b.x; end");
    const std::string found = std::to_string(n) + " RECORDS FOUND";

    const std::string w = x.waitForWindow("Correct READ DATES for Meter Reading Records");
    ASSERT_FALSE(w.empty()) << qvutil.errorOutput();
    // Answers the count box that leaving a field shows.
    auto answer = [&](const std::string &title) {
        const std::string box = x.waitForWindow(title);
        ASSERT_FALSE(box.empty()) << "no box " << title;
        x.keys(box, {"Return"});
    };

    x.keys(w, {"Return"});  // Enter in the code list moves on to the bill date
    x.type(w, "5/1/2026");
    x.keys(w, {"Return"});
    answer(found);
    x.type(w, "all");
    x.keys(w, {"Return"});
    answer(found);
    x.type(w, "5/2/26");
    x.keys(w, {"Return"});
    answer("NO RECORDS FOUND");
    x.keys(w, {"alt+c"});
    // Nothing that the clerk does during the run reaches the window: not the access keys of Continue
    // and Exit, not Escape or Enter, not the close box's Alt+F4, not a click on Exit.
    x.keys(w, {"alt+c", "alt+x", "Escape", "Return", "alt+F4"});
    x.xdotool({"mousemove", "--window", w, "401", "301", "click", "1"});
    ASSERT_EQ(x.xdotool({"search", "--onlyvisible", "--name", "^FINISHED$"}), "") << "the run ended too soon";
    answer("FINISHED");
    x.keys(w, {"alt+x"});

    const auto status = qvutil.wait(20000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0) << qvutil.errorOutput();

    SqlFile data(inst.dataDb);
    EXPECT_EQ(data.count("select count(*) from [tbl reading] where " + inScope + " and readdate = '2026-05-02'"), n);
    EXPECT_EQ(data.count("select count(*) from [tbl reading] where readdate = '2026-05-02'"), n);
    EXPECT_EQ(data.count("select count(*) from [tbl reading]"), total);
    EXPECT_EQ(data.count("select count(*) from sqlite_master where name = 'FRDLK' collate nocase"), 0);
    EXPECT_EQ(data.count("select count(*) from LIDB"), n);
    const std::string prefix = "Changed read date from all to 05/02/2026 for bill date 05/01/2026 for account 1002";
    EXPECT_EQ(data.count("select count(*) from LIDB where What like '" + prefix + "% for code _'"), n);

    const auto audit = inst.auditDir / ("BILLING" + QDate::currentDate().toString("yyyyMM").toStdString() + ".LOG");
    ASSERT_TRUE(std::filesystem::exists(audit));
    const auto lines = Lines(ReadFile(audit));
    ASSERT_EQ(static_cast<long long>(lines.size()), n);
    for (const auto &line : lines) EXPECT_NE(line.find(" " + prefix), std::string::npos) << line;
    // The file tells the changes in the order of the table rows.
    const auto rows = data.rows("select [When], ByWhom, What from LIDB order by rowid");
    for (std::size_t i = 0; i < rows.size() && i < lines.size(); ++i)
        EXPECT_EQ(lines[i], rows[i][0] + rows[i][1] + " " + rows[i][2]);
}

TEST(FrdE2E, KeyboardCorrectionOfEveryReadingOfABillDate) {
    XSession x;
    TempDrives drives{"C"};
    InstallationOptions o;
    o.readingsPerBill = 60;
    const Installation inst = LayOutInstallation(drives.folder('C'), QV_BIN_DIR, o);
    Program qvutil(inst.qvutil, {"FRD"}, QvutilEnv(&x, drives.spec()), drives.folder('C'));
    CorrectEveryReadingOfABillDate(x, qvutil, inst, o);
}

// The Debian package as an administrator installs it: lintian and desktop-file-validate find
// nothing, and its qvutil, unpacked, finds the installation through a configuration file alone.
TEST(FrdE2E, DebianPackageWithAConfigurationFile) {
    TempDrives drives{"C"};
    const fs::path work = drives.root() / "package", root = work / "root";
    auto run = [](const std::string &program, const std::vector<std::string> &args) {
        Program p(program, args, {{"QV_BUILD_DIR", fs::path(QV_BIN_DIR).parent_path().string()}});
        const auto status = p.wait(100000);
        const std::string output = p.output();
        EXPECT_EQ(status, 0) << program << ": " << output << p.errorOutput();
        return output;
    };
    const std::string deb = Trimmed(run(QV_SOURCE_DIR "/scripts/package", {work.string()}));
    ASSERT_TRUE(fs::exists(deb)) << deb;
    EXPECT_EQ(fs::path(deb).filename().string().rfind("qvutil_", 0), 0u);
    const std::string lintian = run("lintian", {"--fail-on", "error,warning", deb});
    EXPECT_EQ(lintian.find("E: "), std::string::npos) << lintian;
    EXPECT_EQ(lintian.find("W: "), std::string::npos) << lintian;
    run("dpkg-deb", {"-x", deb, root.string()});
    for (const char *tool : {"qbu", "rac", "frd"})
        EXPECT_EQ(run("desktop-file-validate", {(root / "usr/share/applications" / ("qvutil-" + std::string(tool) + ".desktop")).string()}), "");

    InstallationOptions o;
    o.readingsPerBill = 60;
    o.copyBinaries = false;
    const Installation inst = LayOutInstallation(drives.folder('C'), QV_BIN_DIR, o);
    WriteFile(work / "config" / "quorvant" / "qvutil.conf",
              "; written by hand\nC=" + drives.folder('C').string() + "\nProgramFolder=C:\\QVNWin32\n");
    XSession x;
    auto env = QvutilEnv(&x, "");  // no drive map in the environment
    env["XDG_CONFIG_HOME"] = (work / "config").string();
    Program qvutil(root / "usr/bin/qvutil", {"FRD"}, env, drives.folder('C'));
    CorrectEveryReadingOfABillDate(x, qvutil, inst, o);
}

}  // namespace
