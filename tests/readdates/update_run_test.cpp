// The correction run through the real window: which records change, their audit entries, the
// progress bar and the final message.
#include "platform/ui/app.h"
#include "readdates/update_env.h"
#include "startup/audit.h"
#include "startup/shared.h"

namespace frdtest {
namespace {

using platform::ui::MsgBoxRecord;
using platform::ui::vbInformation;

// Bill date 05/01/2021 with readings of three selected accounts and one outside the selection,
// plus one reading of another bill date.
class RunTest : public UpdateTest {
protected:
    RunTest() {
        Select(1, "1001");
        Select(2, "1002");
        Select(3, "1003");
        AddReadings({
            {"2021-05-01", "2021-04-28", "W", 1},
            {"2021-05-01", "2021-04-28 10:30:00", "E", 2},  // same day with a time of day
            {"2021-05-01", "2021-04-29", "W", 3},
            {"2021-05-01", "2021-04-28", "W", 4},           // not selected
            {"2021-06-01", "2021-04-28", "W", 1},           // other bill date
            {"2021-05-01", "", "W", 3},                     // no read date
        });
    }
    static std::string Finished(const std::string &prompt) { return Box({prompt, vbInformation, "FINISHED"}); }
    std::string Line(const std::string &description) const {
        return "20210503 02:07 PM " + startup::AuditUser() + " " + description;
    }
};

TEST_F(RunTest, SpecificReadDateMatchesByDayAndIsAudited) {
    auto &f = Fill("5/1/21", "04/28/2021", "4/30/2021");
    ASSERT_TRUE(f.cmdContinue->Enabled());
    auto shown = Continue();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(Box(shown[0]), Finished("2 reading records were updated."));
    EXPECT_EQ(ReadDates(), (std::vector<std::string>{"2021-04-30", "2021-04-30", "2021-04-29", "2021-04-28",
                                                     "2021-04-28", "<null>"}));

    const std::string d1 = "Changed read date from 04/28/2021 to 04/30/2021 for bill date 05/01/2021 for account 1001 for code W";
    const std::string d2 = "Changed read date from 04/28/2021 to 04/30/2021 for bill date 05/01/2021 for account 1002 for code E";
    EXPECT_EQ(AuditLines(), (std::vector<std::string>{Line(d1), Line(d2)}));
    EXPECT_EQ(DataRows("select [When], ByWhom, What from LIDB order by rowid"),
              (std::vector<std::vector<std::string>>{{"20210503 02:07 PM ", startup::AuditUser(), d1},
                                                     {"20210503 02:07 PM ", startup::AuditUser(), d2}}));

    // The fields keep their texts; the same run again finds nothing left to change.
    EXPECT_EQ(f.txt[1]->Text(), "04/28/2021");
    shown = Continue();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(Box(shown[0]), Finished("0 reading records were updated."));
    EXPECT_EQ(LidbCount(), 2);
}

TEST_F(RunTest, AllChangesEveryReadingOfTheBillDateInTheSelection) {
    Fill("05/01/2021", "all", "04/28/2021");
    auto shown = Continue();
    ASSERT_EQ(shown.size(), 1u);
    // Records that already carry the new date count too; the one without a read date gets it.
    EXPECT_EQ(Box(shown[0]), Finished("4 reading records were updated."));
    EXPECT_EQ(ReadDates(), (std::vector<std::string>{"2021-04-28", "2021-04-28", "2021-04-28", "2021-04-28",
                                                     "2021-04-28", "2021-04-28"}));
    const auto lines = AuditLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], Line("Changed read date from all to 04/28/2021 for bill date 05/01/2021 for account 1001 for code W"));
    EXPECT_EQ(LidbCount(), 4);
}

TEST_F(RunTest, ChosenCodeLimitsTheRun) {
    Fill("05/01/2021", "ALL", "05/02/2021", "E");
    auto shown = Continue();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(Box(shown[0]), Finished("1 reading record was updated."));
    EXPECT_EQ(DataCount("select count(*) from [tbl reading] where readdate = '2021-05-02'"), 1);
    EXPECT_EQ(DataCount("select count(*) from [tbl reading] where readdate = '2021-05-02' and code = 'E'"), 1);
}

TEST_F(RunTest, EmptySelectionChangesNothing) {
    qvtest::SqlFile(TempDataFile()).exec("delete from selectionsetDTC");
    Fill("05/01/2021", "ALL", "05/02/2021");
    auto shown = Continue();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(Box(shown[0]), Finished("0 reading records were updated."));
    EXPECT_EQ(DataCount("select count(*) from [tbl reading] where readdate = '2021-05-02'"), 0);
    EXPECT_EQ(LidbCount(), 0);
    EXPECT_TRUE(AuditLines().empty());
}

TEST_F(RunTest, DatabasesAreClosedAndTheWindowIsReadyAgainAfterTheRun) {
    auto &f = Fill("05/01/2021", "04/29/2021", "05/02/2021");
    Continue();
    EXPECT_EQ(platform::dao::DBEngine().Workspaces(0).DatabasesCount(), 0);
    EXPECT_FALSE(platform::dao::DBEngine().Workspaces(0).InTransaction());
    EXPECT_FALSE(startup::Shared().db);
    EXPECT_FALSE(startup::Shared().rs);
    EXPECT_FALSE(f.pb1->Visible());
    EXPECT_EQ(f.pb1->Value(), 0);
    EXPECT_EQ(f.ActiveControl(), f.cboCode);
    EXPECT_TRUE(DataHasTable("FRDLK"));
}

// Ten readings, the 2nd and 7th carrying the incorrect read date.
class ProgressTest : public UpdateTest {
protected:
    ProgressTest() {
        for (long long k = 1; k <= 10; ++k) {
            Select(k, "A" + std::to_string(k));
            AddReading({"2021-05-01", k == 2 || k == 7 ? "2021-04-28" : "2021-04-29", "W", k});
        }
    }
};

TEST_F(ProgressTest, BarStandsAtTheLastChangedPositionWhenTheMessageComes) {
    auto &f = Fill("05/01/2021", "04/28/2021", "04/30/2021");
    struct Seen {
        double value = -1, max = -1;
        bool visible = false;
        std::string prompt;
    } seen;
    platform::ui::SetMsgBoxResponderForTests([&](const MsgBoxRecord &r) {
        if (r.title == "FINISHED") seen = {f.pb1->Value(), f.pb1->Max(), f.pb1->Visible(), r.prompt};
        return platform::ui::vbOK;
    });
    f.cmdContinue->Press();
    ProcessEvents();
    EXPECT_EQ(seen.prompt, "2 reading records were updated.");
    EXPECT_EQ(seen.value, 7);
    EXPECT_EQ(seen.max, 10);
    EXPECT_TRUE(seen.visible);
    EXPECT_FALSE(f.pb1->Visible());
    EXPECT_EQ(f.pb1->Value(), 0);
}

}  // namespace
}  // namespace frdtest
