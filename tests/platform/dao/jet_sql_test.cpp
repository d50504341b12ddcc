// The Jet SQL the tools write, run on SQLite files.
#include "dao_fixture.h"

namespace daotest {

class JetSqlTest : public DaoTest {
protected:
    const std::string file = "C:\\data\\billing.mdb";
    Database db;
    void SetUp() override {
        MakeData(file);
        Make("C:\\users\\public\\qv32tempdata\\tempdataDTC.mdb",
             {"create table selectionsetDTC (lockey INTEGER, accno TEXT)",
              "insert into selectionsetDTC values (5, 'A-5'), (9, 'O''Brien')"});
        db = DBEngine().OpenDatabase(file);
    }
    std::int64_t Count(const std::string &sql) {
        Recordset rs = db.OpenRecordset(sql, dbOpenSnapshot);
        if (rs.RecordCount() > 0) rs.MoveLast();
        return rs.RecordCount();
    }
};

TEST_F(JetSqlTest, TheToolsStatementsRun) {
    Recordset codes = db.OpenRecordset("select distinct code from [tbl reading] order by code", dbOpenSnapshot);
    ASSERT_EQ(codes.RecordCount(), 2);
    EXPECT_EQ(codes.Fields("code").Value().ToText(), "E");
    codes.MoveNext();
    EXPECT_EQ(codes.Fields("code").Value().ToText(), "W");
    // The distinct rows are sorted after they are found: the columns keep their names and kinds.
    Recordset pairs = db.OpenRecordset("select distinct [billdate], code from [tbl reading] order by code desc, "
                                       "billdate", dbOpenSnapshot);
    EXPECT_EQ(pairs.Fields("billdate").Value(), Variant(platform::MakeDateTime(2021, 5, 1)));
    EXPECT_EQ(pairs.Fields("code").Value().ToText(), "W");

    db.Execute("DROP TABLE FRDLK");
    db.Execute("create table FRDLK (lockey long, accno text)");
    EXPECT_EQ(Scalar(file, "select group_concat(name || ':' || type) from pragma_table_info('FRDLK')"),
              "lockey:INTEGER,accno:TEXT");
    db.Execute("insert into FRDLK (lockey, accno) values (17,'A-17')");
    db.Execute("insert into FRDLK (lockey, accno) values (1,'O''Hara')");
    db.Execute("insert into FRDLK (lockey, accno) values (5,'A-5')");
    EXPECT_EQ(Scalar(file, "select accno from FRDLK where lockey = 1"), "O'Hara");
    EXPECT_EQ(Scalar(file, "select typeof(lockey) from FRDLK where lockey = 17"), "integer");

    Database temp = DBEngine().OpenDatabase("C:\\users\\public\\qv32tempdata\\tempdataDTC.mdb");
    EXPECT_EQ(temp.OpenRecordset("select lockey, accno from selectionsetDTC", dbOpenSnapshot).RecordCount(), 2);

    Recordset lock = db.OpenRecordset("select * from frdlk order by lockey", dbOpenSnapshot);
    EXPECT_EQ(lock.Fields("lockey").Value().ToLong(), 1);

    EXPECT_EQ(Count("select * from [tbl reading] where billdate = #5/1/2021# and code = 'W' and lockey in "
                    "(select lockey from FRDLK)"), 3);  // 1, 5 and 17: odd lockeys have code W
    EXPECT_EQ(Count("select * from [tbl reading] where (billdate = #5/1/2021#) and (code = 'E') and "
                    "(lockey in (select lockey from FRDLK))"), 0);
    EXPECT_EQ(Count("select * from [tbl reading] where billdate = #5/1/2021# and readdate = #4/28/2021# and "
                    "lockey in (select lockey from FRDLK)"), 2);
    EXPECT_EQ(Count("select * from [tbl reading] where readdate = #4/29/2021 10:15:00 AM#"), 15);

    db.Execute("insert into LIDB (When, ByWhom, What) values ('a','b','c')");
    EXPECT_EQ(Scalar(file, "select \"When\" || ByWhom || What from LIDB"), "abc");

    Make("C:\\qv\\global.mdb", {"create table current (databasepath TEXT, DatabaseFileName TEXT)",
                                "insert into current values ('C:\\data', 'billing.mdb')"});
    Recordset current = DBEngine().OpenDatabase("C:\\qv\\global.mdb").OpenRecordset("current", dbOpenSnapshot);
    EXPECT_EQ(current.Fields("DatabaseFileName").Value().ToText(), "billing.mdb");
}

TEST_F(JetSqlTest, DatesAreStoredAsStorageTextAndCompareWithLiterals) {
    db.Execute("create table d (id long, [when stamp] datetime, note text)");
    db.Execute("insert into d (id, [when stamp], note) values (1, #5/1/2021#, 'midnight')");
    db.Execute("insert into d (id, [when stamp], note) values (2, #5/1/2021 1:02:03 PM#, 'afternoon')");
    EXPECT_EQ(Scalar(file, "select group_concat(\"when stamp\", '|') from d"), "2021-05-01|2021-05-01 13:02:03");
    EXPECT_EQ(Count("select * from d where [when stamp] > #5/1/2021#"), 1);
    EXPECT_EQ(Count("select * from d where [when stamp] = #05/01/2021 13:02:03#"), 1);

    Recordset rs = db.OpenRecordset("select * from d order by id", dbOpenSnapshot);
    ASSERT_EQ(rs.Fields("when stamp").Value().kind(), Variant::Kind::Date);
    EXPECT_EQ(rs.Fields("when stamp").Value().ToDate(), platform::MakeDateTime(2021, 5, 1));
    rs.MoveNext();
    EXPECT_EQ(rs.Fields("when stamp").Value().ToDate(), platform::MakeDateTime(2021, 5, 1, 13, 2, 3));
    EXPECT_EQ(rs.Fields("note").Value().kind(), Variant::Kind::Text);
}

TEST_F(JetSqlTest, TextComparesExactlyAndLikeUsesJetWildcards) {
    EXPECT_EQ(Count("select * from [tbl reading] where code = 'W'"), 10);
    EXPECT_EQ(Count("select * from [tbl reading] where code = 'w'"), 0);
    EXPECT_EQ(Count("select * from [tbl reading] where code like 'W*'"), 10);
    EXPECT_EQ(Count("select * from [tbl reading] where code = \"E\""), 10);
    EXPECT_EQ(Count("select * from [tbl reading] where code = 'it''s'"), 0);
    EXPECT_EQ(Count("select code & '-' & lockey as k from [tbl reading] where code & lockey = 'W1'"), 1);
}

TEST_F(JetSqlTest, FailuresCarryJetNumbers) {
    EXPECT_EQ(DescriptionOf([&] { db.Execute("drop table nosuch"); }),
              platform::ErrorDescription(3078, "nosuch"));
    EXPECT_EQ(ErrorOf([&] { db.OpenRecordset("select * from [tbl readings]", dbOpenSnapshot); }), 3078);
    EXPECT_EQ(ErrorOf([&] { db.OpenRecordset("no such table", dbOpenSnapshot); }), 3078);
    EXPECT_EQ(DescriptionOf([&] { db.OpenRecordset("select * from FRDLK where nosuch = 1", dbOpenSnapshot); }),
              "Too few parameters. Expected 1.");
    EXPECT_EQ(ErrorOf([&] { db.OpenRecordset("select [no such] from FRDLK", dbOpenDynaset); }), 3061);
    EXPECT_EQ(ErrorOf([&] { db.Execute("insert into FRDLK (lockey, nosuch) values (1, 2)"); }), 3265);
    EXPECT_EQ(DescriptionOf([&] { db.Execute("selec * from FRDLK"); }),
              "Syntax error in query expression 'selec * from FRDLK'.");
    EXPECT_EQ(ErrorOf([&] { db.Execute("select * from FRDLK where lockey = 'open"); }), 3075);
    EXPECT_EQ(ErrorOf([&] { db.Execute("select * from FRDLK where lockey = #13/45/2021#"); }), 3075);
    EXPECT_EQ(ErrorOf([&] { db.Execute("create table FRDLK (x long)"); }), 3010);
    EXPECT_EQ(ErrorOf([&] { db.Execute("select * from FRDLK"); }), 3065);
    EXPECT_EQ(ErrorOf([&] { db.Execute("delete from FRDLK; delete from LIDB"); }), 3142);
    EXPECT_EQ(Scalar(file, "select count(*) from FRDLK"), "5");
}

TEST_F(JetSqlTest, ManyDistinctInsertsShareOneStatement) {
    DBEngine().Workspaces(0).BeginTrans();
    for (int i = 0; i < 2000; ++i)
        db.Execute("insert into FRDLK (lockey, accno) values (" + std::to_string(100 + i) + ",'acc " +
                   std::to_string(i) + "')");
    EXPECT_EQ(db.RecordsAffected(), 1);
    DBEngine().Workspaces(0).CommitTrans();
    EXPECT_EQ(Scalar(file, "select count(*) from FRDLK where accno like 'acc %'"), "2000");
    EXPECT_EQ(Scalar(file, "select accno from FRDLK where lockey = 2099"), "acc 1999");
    db.Execute("update FRDLK set accno = 'x' where lockey >= 100");
    EXPECT_EQ(db.RecordsAffected(), 2000);
}

}  // namespace daotest
