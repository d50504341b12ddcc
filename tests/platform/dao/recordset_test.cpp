// Recordsets: movement, counts, positions, fields and values, stability and closing.
#include "dao_fixture.h"

namespace daotest {

class RecordsetTest : public DaoTest {
protected:
    Database db;
    void SetUp() override {
        MakeData();
        db = DBEngine().OpenDatabase("C:\\data\\billing.mdb");
    }
};

TEST_F(RecordsetTest, MovementWalksEveryRecordAndStopsAtTheEnds) {
    for (RecordsetType type : {dbOpenSnapshot, dbOpenDynaset}) {
        Recordset rs = db.OpenRecordset("select lockey from [tbl reading] where code = 'W' order by lockey", type);
        EXPECT_GT(rs.RecordCount(), 0);
        EXPECT_FALSE(rs.Bof());
        std::vector<std::int64_t> seen;
        for (; !rs.Eof(); rs.MoveNext()) seen.push_back(rs.Fields("lockey").Value().ToLong());
        EXPECT_EQ(seen, (std::vector<std::int64_t>{1, 3, 5, 7, 9, 11, 13, 15, 17, 19}));
        EXPECT_EQ(ErrorOf([&] { rs.MoveNext(); }), 3021);
        EXPECT_EQ(ErrorOf([&] { rs.Fields("lockey").Value(); }), 3021);
        EXPECT_EQ(rs.AbsolutePosition(), -1);

        rs.MoveLast();
        EXPECT_EQ(rs.RecordCount(), 10);
        EXPECT_EQ(rs.AbsolutePosition(), 9);
        rs.MovePrevious();
        EXPECT_EQ(rs.Fields("LOCKEY").Value().ToLong(), 17);
        rs.MoveFirst();
        rs.MovePrevious();
        EXPECT_TRUE(rs.Bof());
        EXPECT_EQ(ErrorOf([&] { rs.MovePrevious(); }), 3021);

        rs.SetAbsolutePosition(4);
        EXPECT_EQ(rs.Fields("lockey").Value().ToLong(), 9);
        EXPECT_EQ(ErrorOf([&] { rs.SetAbsolutePosition(10); }), 3021);
        EXPECT_EQ(ErrorOf([&] { rs.SetAbsolutePosition(-1); }), 3021);
        EXPECT_EQ(rs.Fields("lockey").Value().ToLong(), 9);
        EXPECT_EQ(ErrorOf([&] { rs.Fields("nosuch"); }), 3265);
    }
}

TEST_F(RecordsetTest, AnEmptyRecordsetIsAtBothEnds) {
    Recordset rs = db.OpenRecordset("select * from FRDLK where lockey = 0", dbOpenSnapshot);
    EXPECT_EQ(rs.RecordCount(), 0);
    EXPECT_TRUE(rs.Eof());
    EXPECT_TRUE(rs.Bof());
    EXPECT_EQ(ErrorOf([&] { rs.MoveLast(); }), 3021);
    EXPECT_EQ(ErrorOf([&] { rs.MoveFirst(); }), 3021);
}

TEST_F(RecordsetTest, FieldsReadAsTheirKinds) {
    db.Execute("insert into FRDLK (lockey, accno) values (99, null)");
    Recordset rs = db.OpenRecordset("select r.lockey, r.usage, r.billdate, r.code, f.accno, r.lockey * 2 as twice "
                                    "from [tbl reading] r, FRDLK f where f.lockey = 99 and r.lockey = 3",
                                    dbOpenSnapshot);
    ASSERT_EQ(rs.FieldCount(), 6);
    EXPECT_EQ(rs.FieldName(5), "twice");
    EXPECT_EQ(rs.Fields("lockey").Value(), Variant(3));
    EXPECT_EQ(rs.Fields("usage").Value(), Variant(3.5));
    EXPECT_EQ(rs.Fields("billdate").Value(), Variant(platform::MakeDateTime(2021, 5, 1)));
    EXPECT_EQ(rs.Fields("code").Value(), Variant("W"));
    EXPECT_EQ(rs.Fields("twice").Value(), Variant(6));
    EXPECT_TRUE(rs.Fields("accno").Value().IsNull());
    EXPECT_EQ(ErrorOf([&] { rs.Fields("accno").Value().ToText(); }), 94);
}

TEST_F(RecordsetTest, SnapshotIsStableWhileADynasetShowsSavedChanges) {
    Recordset snap = db.OpenRecordset("select * from FRDLK order by lockey", dbOpenSnapshot);
    Recordset dyn = db.OpenRecordset("select * from FRDLK order by lockey", dbOpenDynaset);
    db.Execute("update FRDLK set accno = 'changed'");
    db.Execute("insert into FRDLK (lockey, accno) values (0, 'new')");
    EXPECT_EQ(snap.RecordCount(), 5);
    EXPECT_EQ(snap.Fields("accno").Value().ToText(), "A-1");
    EXPECT_EQ(dyn.Fields("accno").Value().ToText(), "changed");
    EXPECT_EQ(dyn.RecordCount(), 5);  // its membership was fixed when it opened

    db.Execute("delete from FRDLK where lockey = 5");
    dyn.MoveNext();
    EXPECT_EQ(ErrorOf([&] { dyn.Fields("accno").Value(); }), 3167);
}

// Counted before any field is read, a long snapshot still gives the rows of its opening, and holds
// no lock that another connection's write of the file waits for.
TEST_F(RecordsetTest, ACountedSnapshotKeepsItsRowsWhileAnotherConnectionWrites) {
    Scalar("C:\\data\\billing.mdb", "with recursive n(i) as (select 1 union all select i + 1 from n where i < 400) "
                                    "insert into FRDLK select 100 + i, 'B' from n");
    Recordset snap = db.OpenRecordset("select * from FRDLK order by lockey", dbOpenSnapshot);
    snap.MoveLast();
    ASSERT_EQ(snap.RecordCount(), 405);
    DBEngine().OpenDatabase("C:\\data\\billing.mdb").Execute("delete from FRDLK where lockey > 1");
    std::int64_t rows = 0;
    for (snap.MoveFirst(); !snap.Eof(); snap.MoveNext()) rows += snap.Fields("lockey").Value().ToLong() > 1;
    EXPECT_EQ(rows, 404);
    EXPECT_EQ(Scalar("C:\\data\\billing.mdb", "select count(*) from FRDLK"), "1");
}

TEST_F(RecordsetTest, ClosingTheDatabaseClosesItsRecordsets) {
    Recordset rs = db.OpenRecordset("FRDLK", dbOpenSnapshot);
    Recordset other = db.OpenRecordset("select * from FRDLK", dbOpenDynaset);
    other.Close();
    EXPECT_EQ(ErrorOf([&] { other.MoveNext(); }), 3420);
    db.Close();
    EXPECT_EQ(ErrorOf([&] { rs.RecordCount(); }), 3420);
    EXPECT_EQ(ErrorOf([&] { db.Execute("delete from FRDLK"); }), 3420);
    EXPECT_EQ(ErrorOf([&] { Recordset().MoveNext(); }), 91);
    EXPECT_EQ(Scalar("C:\\data\\billing.mdb", "select count(*) from FRDLK"), "5");
}

}  // namespace daotest
