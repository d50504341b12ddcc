// Audit entries of a run that commits as a whole: rows inside the caller's transaction, file lines
// only after Commit, and the audit file made sure of before anything changes.
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "startup/audit.h"
#include "startup/audit_env.h"

namespace audittest {
namespace {

using platform::dao::DBEngine;

class AuditBatchTest : public AuditTest {
protected:
    ~AuditBatchTest() override {
        auto &ws = DBEngine().Workspaces(0);
        if (ws.InTransaction()) ws.Rollback();
    }
};

TEST_F(AuditBatchTest, LinesWaitForCommitAndKeepTheirOrder) {
    const std::string user = startup::AuditUser();
    {
        auto &ws = DBEngine().Workspaces(0);
        ws.BeginTrans();
        startup::AuditBatch batch;
        batch.Add("one");
        platform::SetClockForTests([] { return platform::MakeDateTime(2017, 5, 17, 21, 9); });
        batch.Add("");  // nothing at all
        batch.Add("two");
        EXPECT_EQ(AuditText("billing201705.LOG"), "");
        ws.CommitTrans();
        batch.Commit();
    }
    EXPECT_EQ(AuditText("billing201705.LOG"),
              "20170517 09:08 PM " + user + " one\r\n" + "20170517 09:09 PM " + user + " two\r\n");
    const auto rows = LidbRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][2], "one");
    EXPECT_EQ(rows[1][0], "20170517 09:09 PM ");
    EXPECT_EQ(rows[1][2], "two");
}

TEST_F(AuditBatchTest, RolledBackRunLeavesNoRowAndNoLine) {
    {
        auto &ws = DBEngine().Workspaces(0);
        ws.BeginTrans();
        startup::AuditBatch batch;
        batch.Add("O'HARE-7 changed");
        ws.Rollback();
    }  // never committed
    EXPECT_TRUE(LidbRows().empty());
    EXPECT_EQ(AuditText("billing201705.LOG"), "");
}

TEST_F(AuditBatchTest, RowsJoinTheCallersTransaction) {
    auto &ws = DBEngine().Workspaces(0);
    ws.BeginTrans();
    auto db = ws.OpenDatabase("C:\\Data\\billing.mdb");
    startup::AuditBatch batch;
    batch.Add("inside");
    // The batch's row is visible to the caller's own open of the same file before the commit.
    auto rs = db.OpenRecordset("select * from LIDB", platform::dao::dbOpenSnapshot);
    EXPECT_EQ(rs.RecordCount(), 1);
    rs.Close();
    db.Close();
    ws.Rollback();
    EXPECT_TRUE(LidbRows().empty());
}

TEST_F(AuditBatchTest, AFileThatFillsUpMidwayKeepsNoneOfTheBatch) {
    qvtest::WriteFile(AuditFile("billing201705.LOG"), "earlier line\r\n");
    auto &ws = DBEngine().Workspaces(0);
    ws.BeginTrans();
    startup::AuditBatch batch;
    const std::size_t lines = 400, line = 18 + startup::AuditUser().size() + 1 + 200 + 2;
    for (std::size_t i = 0; i < lines; ++i) batch.Add(std::string(200, 'x'));
    ws.CommitTrans();
    // The disk fills partway through the file's lines (a file size limit stands for it; the
    // temporary file of the lines stays below it).
    rlimit was{};
    ::getrlimit(RLIMIT_FSIZE, &was);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit low{static_cast<rlim_t>(lines * line + 5), was.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &low);
    int number = 0;
    try {
        batch.Commit();
    } catch (const platform::Error &e) {
        number = e.number;
    }
    ::setrlimit(RLIMIT_FSIZE, &was);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(number, 61);
    EXPECT_EQ(AuditText("billing201705.LOG"), "earlier line\r\n");
}

TEST_F(AuditBatchTest, MissingAuditFolderFailsAtTheStart) {
    std::filesystem::remove_all(drives.linux("C:\\QV\\AUDIT"));
    try {
        startup::AuditBatch batch;
        FAIL() << "no error";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number, 76);
    }
}

}  // namespace
}  // namespace audittest
