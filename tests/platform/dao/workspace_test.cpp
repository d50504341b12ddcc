// The Databases collection and transactions shared by every open of a file in the workspace.
#include "dao_fixture.h"

namespace daotest {

class WorkspaceTest : public DaoTest {
protected:
    const std::string file = "C:\\data\\billing.mdb";
    Workspace &ws = DBEngine().Workspaces(0);
    void SetUp() override {
        MakeData(file);
        Make("C:\\qv\\other.mdb", {"create table t (x INTEGER)"});
    }
    std::string Lidb() { return Scalar(file, "select count(*) from LIDB"); }
    void Audit(const std::string &what) {
        Database audit = DBEngine().OpenDatabase(file);
        audit.Execute("insert into LIDB (When, ByWhom, What) values ('now','me','" + what + "')");
        audit.Close();
    }
};

TEST_F(WorkspaceTest, DatabasesHoldsTheOpenDatabasesInOrder) {
    EXPECT_EQ(ErrorOf([&] { DBEngine().Workspaces(1); }), 3265);
    Database a = ws.OpenDatabase(file);
    Database b = ws.OpenDatabase("C:\\qv\\other.mdb");
    {
        Database gone = ws.OpenDatabase(file);
    }
    ASSERT_EQ(ws.DatabasesCount(), 2);
    EXPECT_EQ(ws.Databases(1).Name(), "C:\\qv\\other.mdb");
    a.Close();
    EXPECT_EQ(ws.DatabasesCount(), 1);
    EXPECT_EQ(ws.Databases(0).Name(), "C:\\qv\\other.mdb");
    EXPECT_EQ(ErrorOf([&] { ws.Databases(1); }), 3265);
}

TEST_F(WorkspaceTest, ASecondOpenOfTheFileJoinsTheRunsTransaction) {
    for (bool commit : {false, true}) {
        ws.BeginTrans();
        Database db = ws.OpenDatabase(file);
        Recordset rs = db.OpenRecordset("select * from [tbl reading] where lockey = 1", dbOpenDynaset);
        rs.Edit();
        rs.Fields("code") = Variant("X");
        rs.Update();
        Audit("changed 1");  // would wait on the run's write lock if it had a connection of its own
        Database seen = ws.OpenDatabase(file, false, true);
        EXPECT_EQ(seen.OpenRecordset("LIDB", dbOpenSnapshot).RecordCount(), 1);
        rs.Close();
        db.Close();  // closed before the end: the transaction still ends as told
        if (commit) ws.CommitTrans();
        else ws.Rollback();
        seen.Close();
        EXPECT_FALSE(ws.InTransaction());
        EXPECT_EQ(Lidb(), commit ? "1" : "0");
        EXPECT_EQ(Scalar(file, "select code from [tbl reading] where lockey = 1"), commit ? "X" : "W");
    }
}

TEST_F(WorkspaceTest, TransactionsNestAndSpanFiles) {
    Database data = ws.OpenDatabase(file);
    Database other = ws.OpenDatabase("C:\\qv\\other.mdb");
    ws.BeginTrans();
    data.Execute("delete from FRDLK where lockey = 1");
    ws.BeginTrans();
    other.Execute("insert into t (x) values (1)");
    data.Execute("delete from FRDLK");
    ws.Rollback();
    EXPECT_EQ(data.OpenRecordset("FRDLK", dbOpenSnapshot).RecordCount(), 4);
    other.Execute("insert into t (x) values (2)");
    ws.CommitTrans();
    EXPECT_EQ(Scalar("C:\\qv\\other.mdb", "select group_concat(x) from t"), "2");
    EXPECT_EQ(Scalar(file, "select count(*) from FRDLK"), "4");
    EXPECT_EQ(ErrorOf([&] { ws.CommitTrans(); }), 3034);
    EXPECT_EQ(ErrorOf([&] { ws.Rollback(); }), 3034);
}

TEST_F(WorkspaceTest, WithoutATransactionEveryChangeIsSavedAtOnce) {
    Database db = ws.OpenDatabase(file);
    Recordset rs = db.OpenRecordset("FRDLK", dbOpenDynaset);
    rs.Edit();
    rs.Fields("accno") = Variant("saved");
    rs.Update();
    Audit("one");
    EXPECT_EQ(Scalar(file, "select count(*) from FRDLK where accno = 'saved'"), "1");
    EXPECT_EQ(Lidb(), "1");
}

}  // namespace daotest
