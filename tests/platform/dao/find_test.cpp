// FindFirst / FindNext / NoMatch.
#include "dao_fixture.h"

namespace daotest {

class FindTest : public DaoTest {
protected:
    Database db;
    void SetUp() override {
        MakeData();
        db = DBEngine().OpenDatabase("C:\\data\\billing.mdb");
        db.Execute("insert into FRDLK (lockey, accno) values (21, 'O''Brien')");
        db.Execute("insert into FRDLK (lockey, accno) values (9, 'second nine')");
    }
};

TEST_F(FindTest, EqualityCriteriaFindTheFirstMatchingRecord) {
    for (RecordsetType type : {dbOpenSnapshot, dbOpenDynaset}) {
        Recordset rs = db.OpenRecordset("select * from frdlk order by lockey, accno", type);
        rs.FindFirst("lockey = 13");
        ASSERT_FALSE(rs.NoMatch());
        EXPECT_EQ(rs.Fields("accno").Value().ToText(), "A-13");
        rs.FindFirst("accno = 'o''brien'");  // texts match exactly, as the SQL comparisons do
        EXPECT_TRUE(rs.NoMatch());
        rs.FindFirst("accno = 'O''Brien'");
        EXPECT_EQ(rs.Fields("lockey").Value().ToLong(), 21);
        rs.FindFirst("[lockey] = 9 and accno = \"second nine\"");
        EXPECT_EQ(rs.AbsolutePosition(), 3);
        rs.FindFirst("lockey = 9");
        EXPECT_EQ(rs.AbsolutePosition(), 2);
        rs.FindNext("lockey = 9");
        EXPECT_EQ(rs.AbsolutePosition(), 3);

        rs.FindNext("lockey = 9");
        EXPECT_TRUE(rs.NoMatch());
        EXPECT_EQ(rs.AbsolutePosition(), 3);  // stays where it stood
        rs.FindFirst("lockey = 1.0");
        EXPECT_FALSE(rs.NoMatch());
        rs.FindFirst("lockey = 2");
        EXPECT_TRUE(rs.NoMatch());
        rs.FindFirst("accno = null");
        EXPECT_TRUE(rs.NoMatch());
    }
}

TEST_F(FindTest, DatesAndOtherCriteria) {
    Recordset rs = db.OpenRecordset("select * from [tbl reading] order by lockey", dbOpenSnapshot);
    rs.FindFirst("readdate = #4/29/2021 10:15:00 AM# and code = 'E'");
    EXPECT_EQ(rs.Fields("lockey").Value().ToLong(), 6);
    rs.FindFirst("readdate = #4/28/2021#");
    EXPECT_EQ(rs.Fields("lockey").Value().ToLong(), 1);
    rs.FindFirst("lockey > 10 and (code = 'E' or usage < 0)");
    EXPECT_EQ(rs.Fields("lockey").Value().ToLong(), 12);
    rs.FindNext("not (code = 'E') and lockey >= 12");
    EXPECT_EQ(rs.Fields("lockey").Value().ToLong(), 13);
    rs.FindFirst("usage is null");
    EXPECT_TRUE(rs.NoMatch());
    EXPECT_EQ(ErrorOf([&] { rs.FindFirst("nosuch = 1"); }), 3070);
    EXPECT_EQ(ErrorOf([&] { rs.FindFirst("lockey = = 1"); }), 3075);
    EXPECT_EQ(ErrorOf([&] { rs.FindFirst("lockey = 'open"); }), 3075);
}

TEST_F(FindTest, ADynasetFindsWhatItsOwnUpdatesWrote) {
    Recordset rs = db.OpenRecordset("FRDLK", dbOpenDynaset);
    rs.FindFirst("accno = 'A-5'");
    rs.Edit();
    rs.Fields("accno") = Variant("renamed");
    rs.Update();
    rs.FindFirst("accno = 'A-5'");
    EXPECT_TRUE(rs.NoMatch());
    rs.FindFirst("accno = 'renamed'");
    EXPECT_EQ(rs.Fields("lockey").Value().ToLong(), 5);
}

}  // namespace daotest
