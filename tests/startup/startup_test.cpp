// Start-up: the settings database (the keyword's dispatch is run end to end, StartupE2E), date entry in
// the fields, and the audit trail of a run that commits as a whole.
#include <QApplication>
#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "platform/ui/forms.h"
#include "qvsample/sql_file.h"
#include "qvsample/temp_drive.h"
#include "startup/audit.h"
#include "startup/date_entry.h"
#include "startup/shared.h"
#include "support/error_number.h"
#include "support/child.h"
#include "support/file_size_limit.h"
#include "support/modal.h"

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
};

// Missing, wrong-password and held-open settings databases are run end to end (StartupE2E).
TEST_F(StartupTest, SettingsAreTrimmedJoinedFromTheFirstRecordAndANullPathRefused) {
    struct Case {
        std::vector<std::string> rows;
        std::string folder, file, path;
        int error;
    };
    for (const Case &c : std::vector<Case>{
             {{"'  C:\\Data  ', ' live.mdb'", "'D:\\Other', 'other.mdb'"}, "C:\\Data", "live.mdb", "C:\\Data\\live.mdb", 0},
             {{"'C:\\Data\\', 'live.mdb'"}, "C:\\Data\\", "live.mdb", "C:\\Data\\live.mdb", 0},
             {{}, "", "", "", 0},
             {{"NULL, 'live.mdb'"}, "", "", "", 94}}) {
        std::filesystem::remove(global);
        Shared() = {};
        MakeGlobal(c.rows);
        EXPECT_EQ(qvtest::ErrorNumber(startup::ReadSettings), c.error);
        EXPECT_EQ(Shared().DataFolder, c.folder);
        EXPECT_EQ(Shared().DataFileName, c.file);
        EXPECT_EQ(Shared().DataFilePath, c.path);
        if (c.error != 0) continue;  // the last case: start-up ends through the last-resort report
        // Nothing stays open for the tool.
        EXPECT_FALSE(Shared().db);
        EXPECT_EQ(platform::dao::DBEngine().Workspaces(0).DatabasesCount(), 0);
    }
}

using platform::ui::MsgBoxRecord;

class DateForm : public platform::ui::Form {
public:
    DateForm() : Form("frmDates", "Dates", 4000, 1500) {
        field = &AddTextBox("txt", 0, {120, 120, 1215, 285}, 0);
        other = &AddTextBox("txt", 1, {120, 600, 1215, 285}, 1);
    }
    platform::ui::TextBox *field;
    platform::ui::TextBox *other;
};

class DateEntryTest : public ::testing::Test {
protected:
    DateForm form;
    qvtest::BoxRecorder recorder;
    std::vector<MsgBoxRecord> &boxes = recorder.boxes();

    void SetUp() override {
        // Month/day alone and two-digit years are read against this clock.
        platform::SetClockForTests([] { return platform::MakeDateTime(2017, 6, 15, 9, 0, 0); });
        form.Show();
        QApplication::processEvents();
    }
    void TearDown() override {
        platform::SetClockForTests({});
    }
    std::string Validate(const std::string &typed) {
        boxes.clear();
        form.other->SetFocus();
        QApplication::processEvents();
        form.field->SetText(typed);
        startup::DateEntryValidation(*form.field);
        QApplication::processEvents();
        return form.field->Text();
    }
};

// One row an entry: the text the field keeps ("?" for a composed text that is no date, left to the
// caller without a message) and the box it shows ("" for none; a refused entry empties the field).
TEST_F(DateEntryTest, EntriesAreNormalisedComposedRefusedOrCalledAmbiguous) {
    const std::string invalid = "Invalid Date", ambiguous = "Ambiguous Date Entry";
    struct Case {
        const char *typed;
        std::string kept, prompt;
    };
    for (const Case &c : std::vector<Case>{
             {"5/1/2017 10:30", "05/01/2017", ""}, {"5117", "05/01/2017", ""},        {"9999", "09/09/1999", ""},
             {"51517", "05/15/2017", ""},         {"051517", "05/15/2017", ""},      {"05152017", "05/15/2017", ""},
             {"1012017", "10/01/2017", ""},       {"0512017", "05/01/2017", ""},     {"5152017", "05/15/2017", ""},
             {"1152017", "11/05/2017", ""},       {"12/31/29", "12/31/2029", ""},    {"1/1/30", "01/01/1930", ""},
             {"   ", "", invalid},  {"0000", "", invalid}, {"123", "", invalid},   {"123456789", "", invalid},
             {"ab", "", invalid},   {"13/45/2017", "", invalid},                    {"5\u00e917", "", invalid},
             {"10117", "", ambiguous}, {"11317", "", ambiguous},  {"12345", "", ambiguous},
             {"05117", "?", ""},    {"ab/cd/ef", "?", ""},   {"99999999", "?", ""},
         }) {
        SCOPED_TRACE(c.typed);
        const std::string kept = Validate(c.typed);
        EXPECT_TRUE(c.kept == "?" ? !platform::IsDate(kept) : kept == c.kept) << kept;
        if (c.prompt.empty()) {
            EXPECT_TRUE(boxes.empty());
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].title + " | " + std::to_string(boxes[0].style) + " | " + boxes[0].prompt, "Quorvant 32 | 16 | " + c.prompt);
        EXPECT_TRUE(c.prompt != ambiguous || form.ActiveControl() == form.field) << "focus goes back to the field";
    }
}

}  // namespace

namespace {

using platform::MakeDateTime;
using platform::dao::DBEngine;

class AuditBatchTest : public ::testing::Test {
protected:
    qvtest::TempDrives drives{"C"};

    AuditBatchTest() {
        std::filesystem::create_directories(drives.linux("C:\\QV\\AUDIT"));
        std::filesystem::create_directories(drives.linux("C:\\Data"));
        qvtest::SqlFile(DataFile()).exec("create table LIDB ([When] TEXT, ByWhom TEXT, What TEXT)");
        platform::SetAppPathForTests("C:\\QV");
        auto &s = startup::Shared();
        s.DataFolder = "C:\\Data";
        s.DataFileName = "billing.mdb";
        s.DataFilePath = "C:\\Data\\billing.mdb";
        SetTime(platform::MakeDateTime(2017, 5, 17, 21, 8, 30));
    }
    ~AuditBatchTest() override {
        auto &ws = DBEngine().Workspaces(0);
        if (ws.InTransaction()) ws.Rollback();
        platform::SetClockForTests({});
        platform::SetAppPathForTests("");
        startup::Shared() = {};
    }

    static void SetTime(platform::DateTime t) {
        platform::SetClockForTests([t] { return t; });
    }
    std::filesystem::path DataFile() const { return drives.linux("C:\\Data\\billing.mdb"); }
    std::filesystem::path AuditFile(const std::string &name) const { return drives.linux("C:\\QV\\AUDIT\\" + name); }
    std::string AuditText(const std::string &name) const {
        const auto p = AuditFile(name);
        return std::filesystem::exists(p) ? qvtest::ReadFile(p) : std::string();
    }
    // A run that commits the lines `what` with its transaction, then writes them; a process that ends between
    // its commit and its lines (`ended`) leaves its batch pending.
    static void Run(const std::vector<std::string> &what, bool ended = false) {
        auto &ws = DBEngine().Workspaces(0);
        ws.BeginTrans();
        startup::AuditBatch batch;
        for (const auto &w : what) batch.Add(w);
        batch.Prepare();
        ws.CommitTrans();
        if (ended) ::_exit(0);
        batch.Commit();
    }
    static int EndedAfterCommit(const std::vector<std::string> &what) {
        return qvtest::Child([&] { return Run(what, true), 0; }).Wait();
    }
};

TEST_F(AuditBatchTest, LinesWaitForCommitKeepTheirOrderAndQuotes) {
    const std::string user = startup::AuditUser();
    {
        auto &ws = DBEngine().Workspaces(0);
        ws.BeginTrans();
        startup::AuditBatch batch;
        batch.Add("one");
        platform::SetClockForTests([] { return platform::MakeDateTime(2017, 5, 17, 21, 9); });
        batch.Add("");  // nothing at all
        batch.Add("O'HARE-7 for code 'W''");
        EXPECT_EQ(AuditText("billing201705.LOG"), "");
        batch.Prepare();
        ws.CommitTrans();
        batch.Commit();
    }
    EXPECT_EQ(AuditText("billing201705.LOG"),
              "20170517 09:08 PM " + user + " one\r\n" + "20170517 09:09 PM " + user + " O'HARE-7 for code 'W''\r\n");
    EXPECT_EQ(qvtest::SqlFile(DataFile()).rows("select [When], ByWhom, What from LIDB order by rowid"),  // quotes verbatim
              (std::vector<std::vector<std::string>>{{"20170517 09:08 PM ", user, "one"}, {"20170517 09:09 PM ", user, "O'HARE-7 for code 'W''"}}));
}

// A file that fills up keeps none of the batch's lines; they are written whole once it can take them.
TEST_F(AuditBatchTest, AFileThatFillsUpMidwayKeepsNoneOfTheBatchUntilItCanTakeThemAll) {
    qvtest::WriteFile(AuditFile("billing201705.LOG"), "earlier line\r\n");
    const std::size_t lines = 400, line = 18 + startup::AuditUser().size() + 1 + 200 + 2;
    {
        auto &ws = DBEngine().Workspaces(0);
        ws.BeginTrans();
        startup::AuditBatch batch;
        for (std::size_t i = 0; i < lines; ++i) batch.Add(std::string(200, 'x'));
        batch.Prepare();
        ws.CommitTrans();
        // The disk fills partway through the file's lines (a file size limit stands for it; the
        // temporary file of the lines stays below it).
        qvtest::FileSizeLimit low(static_cast<rlim_t>(lines * line + 5));
        EXPECT_EQ(qvtest::ErrorNumber([&] { batch.Commit(); }), 61);
    }
    EXPECT_EQ(AuditText("billing201705.LOG"), "earlier line\r\n");
    startup::CompleteAuditFile();
    EXPECT_EQ(AuditText("billing201705.LOG").size(), 14 + lines * line);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(AuditFile("")), {}), 1);  // no pending file stays
}

// Lines left by runs that ended after their commit go only to their own database's month file, and only
// as the run wrote them: a database that shares AUDIT under the same Windows path leaves them, a changed
// row is told and not written, and a file that cannot be written holds back none of the others.
TEST_F(AuditBatchTest, PendingLinesGoOnlyToTheirOwnDatabaseAsWrittenAndOneFailureHoldsBackNoOther) {
    SetTime(MakeDateTime(2017, 6, 2, 8, 0));
    ASSERT_EQ(EndedAfterCommit({"june"}), 0);
    std::filesystem::remove(AuditFile("billing201706.LOG"));
    std::filesystem::create_directory(AuditFile("billing201706.LOG"));  // cannot be written
    SetTime(MakeDateTime(2017, 5, 17, 21, 8));
    ASSERT_EQ(EndedAfterCommit({"a", "b", "c"}), 0);
    qvtest::SqlFile(DataFile()).exec("update LIDB set What = 'forged' where What = 'b'");

    const auto other = drives.root() / "other";  // another installation whose program folder is this one
    std::filesystem::create_directories(other / "Data");
    qvtest::SqlFile(other / "Data" / "billing.mdb").exec("create table LIDB ([When] TEXT, ByWhom TEXT, What TEXT)");
    std::filesystem::create_directory_symlink(drives.linux("C:\\QV"), other / "QV");
    ::setenv("QUORVANT_DRIVES", ("C=" + other.string()).c_str(), 1);
    auto notices = startup::CompleteAuditFile();
    ::setenv("QUORVANT_DRIVES", drives.spec().c_str(), 1);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[0].find("left as they are: its lines belong to the data database /"), std::string::npos) << notices[0];
    EXPECT_EQ(AuditText("billing201705.LOG"), "");

    notices = startup::CompleteAuditFile();
    const std::string stamp = "20170517 09:08 PM " + startup::AuditUser();
    EXPECT_EQ(AuditText("billing201705.LOG"), stamp + " a\r\n" + stamp + " c\r\n");
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[0].find("could not be written yet: Path/File access error: 'C:\\QV\\AUDIT\\billing201706.LOG'"), std::string::npos) << notices[0];
    EXPECT_NE(notices[1].find("1 of the 3 audit lines of the read-date run begun"), std::string::npos) << notices[1];
}

// A file that one login made in the shared AUDIT folder takes the folder's access, and another login adds
// its lines to it. A batch that a kill left is completed by any login of the folder's group (root's
// too, whose pending file that login may only read, unless the folder is sticky and it could not remove
// the file after); one of the group naming a file of its choice, one of a login outside the group and
// the names that login planted (more than this process may open) are left, in one notice, and nothing
// is written of them.
TEST_F(AuditBatchTest, AnotherLoginAddsToTheFileThatOneMade) {
    if (::geteuid() != 0) GTEST_SKIP() << "another login needs root";
    for (const char *f : {"", "C", "C/QV", "C/Data"}) std::filesystem::permissions(drives.root() / f, std::filesystem::perms(0755));
    for (const char *f : {"C/QV/AUDIT", "C/Data"}) std::filesystem::permissions(drives.root() / f, std::filesystem::perms(0777));
    ASSERT_EQ(::chown(AuditFile("").c_str(), 0, 65534), 0);  // the office's group: nobody's
    Run({"by root"});
    ASSERT_EQ(EndedAfterCommit({"killed, by root"}), 0);  // completed by nobody, of the folder's group
    // ... but not from a sticky folder, where nobody could not remove root's pending file after it.
    std::filesystem::permissions(AuditFile(""), std::filesystem::perms(01777));
    const std::string cut = AuditText("billing201705.LOG");
    EXPECT_EQ(qvtest::AsNobody([] { return static_cast<int>(startup::CompleteAuditFile().size()); }), 1);
    EXPECT_EQ(AuditText("billing201705.LOG"), cut);
    std::filesystem::permissions(AuditFile(""), std::filesystem::perms(0777));
    std::filesystem::permissions(DataFile(), std::filesystem::perms(0666));
    for (const uid_t login : {65534, 65533}) {  // nobody, and a login outside the group
        EXPECT_EQ(qvtest::Child([&] {
                      if (::setgroups(0, nullptr) != 0 || ::setgid(login) != 0 || ::setuid(login) != 0) return 1;
                      if (login == 65533) {
                          for (int i = 100; i < 400; ++i) qvtest::WriteFile(AuditFile(".billing201705.LOG.0000000000000" + std::to_string(i) + ".pending"), "");
                          return EndedAfterCommit({"by an outsider"});
                      }
                      if (!startup::CompleteAuditFile().empty()) return 2;
                      Run({"by nobody"});
                      EndedAfterCommit({"killed, by nobody"});
                      Shared().DataFileName = "run-me.sh.mdb";  // and a pending batch of its own for run-me.sh201705.LOG
                      return EndedAfterCommit({"rm -rf /"});
                  }).Wait(), 0);
    }
    const rlimit few{200, 200}, before = [] { rlimit r{}; ::getrlimit(RLIMIT_NOFILE, &r); return r; }();
    ::setrlimit(RLIMIT_NOFILE, &few);
    const auto notices = startup::CompleteAuditFile();
    ::setrlimit(RLIMIT_NOFILE, &before);
    EXPECT_EQ(AuditText("run-me.sh201705.LOG"), "");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("302 pending audit files of other logins in C:\\QV\\AUDIT were left"), std::string::npos) << notices[0];
    EXPECT_EQ(std::filesystem::status(AuditFile("billing201705.LOG")).permissions(), std::filesystem::perms(0666));
    const std::string text = AuditText("billing201705.LOG");
    EXPECT_NE(text.find(" by root\r\n" + text.substr(0, text.find(" by root")) + " killed, by root\r\n"), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with(" by nobody\r\n" + text.substr(0, text.find(" by root")) + " killed, by nobody\r\n")) << text;
}

// Each line begins "yyyymmdd hh:mm AMPM " of its time; the file is the month's, named after the data file.
TEST_F(AuditBatchTest, TimestampAndFileNameFollowTheClockAndTheDataFileName) {
    struct Case {
        platform::DateTime when;
        std::string dataFile, stamp, path;
    };
    for (const Case &c : std::vector<Case>{
             {MakeDateTime(2021, 1, 2, 0, 5), "billing.mdb", "20210102 12:05 AM ", "C:\\QV\\AUDIT\\billing202101.LOG"},
             {MakeDateTime(2021, 12, 31, 12, 0), "", "20211231 12:00 PM ", "C:\\QV\\AUDIT\\QV32DATA202112.LOG"},
             {MakeDateTime(2021, 7, 4, 9, 59), "abc", "20210704 09:59 AM ", "C:\\QV\\AUDIT\\abc202107.LOG"},
             {MakeDateTime(2017, 5, 17, 21, 8), "a.db", "20170517 09:08 PM ", "C:\\QV\\AUDIT\\201705.LOG"}}) {
        SetTime(c.when);
        startup::Shared().DataFileName = c.dataFile;
        startup::AuditBatch batch;
        batch.Add("x");
        batch.Prepare();
        batch.Commit();
        EXPECT_EQ(batch.Path(), c.path);
        EXPECT_EQ(qvtest::ReadFile(platform::MapPath(c.path)), c.stamp + startup::AuditUser() + " x\r\n");
    }
}

}  // namespace
