// The built executables run as a user runs them, on generated installations: start-up and dispatch,
// the last-resort report, and each tool taken through a whole run by the keyboard alone on its own X
// display (read-date correction, complete backup to a second drive, restore of an automatic copy); the
// databases, files and audit trail tell what each did. One run builds and checks the Debian package.
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <sys/file.h>
#include <unistd.h>
#include <string>

#include "platform/dao/dao.h"
#include "platform/files.h"
#include "qvsample/installation.h"
#include "qvsample/sql_file.h"
#include "qvsample/temp_drive.h"
#include "support/e2e.h"
#include "support/file_size_limit.h"

namespace {

using namespace qvtest;
namespace fs = std::filesystem;

// A generated installation on drives C and E, and one X display for the tests of a suite.
class StartupE2E : public ::testing::Test {
protected:
    static inline std::unique_ptr<XSession> x;
    static void SetUpTestSuite() { x = std::make_unique<XSession>(); }
    static void TearDownTestSuite() { x.reset(); }

    TempDrives drives{"CE"};
    InstallationOptions o;
    Installation inst;

    void Install(int readingsPerBill = 30) {
        o.readingsPerBill = readingsPerBill;
        inst = LayOutInstallation(drives.folder('C'), QV_BIN_DIR, o);
    }
    std::unique_ptr<Program> Run(const std::vector<std::string> &args, const XSession *session,
                                 const fs::path &current = {}, const std::map<std::string, std::string> &more = {}) {
        auto env = QvutilEnv(session, drives.spec());
        for (const auto &[name, value] : more) env[name] = value;
        return std::make_unique<Program>(inst.qvutil, args, env, current.empty() ? drives.folder('E') : current);
    }
    // The backup's STEP 1 box answered with Enter: the passes start.
    void StartPasses(Program &qvutil) {
        const std::string step1 = x->window("STEP 1", qvutil);
        x->activate(step1);
        x->xdotool({"key", "Return"});
    }
};
using QbuE2E = StartupE2E;
using RacE2E = StartupE2E;
using FrdE2E = StartupE2E;

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

// Without a display a tool says so in one line and ends with status 1. What names no tool (nothing, a
// keyword with blanks or a second argument, an option that is not exactly --help or --version) ends at
// once with status 0 and says nothing: were a window tried, it would end as the tool's does.
TEST_F(StartupE2E, WithoutADisplayAToolSaysSoInOneLineAndWhatNamesNoToolEndsSilently) {
    Install();
    using Args = std::vector<std::string>;
    const std::pair<Args, int> runs[] = {{{"frd"}, 1},      {{}, 0},           {{"XYZ"}, 0},  {{"FRD "}, 0},
                                         {{" FRD"}, 0},     {{"FRD", "x"}, 0}, {{"QBUX"}, 0}, {{"", "RAC"}, 0},
                                         {{"--hel"}, 0},    {{"--HELP"}, 0},   {{"--version", "x"}, 0}};
    for (const char *display : {"", ":987"}) {  // none, and one that nothing serves
        for (const auto &[args, status] : runs) {
            auto p = Run(args, nullptr, {}, {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display}});
            EXPECT_EQ(p->wait(10000), status) << (args.empty() ? "" : args[0]) << " on '" << display << "'";
            const std::string err = p->errorOutput();
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), status) << err;
            EXPECT_EQ(err.find("no display") != std::string::npos, status == 1) << err;
            EXPECT_EQ(p->output(), "");
        }
    }
}

// A settings database held open by another program, missing, or with an empty
// `current` table (the read-date window then finds no data database): each ends through the
// last-resort report with status 1, and nothing is left in the current folder (another password is
// refused as the same report: PasswordIsNeeded...).
TEST_F(StartupE2E, SettingsFailuresEndThroughTheLastResortReport) {
    for (const auto &[failure, keyword, error] :
         {std::tuple{"held", "FRD", "3045"}, {"missing", "QBU", "3024"}, {"empty", "frd", "3024"}}) {
        SCOPED_TRACE(failure);
        o.emptyCurrent = std::string(failure) == "empty";
        std::filesystem::remove_all(drives.folder('C'));
        Install();
        platform::dao::Database held;
        if (std::string(failure) == "held")
            held = platform::dao::DBEngine().OpenDatabase("C:\\QVNWin32\\global.mdb", false, true, ";pwd=tovan58");
        if (std::string(failure) == "missing") std::filesystem::remove(inst.globalDb);
        auto p = Run({keyword}, x.get());
        EXPECT_TRUE(x->answer("Quorvant 32 Utilities")) << "no last-resort box";
        EXPECT_EQ(p->wait(15000), std::optional<int>(1));
        const std::string err = p->errorOutput();
        EXPECT_TRUE(Holds(err, std::string("Run-time error '") + error + "':"));
        EXPECT_TRUE(std::filesystem::is_empty(drives.folder('E')));
        if (held) held.Close();
    }
}

// Visible files below a folder (relative path -> content); hidden names are skipped with their subtrees.
std::map<std::string, std::string> VisibleFiles(const fs::path &root) {
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path().filename().string()[0] == '.') {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file()) files[fs::relative(it->path(), root).string()] = ReadFile(it->path());
    }
    return files;
}

// The status file of the copier pass that a qvutil started with TMPDIR=`tmp` waits for, open; the
// copier takes it (a lock) when it starts and lets it go when its work is done.
class CopierStatus {
public:
    explicit CopierStatus(const fs::path &tmp) {
        QElapsedTimer t;
        for (t.start(); !file_.isOpen() && t.elapsed() < 20000; QThread::msleep(2))
            for (const auto &e : fs::directory_iterator(tmp)) {
                file_.setFileName(QString::fromStdString((e.path() / "status").string()));
                if (file_.open(QIODevice::ReadOnly)) break;
            }
    }
    // Keeps the copier from starting (it waits for the file) until Release; false when it had started.
    bool Hold() { return file_.isOpen() && ::flock(file_.handle(), LOCK_SH | LOCK_NB) == 0 && file_.size() == 0; }
    void Release() { ::flock(file_.handle(), LOCK_UN); }

private:
    QFile file_;
};

// A complete backup by the keyboard alone; the files pass is held at its start, and what is pressed or
// clicked in the window meanwhile does nothing, then or later. The settings' `current` table is empty:
// the backup does not need the data database.
TEST_F(QbuE2E, KeyboardBackupIsCheckedAndKeysDuringTheCopyDoNothing) {
    o.emptyCurrent = true;
    Install(20);
    const fs::path current = drives.folder('E') / "Backups", target = current / "QVNWin32", tmp = drives.root() / "tmp";
    fs::create_directories(current);
    fs::create_directories(tmp);

    auto qvutil = Run({"QBU"}, x.get(), current, {{"TMPDIR", tmp.string()}});
    const std::string w = x->window("Quorvant32 Complete Software Backup", *qvutil);
    x->keys(w, {"Return"});  // focus is on step 2
    StartPasses(*qvutil);
    CopierStatus pass(tmp);
    ASSERT_TRUE(pass.Hold()) << "the files pass started before it could be held";
    QElapsedTimer t;  // the copier's terminal window takes the focus when it comes
    for (t.start(); x->xdotool({"getactivewindow"}) == w && t.elapsed() < 3000;) QThread::msleep(50);
    for (const char *key : {"Return", "Escape", "alt+F4"}) x->keys(w, {key});
    x->xdotool({"mousemove", "--window", w, "316", "260", "click", "1"});  // on Exit
    QThread::msleep(300);
    EXPECT_FALSE(x->showing("FINISHED")) << "did not wait for the copy";
    pass.Release();

    ASSERT_FALSE(x->waitForWindow("FINISHED").empty()) << qvutil->errorOutput();
    QThread::msleep(500);  // a key held back would close the box now
    ASSERT_TRUE(x->answer("FINISHED"));
    EXPECT_EQ(qvutil->wait(), 0) << qvutil->errorOutput();
    EXPECT_EQ(VisibleFiles(target), VisibleFiles(inst.programDir));  // empty folders and modes: CopierTest
}

// Each way a backup fails, by the keyboard. A destination that cannot work is refused before anything
// starts, and the window stays for another choice; a failed pass or check ends the utility after its
// box. Never FINISHED; the box names the reason (the test reads it on standard error, where it goes too);
// the program tree stays as it was. A copy changed after its pass is found by the check in the window's
// tests (BackupWindowTest.LargeTree...).
TEST_F(QbuE2E, FailedBackupsNameTheReasonAndNeverSayFinished) {
    Install(20);
    const fs::path e = drives.folder('E'), tmp = drives.root() / "tmp", rootOnly = e / "RootOnly";
    fs::create_directories(tmp);
    struct Case {
        std::string name;
        fs::path current;    // the destination, the folder qvutil starts in
        std::string reason;  // a part of the box's text
        bool started;        // the passes started (STEP 1 came)
    };
    const Case cases[] = {
        {"unwritable", "/sys/kernel", "in S:\\kernel\\QVNWin32.\n\nThe login " + platform::UserName() +
                                          " may not write in the folder S:\\kernel.\n\n", false},
        {"QVNWin32 a file at the root", e, "in E:\\QVNWin32.\n\n'E:\\QVNWin32' is a file, not a folder.", false},
        {"another user's link", e / "Shared", "'E:\\Shared\\QVNWin32' is a link made by another user", false},
        {"inside the program folder", inst.programDir / "DATA", "program folder C:\\QVNWin32 or lies inside it", false},
        {"quote in the name", e / "Back \"Jan\" Ü", "holds the character \", which Windows does not allow", false},
        {"vanished", e / "Gone", "Path not found: 'E:\\Gone'", false},  // removed once the window is open
        {"full disk", e / "Full", ": The file is too large for the destination file system.", true},
    };
    WriteFile(e / "QVNWin32", "a file");
    fs::create_directories(rootOnly);
    fs::permissions(rootOnly, fs::perms::owner_all);
    fs::create_directories(e / "Shared");
    fs::create_directory_symlink(rootOnly, e / "Shared" / "QVNWin32");
    const bool planted = ::lchown((e / "Shared" / "QVNWin32").c_str(), 65534, 65534) == 0;  // by nobody (as root)
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.name == "another user's link" && !planted) continue;
        fs::create_directories(c.current);
        std::unique_ptr<Program> qvutil;
        {
            std::optional<FileSizeLimit> limit;
            if (c.name == "full disk") limit.emplace(1 << 20);  // the copier's too
            qvutil = Run({"QBU"}, x.get(), c.current,
                         {{"TMPDIR", tmp.string()}, {"QUORVANT_DRIVES", drives.spec() + ";S=/sys"}});
        }
        const std::string w = x->window("Quorvant32 Complete Software Backup", *qvutil);
        const auto program = VisibleFiles(inst.programDir);
        if (c.name == "vanished") fs::remove(c.current);
        x->keys(w, {"Return"});
        if (c.started) StartPasses(*qvutil);
        ASSERT_TRUE(x->answer("BACKUP")) << qvutil->errorOutput();
        if (!c.started) x->keys(w, {"alt+F4"});  // the window stayed
        EXPECT_EQ(qvutil->wait(), c.started ? 1 : 0);  // after the box, never a FINISHED box
        const std::string said = qvutil->errorOutput();
        EXPECT_TRUE(Holds(said, c.reason));
        EXPECT_EQ(VisibleFiles(inst.programDir), program);
    }
    EXPECT_TRUE(fs::is_empty(rootOnly));
    EXPECT_FALSE(fs::exists(inst.programDir / "DATA" / "QVNWin32"));
}

// qvutil QBU --unattended killed (SIGKILL) while its copier replaces 2,000 files, then run again: the
// copier ends with it, the next run completes the backup, and every file of the first backup is still
// there unchanged, in the copy or in a kept earlier state.
TEST_F(QbuE2E, UnattendedBackupKilledHalfWayIsCompletedByTheNextAndKeepsEveryEarlierState) {
    Install(20);
    const fs::path e = drives.folder('E'), target = e / "QVNWin32";
    const auto backup = [&] { return Run({"QBU", "--unattended", "E:\\"}, nullptr, e, {{"DISPLAY", ""}}); };
    const auto write = [&](const std::string &content) {
        for (int i = 0; i < 2000; ++i) WriteFile(inst.dataDir / "readings" / (std::to_string(i) + ".txt"), content);
    };
    const auto replaced = [&] {  // copies of the second state
        int n = 0;
        for (const auto &[name, content] : VisibleFiles(target)) n += content == "second";
        return n;
    };
    write("first");
    ASSERT_EQ(backup()->wait(60000), 0);
    const auto first = VisibleFiles(e);
    write("second");
    SqlFile(inst.dataDb).exec("update [tbl reading] set readdate = '2026-06-02'");
    {
        auto killed = backup();
        QElapsedTimer t;
        const auto keeping = [&] {  // a file moved into a kept earlier state: the copier replaces files now
            std::error_code ec;
            for (const auto &d : fs::directory_iterator(e, ec))
                if (d.path().filename().string().starts_with("QVNWin32 replaced"))
                    for (const auto &f : fs::recursive_directory_iterator(d.path(), ec))
                        if (f.is_regular_file(ec)) return true;
            return false;
        };
        for (t.start(); killed->running() && t.elapsed() < 60000 && !keeping();) QThread::usleep(200);
        ASSERT_TRUE(killed->running()) << "it ended before it could be killed";
        killed->kill();
        killed->wait();
    }
    QThread::msleep(2000);
    EXPECT_LT(replaced(), 1000) << "the copier went on without the backup";
    EXPECT_NE(ReadFile(inst.programDir / ".qvutil-last-backup").find("reason=it did not end"), std::string::npos);
    ASSERT_EQ(backup()->wait(60000), 0);
    EXPECT_EQ(VisibleFiles(target), VisibleFiles(inst.programDir));
    std::map<std::string, std::set<std::string>> held;  // below the copy or a kept state -> contents
    for (const auto &[name, content] : VisibleFiles(e)) held[name.substr(name.find('/'))].insert(content);
    for (const auto &[name, content] : first) EXPECT_TRUE(held[name.substr(name.find('/'))].count(content)) << name;
}

std::string Readings(const fs::path &db) {
    return SqlFile(db).scalar("select count(*) || '/' || group_concat(lockey || ' ' || readdate, ',') from "
                              "(select * from [tbl reading] order by rowid)");
}

// A restore and its taking back through the safety copy in the same window, as a clerk does them.
TEST_F(RacE2E, KeyboardRestoresAnAutomaticCopy) {
    Install(40);
    const std::string before = Readings(inst.dataDb);
    const std::string copy = Readings(inst.backupDir / "BILLING2.mdb");
    ASSERT_NE(before, copy);

    auto qvutil = Run({"RAC"}, x.get(), drives.folder('C'));
    const std::string w = ListAndRestore(*x, *qvutil, "BILLING2.mdb");
    ASSERT_TRUE(x->answer("FINISHED")) << qvutil->errorOutput();
    EXPECT_EQ(Readings(inst.dataDb), copy);
    std::vector<fs::path> safety;
    const auto safetyCopies = [&] {
        safety.clear();
        for (auto &e : fs::directory_iterator(inst.dataDir))
            if (e.path().stem().string().starts_with("BILLINGreplacedbyautocopy")) safety.push_back(e.path());
        return std::sort(safety.begin(), safety.end()), safety.size();
    };
    ASSERT_EQ(safetyCopies(), 1u);
    EXPECT_EQ(Readings(safety[0]), before);

    // Taken back in the same window by the mouse: the safety copy that FINISHED named, then Restore.
    x->activate(w);
    x->xdotool({"mousemove", "--window", w, "120", "20", "click", "1"});  // on the list button
    const std::string again = x->window("Locate Auto-Copy Database File", *qvutil);
    x->type(again, "../" + safety[0].filename().string());
    x->keys(again, {"Return"});
    x->activate(w);
    x->xdotool({"mousemove", "--window", w, "440", "93", "click", "1"});  // on Restore
    FinishAndExit(*x, *qvutil, w);
    EXPECT_EQ(Readings(inst.dataDb), before);
    ASSERT_EQ(safetyCopies(), 2u);
    EXPECT_EQ(Readings(safety[1]), copy);
    for (auto &e : fs::recursive_directory_iterator(inst.driveC))  // every lock file went with its holder
        EXPECT_NE(e.path().extension(), ".ldb") << e.path();
}

// This month's audit file tells the changes of the LIDB rows, a line a row in their order.
void ExpectAuditFileTellsLidb(const Installation &inst) {
    std::string lidb;
    for (const auto &row : SqlFile(inst.dataDb).rows("select [When] || ByWhom || ' ' || What || char(13, 10) from LIDB order by rowid"))
        lidb += row[0];
    EXPECT_EQ(ReadFile(inst.auditDir / ("BILLING" + QDate::currentDate().toString("yyyyMM").toStdString() + ".LOG")), lidb);
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

    const std::string w = x.window("Correct READ DATES for Meter Reading Records", qvutil);
    StartCorrection(x, w, "5/1/2026", std::to_string(n) + " RECORDS FOUND", "5/2/26");
    // Nothing that the clerk does during the run reaches the window: not the access keys of Continue
    // and Exit, not Escape or Enter, not the close box's Alt+F4, not a click on Exit.
    x.keys(w, {"alt+c", "alt+x", "Escape", "Return", "alt+F4"});
    x.xdotool({"mousemove", "--window", w, "401", "301", "click", "1"});
    ASSERT_FALSE(x.showing("FINISHED")) << "the run ended too soon";
    FinishAndExit(x, qvutil, w);

    SqlFile data(inst.dataDb);
    EXPECT_EQ(data.count("select count(*) from [tbl reading] where " + inScope + " and readdate = '2026-05-02'"), n);
    EXPECT_EQ(data.count("select count(*) from [tbl reading] where readdate = '2026-05-02'"), n);
    EXPECT_EQ(data.count("select count(*) from [tbl reading]"), total);
    EXPECT_EQ(data.count("select count(*) from sqlite_master where name = 'FRDLK' collate nocase"), 0);
    EXPECT_EQ(data.count("select count(*) from LIDB"), n);  // their texts: the run's tests (RunTest)

    ExpectAuditFileTellsLidb(inst);
}

// A correction of every read date of a bill date (an empty read date among them, the correction as
// CorrectEveryReadingOfABillDate checks it) and its undo, by the keyboard alone: the old values come back
// (exactly, to the second and Null: UndoRunTest), a reading changed since is left and counted, the undo
// undone makes the correction again, keys pressed during an undo do nothing, and every change has its audit
// line and LIDB row. A second undo of the same run is refused in UndoRunTest.UndoGivesBack...
TEST_F(FrdE2E, KeyboardUndoOfACorrectionAndOfItsUndo) {
    Install(60);
    const std::string inScope = "billdate = '2026-05-01' and lockey <= " + std::to_string(o.selected);
    SqlFile data(inst.dataDb);
    data.exec("update [tbl reading] set readdate = null where rowid = (select min(rowid) from [tbl reading] where " +
              inScope + ")");
    const long long n = data.count("select count(*) from [tbl reading] where " + inScope);
    {
        auto frd = Run({"FRD"}, x.get(), drives.folder('C'));
        CorrectEveryReadingOfABillDate(*x, *frd, inst, o);
    }
    const std::string later = data.scalar("select max(rowid) from [tbl reading] where " + inScope);
    data.exec("update [tbl reading] set readdate = '2026-05-20' where rowid = " + later);

    auto urd = Run({"URD"}, x.get(), drives.folder('C'));
    const std::string w = x->window("Undo READ DATE Corrections", *urd);
    // The newest run is chosen: Enter moves on to Undo, Enter presses it, Enter answers its question No.
    x->keys(w, {"Return", "Return"});
    ASSERT_TRUE(x->answer("Quorvant 32")) << urd->errorOutput();
    EXPECT_EQ(data.count("select count(*) from [tbl reading] where readdate = '2026-05-02'"), n - 1);
    x->keys(w, {"alt+u"});
    ASSERT_TRUE(x->answer("Quorvant 32", "alt+y"));
    x->keys(w, {"alt+u", "alt+x", "Escape", "Return", "alt+F4", "Home"});
    ASSERT_FALSE(x->showing("FINISHED")) << "the undo ended too soon";
    ASSERT_TRUE(x->answer("FINISHED")) << urd->errorOutput();
    // Only the reading changed since holds a date of the correction or after it.
    EXPECT_EQ(data.count("select count(*) from [tbl reading] where readdate in ('2026-05-02', '2026-05-20')"), 1);
    data.exec("drop trigger slow_run");  // the rest need not be slow

    x->keys(w, {"Home", "alt+u"});  // the newest run is the undo: undone, it makes the correction again
    ASSERT_TRUE(x->answer("Quorvant 32", "alt+y"));
    FinishAndExit(*x, *urd, w);
    EXPECT_EQ(data.count("select count(*) from [tbl reading] where readdate = '2026-05-02'"), n - 1);

    const std::string m = std::to_string(n - 1);
    EXPECT_EQ(data.scalar("select group_concat(run || ' ' || records || ' ' || kept || ' ' || ifnull(undoes, '-') || "
                          "' ' || ifnull(undoneby, '-'), ', ') from FRDRUN"),
              "1 " + std::to_string(n) + " 0 - 2, 2 " + m + " 1 1 3, 3 " + m + " 0 2 -");
    EXPECT_EQ(data.count("select count(*) from LIDB"), n + 2 * (n - 1) + 1);  // and the reading left; texts: UndoRunTest
    ExpectAuditFileTellsLidb(inst);
    for (auto &e : fs::recursive_directory_iterator(inst.driveC))  // FRD and URD left no lock file
        EXPECT_TRUE(e.path().extension() != ".ldb" && e.path().extension() != ".frd") << e.path();
}

// The Debian package as an administrator installs it: lintian, appstreamcli and desktop-file-validate
// find nothing, and its qvutil, unpacked, finds the installation through a configuration file alone.
TEST_F(FrdE2E, DebianPackageWithAConfigurationFile) {
    const fs::path work = drives.root() / "package", root = work / "root";
    // Built in a folder of its own, never in the one whose executables the other tests run; beside it
    // and with the flags of scripts/test, so that the compiler cache serves it.
    const fs::path build = fs::path(QV_BIN_DIR).parent_path();
    std::string folder = (build.parent_path() / (build.filename().string() + "-package.XXXXXX")).string();
    ASSERT_TRUE(::mkdtemp(folder.data()));
    const std::unique_ptr<std::string, void (*)(std::string *)> removed(&folder, [](std::string *f) { fs::remove_all(*f); });
    auto run = [&](const std::string &program, const std::vector<std::string> &args) {
        Program p(program, args, {{"QV_BUILD_DIR", folder}, {"QV_CMAKE_OPTIONS", "-DQVUTIL_TESTS=OFF -DQVUTIL_BENCH=OFF -DQVUTIL_WERROR=ON "
                                                              "-DCMAKE_CXX_COMPILER_LAUNCHER=" QV_CXX_LAUNCHER}});
        const auto status = p.wait(360000);
        const std::string output = p.output();
        EXPECT_EQ(status, 0) << program << ": " << output << p.errorOutput();
        return output;
    };
    std::string deb = run(QV_SOURCE_DIR "/scripts/package", {work.string()});
    deb.erase(deb.find_last_not_of(" \n") + 1);
    ASSERT_TRUE(fs::exists(deb)) << deb;
    EXPECT_EQ(fs::path(deb).filename().string().rfind("qvutil_", 0), 0u);
    const std::string lintian = run("lintian", {"--fail-on", "error,warning", deb});
    EXPECT_EQ(lintian.find("E: "), std::string::npos) << lintian;
    EXPECT_EQ(lintian.find("W: "), std::string::npos) << lintian;
    run("dpkg-deb", {"-x", deb, root.string()});
    run("appstreamcli", {"validate", "--no-net", (root / "usr/share/metainfo/org.example.qvutil.metainfo.xml").string()});
    // The nightly backup's units as installed, the system's own units beside them.
    fs::create_directories(root / "usr/lib/systemd");
    fs::copy("/lib/systemd/system", root / "usr/lib/systemd/system", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    for (const char *unit : {"qvutil-backup.service", "qvutil-backup.timer"})
        run("systemd-analyze", {"verify", "--man=no", "--root=" + root.string(), (root / "lib/systemd/system" / unit).string()});
    for (const char *tool : {"qbu", "rac", "frd", "urd"})
        EXPECT_EQ(run("desktop-file-validate", {(root / "usr/share/applications" / ("qvutil-" + std::string(tool) + ".desktop")).string()}), "");

    o.copyBinaries = false;
    Install(60);
    WriteFile(work / "config" / "quorvant" / "qvutil.conf",
              "; written by hand\nC=" + drives.folder('C').string() + "\nProgramFolder=C:\\QVNWin32\n");
    auto env = QvutilEnv(x.get(), "");  // no drive map in the environment
    env["XDG_CONFIG_HOME"] = (work / "config").string();
    Program qvutil(root / "usr/bin/qvutil", {"FRD"}, env, drives.folder('C'));
    CorrectEveryReadingOfABillDate(*x, qvutil, inst, o);
}

}  // namespace
