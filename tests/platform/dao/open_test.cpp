// Opening files: failures, passwords, read-only opens and .ldb locks across processes.
#include <sys/wait.h>
#include <unistd.h>

#include "dao_fixture.h"

namespace daotest {
namespace fs = std::filesystem;

using OpenTest = DaoTest;

TEST_F(OpenTest, FilesThatAreNoDatabaseFailWithTheirNumberAndCreateNothing) {
    const std::string missing = "C:\\data\\none.mdb";
    fs::create_directories(Linux("C:\\data"));
    EXPECT_EQ(DescriptionOf([&] { DBEngine().OpenDatabase(missing); }), "Could not find file 'C:\\data\\none.mdb'.");
    EXPECT_FALSE(fs::exists(Linux(missing)));
    EXPECT_FALSE(fs::exists(Linux("C:\\data\\none.ldb")));

    qvtest::WriteFile(Linux("C:\\data\\text.mdb"), "just some words, not a database at all........................"
                                                   "................................................");
    qvtest::WriteFile(Linux("C:\\data\\empty.mdb"), "");
    for (const char *name : {"C:\\data\\text.mdb", "C:\\data\\empty.mdb"}) {
        EXPECT_EQ(ErrorOf([&] { DBEngine().OpenDatabase(name); }), 3343) << name;
        EXPECT_NE(DescriptionOf([&] { DBEngine().OpenDatabase(name); }).find(name), std::string::npos);
    }
    EXPECT_EQ(fs::file_size(Linux("C:\\data\\empty.mdb")), 0u);

    std::vector<std::string> rows = {"create table t (x TEXT)"};
    for (int i = 0; i < 300; ++i) rows.push_back("insert into t values ('" + std::string(200, 'x') + "')");
    Make("C:\\data\\cut.mdb", rows);
    fs::resize_file(Linux("C:\\data\\cut.mdb"), fs::file_size(Linux("C:\\data\\cut.mdb")) / 2);
    EXPECT_EQ(ErrorOf([&] { DBEngine().OpenDatabase("C:\\data\\cut.mdb"); }), 3343);

    EXPECT_EQ(ErrorOf([&] { DBEngine().OpenDatabase("Q:\\data\\billing.mdb"); }), 68);
    EXPECT_EQ(DBEngine().Workspaces(0).DatabasesCount(), 0);
}

TEST_F(OpenTest, PasswordIsNeededExactlyWhenTheDatabaseHasOne) {
    Make("C:\\qv\\global.mdb", {"create table current (databasepath TEXT)"});
    {
        qvtest::SqlFile f(Linux("C:\\qv\\global.mdb"));
        f.setPassword("tovan58");
    }
    Make("C:\\qv\\plain.mdb", {"create table t (x INTEGER)"});
    const std::string global = "C:\\qv\\global.mdb";
    EXPECT_EQ(ErrorOf([&] { DBEngine().OpenDatabase(global); }), 3031);
    EXPECT_EQ(ErrorOf([&] { DBEngine().OpenDatabase(global, false, false, ";pwd=wrong"); }), 3031);
    EXPECT_EQ(ErrorOf([&] { DBEngine().OpenDatabase(global, false, false, ";pwd=TOVAN58"); }), 3031);
    EXPECT_EQ(ErrorOf([&] { DBEngine().OpenDatabase(global, true, true, ";PWD=tovan58").Close(); }), 0);
    EXPECT_EQ(ErrorOf([&] { DBEngine().OpenDatabase(global, false, false, "ODBC;Pwd=tovan58").Close(); }), 0);
    EXPECT_EQ(ErrorOf([&] { DBEngine().OpenDatabase("C:\\qv\\plain.mdb").Close(); }), 0);
    EXPECT_EQ(ErrorOf([&] { DBEngine().OpenDatabase("C:\\qv\\plain.mdb", false, false, ";pwd=x").Close(); }), 0);
}

TEST_F(OpenTest, ReadOnlyOpenLeavesTheFileUntouchedAndRefusesWrites) {
    MakeData();
    const fs::path file = Linux("C:\\data\\billing.mdb");
    const std::string before = qvtest::ReadFile(file);
    const auto mtime = fs::last_write_time(file);

    Database db = DBEngine().OpenDatabase("c:\\DATA\\Billing.MDB", true, true);
    Recordset rs = db.OpenRecordset("select * from [tbl reading]", dbOpenDynaset);
    EXPECT_EQ(rs.RecordCount(), 20);
    EXPECT_EQ(ErrorOf([&] { rs.Edit(); }), 3027);
    EXPECT_EQ(ErrorOf([&] { db.Execute("delete from FRDLK"); }), 3027);
    db.Close();

    EXPECT_EQ(qvtest::ReadFile(file), before);
    EXPECT_EQ(fs::last_write_time(file), mtime);
    EXPECT_TRUE(fs::exists(Linux("C:\\data\\billing.ldb")));
}

// A child process opens the database as told and reports the error number it got; it keeps the
// database open until the parent writes to `release`.
struct Child {
    pid_t pid;
    int report;   // read end: one int, the child's error number
    int release;  // write end
};

Child OpenInChild(const std::string &name, bool exclusive) {
    int up[2], down[2];
    EXPECT_EQ(pipe(up), 0);
    EXPECT_EQ(pipe(down), 0);
    pid_t pid = fork();
    if (pid == 0) {
        Database db;
        int number = ErrorOf([&] { db = DBEngine().OpenDatabase(name, exclusive); });
        (void)!write(up[1], &number, sizeof number);
        char c;
        (void)!read(down[0], &c, 1);
        _exit(0);
    }
    close(up[1]);
    close(down[0]);
    return {pid, up[0], down[1]};
}

int Reported(const Child &c) {
    int number = -1;
    EXPECT_EQ(read(c.report, &number, sizeof number), static_cast<ssize_t>(sizeof number));
    return number;
}

void Finish(const Child &c) {
    (void)!write(c.release, "x", 1);
    int status = 0;
    waitpid(c.pid, &status, 0);
    close(c.report);
    close(c.release);
}

TEST_F(OpenTest, ExclusiveAndSharedOpensConflictAcrossProcessesUntilClosed) {
    MakeData();
    const std::string name = "C:\\data\\billing.mdb";

    Child exclusive = OpenInChild(name, true);
    ASSERT_EQ(Reported(exclusive), 0);
    EXPECT_EQ(DescriptionOf([&] { DBEngine().OpenDatabase(name); }),
              "Could not use 'C:\\data\\billing.mdb'; file already in use.");
    EXPECT_EQ(ErrorOf([&] { DBEngine().OpenDatabase(name, false, true); }), 3045);
    Finish(exclusive);
    EXPECT_EQ(ErrorOf([&] { DBEngine().OpenDatabase(name).Close(); }), 0);

    Database shared = DBEngine().OpenDatabase(name);
    Child sharedChild = OpenInChild(name, false);
    EXPECT_EQ(Reported(sharedChild), 0);
    Finish(sharedChild);
    Child refused = OpenInChild(name, true);
    EXPECT_EQ(Reported(refused), 3045);
    Finish(refused);

    shared.Close();
    Child afterClose = OpenInChild(name, true);
    EXPECT_EQ(Reported(afterClose), 0);
    Finish(afterClose);
}

}  // namespace daotest
