// Dynaset changes written at once, by rowid.
#include "dao_fixture.h"

namespace daotest {

class DynasetTest : public DaoTest {
protected:
    const std::string file = "C:\\data\\billing.mdb";
    Database db;
    void SetUp() override {
        MakeData(file);
        db = DBEngine().OpenDatabase(file);
    }
};

TEST_F(DynasetTest, EditUpdateSavesTheCurrentRecordAtOnce) {
    // Two records with equal values: only the row under the cursor may change.
    db.Execute("insert into [tbl reading] (lockey, code, billdate, readdate) values (3, 'W', #5/1/2021#, #4/28/2021#)");
    Recordset rs = db.OpenRecordset(
        "select * from [tbl reading] where billdate = #5/1/2021# and (code = 'W') and lockey = 3", dbOpenDynaset);
    ASSERT_EQ(rs.RecordCount(), 2);
    rs.SetAbsolutePosition(1);
    rs.Edit();
    rs.Fields("readdate") = Variant(platform::MakeDateTime(2021, 4, 30));
    EXPECT_EQ(rs.Fields("readdate").Value().ToDate(), platform::MakeDateTime(2021, 4, 30));
    rs.Update();
    EXPECT_EQ(Scalar(file, "select group_concat(readdate, '|') from (select readdate from [tbl reading] "
                           "where lockey = 3 order by rowid)"),
              "2021-04-28|2021-04-30");
    EXPECT_EQ(rs.Fields("readdate").Value(), Variant(platform::MakeDateTime(2021, 4, 30)));

    rs.MoveFirst();
    rs.Edit();
    rs.Fields("readdate") = Variant(platform::MakeDateTime(2021, 4, 30, 8, 5, 0));
    rs.Fields("usage") = Variant();
    rs.Update();
    EXPECT_EQ(Scalar(file, "select readdate || '/' || ifnull(usage, 'null') from [tbl reading] where lockey = 3 "
                           "order by rowid limit 1"),
              "2021-04-30 08:05:00/null");
}

TEST_F(DynasetTest, AnEditIsDroppedWhenTheRecordsetMovesOn) {
    Recordset rs = db.OpenRecordset("FRDLK", dbOpenDynaset);
    rs.Edit();
    rs.Fields("accno") = Variant("lost");
    rs.MoveNext();
    EXPECT_EQ(ErrorOf([&] { rs.Update(); }), 3020);
    EXPECT_EQ(ErrorOf([&] { rs.Fields("accno") = Variant("x"); }), 3020);
    EXPECT_EQ(Scalar(file, "select count(*) from FRDLK where accno = 'lost'"), "0");
}

TEST_F(DynasetTest, AddNewAndDelete) {
    Recordset rs = db.OpenRecordset("select lockey, accno from FRDLK order by lockey", dbOpenDynaset);
    rs.AddNew();
    rs.Fields("lockey") = Variant(42);
    rs.Fields("accno") = Variant("it's new");
    rs.Update();
    EXPECT_EQ(rs.RecordCount(), 6);
    EXPECT_EQ(rs.Fields("lockey").Value().ToLong(), 1);  // still on the record it stood on
    rs.MoveLast();
    EXPECT_EQ(rs.Fields("accno").Value().ToText(), "it's new");

    rs.MoveFirst();
    rs.Delete();
    EXPECT_EQ(ErrorOf([&] { rs.Fields("lockey").Value(); }), 3021);
    rs.MoveNext();
    EXPECT_EQ(rs.Fields("lockey").Value().ToLong(), 5);
    EXPECT_EQ(rs.RecordCount(), 5);
    EXPECT_EQ(Scalar(file, "select group_concat(lockey) from (select lockey from FRDLK order by lockey)"),
              "5,9,13,17,42");

    // Append-only: no record of the table is read or kept, the added ones included.
    Recordset adding = db.OpenRecordset("FRDLK", dbOpenDynaset, dbAppendOnly);
    EXPECT_EQ(adding.RecordCount(), 0);
    adding.AddNew();
    adding.Fields("lockey") = Variant(43);
    adding.Update();
    EXPECT_EQ(adding.RecordCount(), 0);
    EXPECT_EQ(Scalar(file, "select count(*) from FRDLK where lockey = 43"), "1");
    EXPECT_EQ(ErrorOf([&] { db.OpenRecordset("FRDLK", dbOpenSnapshot, dbAppendOnly); }), 3001);
}

TEST_F(DynasetTest, WhatCannotBeUpdatedIsRefused) {
    Recordset snap = db.OpenRecordset("FRDLK", dbOpenSnapshot);
    EXPECT_EQ(ErrorOf([&] { snap.Edit(); }), 3027);
    Recordset joined = db.OpenRecordset("select r.code, f.accno from [tbl reading] r, FRDLK f where r.lockey = f.lockey",
                                        dbOpenDynaset);
    EXPECT_EQ(joined.RecordCount(), 5);
    EXPECT_EQ(ErrorOf([&] { joined.Edit(); }), 3027);
    Recordset distinct = db.OpenRecordset("select distinct code from [tbl reading]", dbOpenDynaset);
    EXPECT_EQ(ErrorOf([&] { distinct.AddNew(); }), 3027);
    Recordset computed = db.OpenRecordset("select lockey, lockey + 1 as next from FRDLK", dbOpenDynaset);
    computed.Edit();
    EXPECT_EQ(ErrorOf([&] { computed.Fields("next") = Variant(3); }), 3164);
}

}  // namespace daotest
