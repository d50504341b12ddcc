// Inserts run many times with different values share one translation; each must still write its
// own values, with the types its literals have.
#include "dao_fixture.h"
#include "platform/dao/jet_sql.h"

namespace daotest {

namespace jet = platform::dao::jet;

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

TEST_F(InsertShapeTest, EachInsertOfOneShapeWritesItsOwnValues) {
    db.Execute("insert into v (id, a, n) values (1, 'first', 1.5)");
    db.Execute("insert into v (id, a, n) values (2, 'O''Hara', 2e3)");
    db.Execute("insert into v (id, a, n) values (3, '', .25)");
    db.Execute("insert into v (id, a, n) values (4, \"say \"\"hi\"\"\", 7)");
    db.Execute("insert into v (id, a, n) values (5, '5', 8)");   // a text that looks like a number
    db.Execute("insert into v (id, a, n) values (6, 5, '8')");   // and the other way round
    db.Execute("insert into v (id, a, n) values (7, '[x]', -3)");
    EXPECT_EQ(Row(1), "first|text|1.5|real");
    EXPECT_EQ(Row(2), "O'Hara|text|2000.0|real");
    EXPECT_EQ(Row(3), "|text|0.25|real");
    EXPECT_EQ(Row(4), "say \"hi\"|text|7.0|real");
    EXPECT_EQ(Row(5), "5|text|8.0|real");
    EXPECT_EQ(Row(6), "5|text|8.0|real");  // column affinity, as for any insert
    EXPECT_EQ(Row(7), "[x]|text|-3.0|real");
    EXPECT_EQ(db.RecordsAffected(), 1);

    db.Execute("insert into v (id, a) values (8, 'p'), (9, 'q')");
    db.Execute("insert into v (id, a) values (10, 'r'), (11, 's')");
    EXPECT_EQ(Scalar(file, "select group_concat(id || a, ',') from v where id >= 8"), "8p,9q,10r,11s");
}

TEST_F(InsertShapeTest, LiteralsThatStayInTheTextAreNotShared) {
    // Literals outside a values list, and #dates#, are part of the statement itself.
    db.Execute("insert into v (id, a) select lockey, 'W-code' from src where code = 'W' and lockey < 4");
    db.Execute("insert into v (id, a) select lockey, 'E-code' from src where code = 'E' and lockey < 4");
    EXPECT_EQ(Scalar(file, "select group_concat(id || a, ',') from (select * from v order by id)"), "1W-code,2E-code,3W-code");

    db.Execute("create table d (id long, at datetime)");
    db.Execute("insert into d (id, at) values (1, #5/1/2021#)");
    db.Execute("insert into d (id, at) values (2, #5/2/2021 1:02:03 PM#)");
    EXPECT_EQ(Scalar(file, "select group_concat(id || '=' || at, ',') from d"), "1=2021-05-01,2=2021-05-02 13:02:03");

    // A name in brackets may hold a quote; it is a name, not the start of a text.
    db.Execute("create table [it's] (a text)");
    db.Execute("insert into [it's] (a) values ('one')");
    db.Execute("insert into [it's] (a) values ('two')");
    EXPECT_EQ(Scalar(file, "select group_concat(a, ',') from \"it's\""), "one,two");
}

TEST_F(InsertShapeTest, ErrorsAreRaisedEveryTime) {
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ErrorOf([&] { db.Execute("insert into v (id, a) values (1, 'open)"); }), 3075);
        EXPECT_EQ(ErrorOf([&] { db.Execute("insert into nosuch (id) values (" + std::to_string(i) + ")"); }), 3078);
        EXPECT_EQ(ErrorOf([&] { db.Execute("insert into v (id, a) values (1, #13/45/2021#)"); }), 3075);
    }
    db.Execute("insert into v (id, a) values (1, 'ok')");
    EXPECT_EQ(Scalar(file, "select count(*) from v"), "1");
}

TEST(InsertShape, LiteralsAreBlankedAndRead) {
    std::string a, b;
    std::vector<jet::Token> la, lb;
    ASSERT_TRUE(jet::Shape("insert into t values (1, 'x''y', [n'm], 2.5e3)", a, la));
    ASSERT_TRUE(jet::Shape("insert into t values (9, 'z', [n'm], 7)", b, lb));
    EXPECT_EQ(a, b);
    ASSERT_EQ(la.size(), 3u);
    EXPECT_EQ(la[0].kind, jet::TokenKind::Number);
    EXPECT_EQ(la[1].kind, jet::TokenKind::Text);
    EXPECT_EQ(la[1].value, "x'y");
    EXPECT_EQ(la[2].value, "2.5e3");

    // Text and number in one place, a word holding digits, a different name: other shapes.
    ASSERT_TRUE(jet::Shape("insert into t values ('1', 'z', [n'm], 7)", b, lb));
    EXPECT_NE(a, b);
    ASSERT_TRUE(jet::Shape("insert into t2 values (1, 'x', [n'm], 7)", b, lb));
    EXPECT_NE(a, b);
    ASSERT_TRUE(jet::Shape("insert into t values (1, 'x', [n'M], 7)", b, lb));
    EXPECT_NE(a, b);

    EXPECT_FALSE(jet::Shape("insert into t values ('open)", a, la));
    EXPECT_FALSE(jet::Shape("insert into t values (#5/1/2021#)", a, la));
    EXPECT_FALSE(jet::Shape("insert into t values (\x01)", a, la));
}

}  // namespace daotest
