// The database engine on real SQLite files in temporary folders mapped as drive C: opening and
// refusals, recordsets, updates, FindFirst, Jet SQL, transactions, shared insert statements.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/safe_file.h"
#include "qvsample/sql_file.h"
#include "qvsample/temp_drive.h"
#include "support/child.h"
#include "support/error_number.h"

namespace daotest {

using namespace platform::dao;

class DaoTest : public ::testing::Test {
protected:
    qvtest::TempDrives drives{"C"};

    std::filesystem::path Linux(const std::string &windowsPath) const { return drives.linux(windowsPath); }

    // Creates the database file with the given statements run by raw SQLite.
    void Make(const std::string &windowsPath, const std::vector<std::string> &sql) {
        std::filesystem::create_directories(Linux(windowsPath).parent_path());
        qvtest::SqlFile f(Linux(windowsPath));
        f.exec("begin");
        for (const auto &s : sql) f.exec(s);
        f.exec("commit");
    }

    // The standard data database: tbl reading (20 rows) and FRDLK.
    void MakeData(const std::string &windowsPath = "C:\\data\\billing.mdb") {
        std::vector<std::string> sql = {
            "create table [tbl reading] (lockey INTEGER, code TEXT, billdate DATETIME, readdate DATETIME, usage REAL)",
            "create table FRDLK (lockey INTEGER, accno TEXT)",
            "create table LIDB (\"When\" TEXT, ByWhom TEXT, What TEXT)"};
        for (int i = 1; i <= 20; ++i) {
            const std::string code = i % 2 ? "W" : "E";
            const std::string read = i <= 5 ? "2021-04-28" : "2021-04-29 10:15:00";
            sql.push_back("insert into [tbl reading] values (" + std::to_string(i) + ",'" + code + "','2021-05-01','" +
                          read + "'," + std::to_string(i) + ".5)");
            if (i % 4 == 1) sql.push_back("insert into FRDLK values (" + std::to_string(i) + ",'A-" + std::to_string(i) + "')");
        }
        Make(windowsPath, sql);
    }

    std::string Scalar(const std::string &windowsPath, const std::string &sql) { return qvtest::SqlFile(Linux(windowsPath)).scalar(sql); }

    void TearDown() override {
        Workspace &ws = DBEngine().Workspaces(0);
        while (ws.InTransaction()) ws.Rollback();
        for (int i = ws.DatabasesCount() - 1; i >= 0; --i) ws.Databases(i).Close();
    }
};

using qvtest::ErrorNumber;

using qvtest::ErrorText;
namespace fs = std::filesystem;

using OpenTest = DaoTest;

// Empty, foreign and cut files are refused by the same open in the restore tests (DbFile, RacRestore).
TEST_F(OpenTest, AMissingFileFailsWithItsNumberAndCreatesNothing) {
    const std::string missing = "C:\\data\\none.mdb";
    fs::create_directories(Linux("C:\\data"));
    EXPECT_EQ(ErrorText([&] { DBEngine().OpenDatabase(missing); }), "3024 Could not find file 'C:\\data\\none.mdb'.");
    EXPECT_FALSE(fs::exists(Linux(missing)));
    EXPECT_FALSE(fs::exists(Linux("C:\\data\\none.ldb")));
    EXPECT_EQ(DBEngine().Workspaces(0).DatabasesCount(), 0);
}

TEST_F(OpenTest, PasswordIsNeededExactlyWhenTheDatabaseHasOne) {
    Make("C:\\qv\\global.mdb", {"create table current (databasepath TEXT)"});
    qvtest::SqlFile(Linux("C:\\qv\\global.mdb")).setPassword("tovan58");
    Make("C:\\qv\\plain.mdb", {"create table t (x INTEGER)"});
    const std::string global = "C:\\qv\\global.mdb";
    for (const auto &[file, connect, error] : std::vector<std::tuple<std::string, std::string, int>>{
             {global, "", 3031}, {global, ";pwd=wrong", 3031}, {global, ";pwd=TOVAN58", 3031}, {global, ";PWD=tovan58", 0},
             {global, "ODBC;Pwd=tovan58", 0}, {"C:\\qv\\plain.mdb", "", 0}, {"C:\\qv\\plain.mdb", ";pwd=x", 0}})
        EXPECT_EQ(ErrorNumber([&] { DBEngine().OpenDatabase(file, false, true, connect).Close(); }), error) << connect;
}

TEST_F(OpenTest, ReadOnlyOpenLeavesTheFileUntouchedAndRefusesWrites) {
    MakeData();
    const fs::path file = Linux("C:\\data\\billing.mdb");
    const std::string before = qvtest::ReadFile(file);
    const auto mtime = fs::last_write_time(file);

    Database db = DBEngine().OpenDatabase("c:\\DATA\\Billing.MDB", true, true);
    Recordset rs = db.OpenRecordset("select * from [tbl reading]", dbOpenDynaset);
    EXPECT_EQ(rs.RecordCount(), 20);
    EXPECT_EQ(ErrorNumber([&] { rs.Edit(); }), 3027);
    EXPECT_EQ(ErrorNumber([&] { db.Execute("delete from FRDLK"); }), 3027);
    db.Close();

    EXPECT_EQ(qvtest::ReadFile(file), before);
    EXPECT_EQ(fs::last_write_time(file), mtime);
    EXPECT_FALSE(fs::exists(Linux("C:\\data\\billing.ldb")));
}

// Each open takes a lock of its own on the .ldb, so a second open in this process meets the first as
// another program's would (the settings database held by another program is refused end to end,
// StartupE2E).
TEST_F(OpenTest, ExclusiveAndSharedOpensConflictUntilClosed) {
    MakeData();
    const std::string name = "C:\\data\\billing.mdb";
    auto opened = [&](bool exclusive, bool readOnly = false) {
        return ErrorNumber([&] { DBEngine().OpenDatabase(name, exclusive, readOnly).Close(); });
    };
    Database exclusive = DBEngine().OpenDatabase(name, true);
    EXPECT_EQ(ErrorText([&] { DBEngine().OpenDatabase(name); }),
              "3045 Could not use 'C:\\data\\billing.mdb'; file already in use.");
    EXPECT_EQ(opened(false, true), 3045);
    exclusive.Close();

    Database shared = DBEngine().OpenDatabase(name);
    EXPECT_EQ(opened(false), 0);
    EXPECT_EQ(opened(true), 3045);
    shared.Close();
    qvtest::Child killed([&] {  // ends with the database open, as a killed program does
        Database db = DBEngine().OpenDatabase(name, true);
        ::_exit(0);
        return 1;
    });
    EXPECT_EQ(killed.Wait(), 0);
    EXPECT_TRUE(fs::exists(Linux("C:\\data\\billing.ldb")));  // the .ldb stays until the next open
    EXPECT_EQ(opened(true), 0);
    EXPECT_FALSE(fs::exists(Linux("C:\\data\\billing.ldb")));
}

// Two logins opening and closing at once are never refused, and whoever has the database open holds
// the .ldb that its name names (an exclusive lock of that file is refused); the last removes it. The
// second is another login where the test runs as root: no open meets a lock file not yet given the
// folder's access.
TEST_F(OpenTest, TwoProcessesOpeningAtOnceKeepTheirLockAndLeaveNoLockFile) {
    MakeData();
    const fs::path ldb = Linux("C:\\data\\billing.ldb");
    for (const fs::path &folder : {drives.root(), ldb.parent_path().parent_path(), ldb.parent_path()})
        fs::permissions(folder, fs::perms(folder == ldb.parent_path() ? 0777 : 0755));
    std::vector<std::unique_ptr<qvtest::Child>> logins;
    for (int login = 0; login < 2; ++login)
        logins.push_back(std::make_unique<qvtest::Child>([&, login] {
            if (login == 1 && ::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 98;
            for (int i = 0; i < 1000; ++i) {
                Database db = DBEngine().OpenDatabase("C:\\data\\billing.mdb", false, true);
                const platform::Fd probe(::open(ldb.c_str(), O_RDONLY));
                const bool lost = !probe || ::flock(probe.get(), LOCK_EX | LOCK_NB) == 0;
                db.Close();
                if (lost) return 2;
            }
            return 0;
        }));
    for (auto &login : logins) EXPECT_EQ(login->Wait(), 0);
    EXPECT_FALSE(fs::exists(ldb));
}

// The standard data database, open.
class RecordsetTest : public DaoTest {
protected:
    const std::string file = "C:\\data\\billing.mdb";
    Database db;
    void SetUp() override {
        MakeData(file);
        db = DBEngine().OpenDatabase(file);
    }
};

TEST_F(RecordsetTest, MovementWalksEveryRecordAndStopsAtTheEnds) {
    for (RecordsetType type : {dbOpenSnapshot, dbOpenDynaset}) {
        Recordset rs = db.OpenRecordset("select lockey from [tbl reading] where code = 'W' order by lockey", type);
        EXPECT_GT(rs.RecordCount(), 0);
        std::vector<std::int64_t> seen;
        for (; !rs.Eof(); rs.MoveNext()) seen.push_back(rs.Fields("lockey").Value().ToLong());
        EXPECT_EQ(seen, (std::vector<std::int64_t>{1, 3, 5, 7, 9, 11, 13, 15, 17, 19}));
        EXPECT_EQ(ErrorNumber([&] { rs.MoveNext(); }), 3021);
        EXPECT_EQ(ErrorNumber([&] { rs.Fields("lockey").Value(); }), 3021);

        rs.MoveLast();
        EXPECT_EQ(rs.RecordCount(), 10);
        EXPECT_EQ(rs.Fields("LOCKEY").Value().ToLong(), 19);

        rs.SetAbsolutePosition(4);
        EXPECT_EQ(rs.Fields("lockey").Value().ToLong(), 9);
        EXPECT_EQ(ErrorNumber([&] { rs.SetAbsolutePosition(10); }), 3021);
        EXPECT_EQ(ErrorNumber([&] { rs.SetAbsolutePosition(-1); }), 3021);
        EXPECT_EQ(rs.Fields("lockey").Value().ToLong(), 9);
        EXPECT_EQ(ErrorNumber([&] { rs.Fields("nosuch"); }), 3265);
    }
}

TEST_F(RecordsetTest, FieldsReadAsTheirKinds) {
    db.Execute("insert into FRDLK (lockey, accno) values (99, null)");
    Recordset rs = db.OpenRecordset("select r.lockey, r.usage, r.billdate, r.code, f.accno, r.lockey * 2 as twice "
                                    "from [tbl reading] r, FRDLK f where f.lockey = 99 and r.lockey = 3",
                                    dbOpenSnapshot);
    EXPECT_EQ(rs.Fields("lockey").Value(), Variant(3));
    EXPECT_EQ(rs.Fields("usage").Value(), Variant(3.5));
    EXPECT_EQ(rs.Fields("billdate").Value(), Variant(platform::MakeDateTime(2021, 5, 1)));
    EXPECT_EQ(rs.Fields("code").Value(), Variant("W"));
    EXPECT_EQ(rs.Fields("twice").Value(), Variant(6));
    EXPECT_TRUE(rs.Fields("accno").Value().IsNull());
    EXPECT_EQ(ErrorNumber([&] { rs.Fields("accno").Value().ToText(); }), 94);
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
    EXPECT_EQ(ErrorNumber([&] { dyn.Fields("accno").Value(); }), 3167);
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
    EXPECT_EQ(ErrorNumber([&] { other.MoveNext(); }), 3420);
    db.Close();
    EXPECT_EQ(ErrorNumber([&] { rs.RecordCount(); }), 3420);
    EXPECT_EQ(ErrorNumber([&] { db.Execute("delete from FRDLK"); }), 3420);
    EXPECT_EQ(ErrorNumber([&] { Recordset().MoveNext(); }), 91);
    EXPECT_EQ(Scalar("C:\\data\\billing.mdb", "select count(*) from FRDLK"), "5");
}

using DynasetTest = RecordsetTest;

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
    EXPECT_EQ(ErrorNumber([&] { rs.Update(); }), 3020);
    EXPECT_EQ(ErrorNumber([&] { rs.Fields("accno") = Variant("x"); }), 3020);
    EXPECT_EQ(Scalar(file, "select count(*) from FRDLK where accno = 'lost'"), "0");
}

// The tools add records only through an append-only dynaset (the record of runs): no record of the table is
// read or kept, the added ones included.
TEST_F(DynasetTest, AppendOnlyAddsAndReadsNothing) {
    Recordset adding = db.OpenRecordset("FRDLK", dbOpenDynaset, dbAppendOnly);
    EXPECT_EQ(adding.RecordCount(), 0);
    adding.AddNew();
    adding.Fields("lockey") = Variant(43);
    adding.Update();
    EXPECT_EQ(adding.RecordCount(), 0);
    EXPECT_EQ(Scalar(file, "select count(*) from FRDLK where lockey = 43"), "1");
    EXPECT_EQ(ErrorNumber([&] { db.OpenRecordset("FRDLK", dbOpenSnapshot, dbAppendOnly); }), 3001);
}

// The tools find by a lockey on a snapshot of FRDLK (the run); no tool writes other criteria.
TEST_F(RecordsetTest, FindFirstByEqualityFindsTheFirstMatchingRecord) {
    db.Execute("insert into FRDLK (lockey, accno) values (9, 'second nine')");
    Recordset rs = db.OpenRecordset("select * from frdlk order by lockey, accno", dbOpenSnapshot);
    rs.FindFirst("lockey = 13");
    ASSERT_FALSE(rs.NoMatch());
    EXPECT_EQ(rs.Fields("accno").Value().ToText(), "A-13");
    rs.FindFirst("lockey = 9");  // the first of two records
    EXPECT_EQ(rs.Fields("accno").Value().ToText(), "A-9");
    rs.FindFirst("lockey = 77");
    EXPECT_TRUE(rs.NoMatch());
    EXPECT_EQ(rs.Fields("accno").Value().ToText(), "A-9");  // stays where it stood
    rs.FindFirst("lockey = 2");
    EXPECT_TRUE(rs.NoMatch());
}

class JetSqlTest : public RecordsetTest {
protected:
    std::int64_t Count(const std::string &sql) {
        Recordset rs = db.OpenRecordset(sql, dbOpenSnapshot);
        if (rs.RecordCount() > 0) rs.MoveLast();
        return rs.RecordCount();
    }
};

// The tools' own statements run in their tests (the code list, FRDLK, the counts and the run); these are
// the translations they rest on.
TEST_F(JetSqlTest, TheToolsStatementsRun) {
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
    EXPECT_EQ(Scalar(file, "select typeof(lockey) from FRDLK where lockey = 17"), "integer");

    EXPECT_EQ(Count("select * from [tbl reading] where billdate = #5/1/2021# and readdate = #4/28/2021#"), 5);
    EXPECT_EQ(Count("select * from [tbl reading] where readdate = #4/29/2021 10:15:00 AM#"), 15);
}

TEST_F(JetSqlTest, DatesAreStoredAsStorageTextAndCompareWithLiterals) {
    db.Execute("create table d (id long, [when stamp] datetime, note text, Group text)");  // a keyword as a name
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

TEST_F(JetSqlTest, FailuresCarryJetNumbers) {
    EXPECT_EQ(ErrorText([&] { db.Execute("drop table nosuch"); }), "3078 " + platform::ErrorDescription(3078, "nosuch"));
    EXPECT_EQ(ErrorNumber([&] { db.OpenRecordset("select * from [tbl readings]", dbOpenSnapshot); }), 3078);
    EXPECT_EQ(ErrorNumber([&] { db.OpenRecordset("no such table", dbOpenSnapshot); }), 3078);
    EXPECT_EQ(ErrorText([&] { db.OpenRecordset("select * from FRDLK where nosuch = 1", dbOpenSnapshot); }),
              "3061 Too few parameters. Expected 1.");
    EXPECT_EQ(ErrorNumber([&] { db.OpenRecordset("select [no such] from FRDLK", dbOpenDynaset); }), 3061);
    EXPECT_EQ(ErrorNumber([&] { db.Execute("insert into FRDLK (lockey, nosuch) values (1, 2)"); }), 3265);
    EXPECT_EQ(ErrorText([&] { db.Execute("selec * from FRDLK"); }),
              "3075 Syntax error in query expression 'selec * from FRDLK'.");
    EXPECT_EQ(ErrorNumber([&] { db.Execute("select * from FRDLK where lockey = 'open"); }), 3075);
    EXPECT_EQ(ErrorNumber([&] { db.Execute("select * from FRDLK where lockey = #13/45/2021#"); }), 3075);
    EXPECT_EQ(ErrorNumber([&] { db.Execute("create table FRDLK (x long)"); }), 3010);
    EXPECT_EQ(ErrorNumber([&] { db.Execute("select * from FRDLK"); }), 3065);
    EXPECT_EQ(ErrorNumber([&] { db.Execute("delete from FRDLK; delete from LIDB"); }), 3142);
    EXPECT_EQ(Scalar(file, "select count(*) from FRDLK"), "5");
}

class InsertShapeTest : public DaoTest {
protected:
    const std::string file = "C:\\data\\shapes.mdb";
    Database db;
    void SetUp() override {
        Make(file, {"create table src (lockey INTEGER, code TEXT)",
                    "insert into src values (1, 'W'), (2, 'E'), (3, 'W'), (4, 'E')"});
        db = DBEngine().OpenDatabase(file);
        db.Execute("create table v (id long, a text, n double)");
    }
    std::string Row(int id) {
        return Scalar(file, "select ifnull(a, 'null') || '|' || typeof(a) || '|' || ifnull(n, 'null') || '|' || "
                            "typeof(n) from v where id = " + std::to_string(id));
    }
};

// Inserts of one shape share one prepared statement: each writes its own values, literals outside a values
// list stay part of the statement, and an error is raised every time, the next statement unharmed.
TEST_F(InsertShapeTest, EachInsertOfOneShapeWritesItsOwnValuesAndRaisesItsOwnErrors) {
    const std::pair<std::string, std::string> rows[] = {
        {"'O''Hara', 2e3", "O'Hara|text|2000.0|real"},  // first of its shape: read by the full lexer
        {"'first', 1.5", "first|text|1.5|real"},
        {"'', .25", "|text|0.25|real"},
        {"\"say \"\"hi\"\"\", 7", "say \"hi\"|text|7.0|real"},
        {"'5', 8", "5|text|8.0|real"},  // a text that looks like a number
        {"5, '8'", "5|text|8.0|real"},  // and the other way round: column affinity, as for any insert
        {"'[x]', -3", "[x]|text|-3.0|real"},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i)
        db.Execute("insert into v (id, a, n) values (" + std::to_string(i + 1) + ", " + rows[i].first + ")");
    for (std::size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(Row(static_cast<int>(i + 1)), rows[i].second);
    EXPECT_EQ(db.RecordsAffected(), 1);

    db.Execute("insert into v (id, a) values (8, 'p'), (9, 'q')");
    db.Execute("insert into v (id, a) values (10, 'r'), (11, 's')");
    db.Execute("insert into v (id, a) select lockey + 11, 'W-code' from src where code = 'W' and lockey < 4");
    db.Execute("insert into v (id, a) select lockey + 11, 'E-code' from src where code = 'E' and lockey < 4");
    EXPECT_EQ(Scalar(file, "select group_concat(id || a, ',') from (select * from v where id >= 8 order by id)"),
              "8p,9q,10r,11s,12W-code,13E-code,14W-code");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ErrorNumber([&] { db.Execute("insert into v (id, a) values (1, 'open)"); }), 3075);
        EXPECT_EQ(ErrorNumber([&] { db.Execute("insert into nosuch (id) values (" + std::to_string(i) + ")"); }), 3078);
        EXPECT_EQ(ErrorNumber([&] { db.Execute("insert into v (id, a) values (1, #13/45/2021#)"); }), 3075);
    }
    db.Execute("update v set n = 0 where id >= 8");
    EXPECT_EQ(db.RecordsAffected(), 7);
}

// Rows the table refuses for their values are left out alone, from a statement of many rows and of one,
// when asked; otherwise the refusal is raised.
TEST_F(InsertShapeTest, BatchInsertLeavesOutOnlyTheRowsTheTableRefuses) {
    qvtest::SqlFile(Linux(file)).exec("create unique index vid on v (id)");
    BatchInsert rows(db, "v", {"id", "a"}, 4);
    rows.LeaveOutRefusedRows();
    for (int id : {1, 5, 2, 5, 3, 4, 5}) {
        rows.Set(0, Variant(id));
        rows.Set(1, Variant("r"));
        rows.AddRow();
    }
    rows.Flush();
    EXPECT_EQ(rows.Rows(), 5);
    EXPECT_EQ(Scalar(file, "select group_concat(id, ',') from (select id from v order by id)"), "1,2,3,4,5");
    BatchInsert strict(db, "v", {"id"}, 4);
    strict.Set(0, Variant(1));
    strict.AddRow();
    EXPECT_EQ(ErrorNumber([&] { strict.Flush(); }), 3022);
}

class WorkspaceTest : public DaoTest {
protected:
    const std::string file = "C:\\data\\billing.mdb";
    Workspace &ws = DBEngine().Workspaces(0);
    void SetUp() override {
        MakeData(file);
        Make("C:\\qv\\other.mdb", {"create table t (x INTEGER)"});
    }
};

// A rollback with a second open of the file is checked with the audit batch (AuditBatchTest) and the
// read-date run's failures; here the second open writes inside the run's transaction, and a database
// closed before the commit still has its changes committed.
TEST_F(WorkspaceTest, ASecondOpenOfTheFileJoinsTheRunsTransaction) {
    ws.BeginTrans();
    Database db = ws.OpenDatabase(file);
    Recordset rs = db.OpenRecordset("select * from [tbl reading] where lockey = 1", dbOpenDynaset);
    rs.Edit();
    rs.Fields("code") = Variant("X");
    rs.Update();
    // This would wait on the run's write lock if it had a connection of its own.
    DBEngine().OpenDatabase(file).Execute("insert into LIDB (When, ByWhom, What) values ('now','me','changed 1')");
    Database seen = ws.OpenDatabase(file, false, true);
    EXPECT_EQ(seen.OpenRecordset("LIDB", dbOpenSnapshot).RecordCount(), 1);
    rs.Close();
    db.Close();
    ws.CommitTrans();
    seen.Close();
    EXPECT_FALSE(ws.InTransaction());
    EXPECT_EQ(Scalar(file, "select count(*) || min(code) from LIDB, [tbl reading] where lockey = 1"), "1X");
}

// A Transaction left without Commit (an error on its way out) rolls back every file it spans. The tools
// never nest one in another.
TEST_F(WorkspaceTest, TransactionsSpanFilesAndRollBackWhenLeftUncommitted) {
    Database data = ws.OpenDatabase(file);
    Database other = ws.OpenDatabase("C:\\qv\\other.mdb");
    {
        Transaction kept(ws);
        data.Execute("delete from FRDLK where lockey = 1");
        other.Execute("insert into t (x) values (2)");
        kept.Commit();
    }
    EXPECT_EQ(ErrorNumber([&] {
                  Transaction dropped(ws);
                  other.Execute("insert into t (x) values (1)");
                  data.Execute("delete from FRDLK");
                  data.Execute("drop table nosuch");
              }),
              3078);
    EXPECT_EQ(Scalar("C:\\qv\\other.mdb", "select group_concat(x) from t"), "2");
    EXPECT_EQ(Scalar(file, "select count(*) from FRDLK"), "4");
    EXPECT_EQ(ErrorNumber([&] { ws.CommitTrans(); }), 3034);
    EXPECT_EQ(ErrorNumber([&] { ws.Rollback(); }), 3034);
}

TEST(VariantTest, ConversionsFollowVisualBasic) {
    EXPECT_EQ(Variant(17).ToText(), "17");
    EXPECT_EQ(Variant(2.5).ToText(), "2.5");
    EXPECT_EQ(Variant(1.0 / 3).ToText(), "0.333333333333333");
    EXPECT_EQ(Variant(platform::MakeDateTime(2021, 5, 1)).ToText(), "5/1/2021");
    EXPECT_EQ(Variant(2.5).ToLong(), 2);
    EXPECT_EQ(Variant(3.5).ToLong(), 4);
    EXPECT_EQ(Variant(" 42 ").ToLong(), 42);
    EXPECT_EQ(ErrorNumber([] { Variant("4x").ToLong(); }), 13);
    EXPECT_EQ(ErrorNumber([] { Variant(1e300).ToLong(); }), 6);
    EXPECT_EQ(ErrorNumber([] { Variant().ToLong(); }), 94);
    EXPECT_EQ(ErrorNumber([] { Variant().ToDate(); }), 94);
    EXPECT_EQ(Variant("2021-04-30 08:05:00").ToDate(), platform::MakeDateTime(2021, 4, 30, 8, 5, 0));
    EXPECT_EQ(Variant("5/1/2021").ToDate(), platform::MakeDateTime(2021, 5, 1));
    EXPECT_EQ(Variant(44317).ToDate(), platform::MakeDateTime(2021, 5, 1));
    EXPECT_EQ(Variant(platform::MakeDateTime(2021, 5, 1, 12)).ToDouble(), 44317.5);
    EXPECT_EQ(ErrorNumber([] { Variant("no date").ToDate(); }), 13);
}

}  // namespace daotest
