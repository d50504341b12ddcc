// The count of matching readings reported when an entry field is left: which records it counts and
// the exact titles and prompts.
#include <QTest>

#include "readdates/frd_fixture.h"
#include "startup/shared.h"

namespace {

using platform::ui::MsgBoxRecord;

// Selection: accounts 1 to 5. Lockey 9 is outside it.
class FrdSearch : public frdtest::FrdTest {
protected:
    FrdSearch() {
        for (long long k = 1; k <= 5; ++k) Select(k, "A" + std::to_string(k));
        AddReadings({{"2021-05-01", "2021-04-28", "W", 1},
                     {"2021-05-01", "2021-04-28 10:30:00", "W", 2},
                     {"2021-05-01", "2021-04-29", "E", 3},
                     {"2021-05-01", "2021-04-28", "W", 9},
                     {"2021-05-01", "2021-04-28", "O'B", 4},
                     {"2021-06-01", "2021-04-28", "W", 1},
                     {"2021-06-01", "2021-05-30", "w", 5}});
    }

    // Leaves field `index` holding `text` and returns the one box it showed.
    MsgBoxRecord Count(int index, const std::string &text) {
        ClearBoxes();
        Enter(index, text);
        EXPECT_EQ(boxes.size(), 1u) << "field " << index << " = " << text;
        return boxes.empty() ? MsgBoxRecord{"<none>", 0, ""} : boxes.back();
    }

    void ExpectBox(const MsgBoxRecord &b, const std::string &title, const std::string &prompt) {
        EXPECT_EQ(b.title, title);
        EXPECT_EQ(b.prompt, prompt);
        EXPECT_EQ(b.style, platform::ui::vbInformation);
    }
};

TEST_F(FrdSearch, BillDateCountsTheSelectionWithAllCodes) {
    OpenForm();
    ExpectBox(Count(0, "05/01/2021"), "4 RECORDS FOUND", "4 reading records were found with bill date 05/01/2021.");
    ExpectBox(Count(0, "07/01/2021"), "NO RECORDS FOUND", "NO reading records were found with bill date 07/01/2021.");
}

TEST_F(FrdSearch, ChosenCodeNarrowsTheCountAndNamesTheCode) {
    auto &f = OpenForm();
    f.cboCode->SetText("W");
    ExpectBox(Count(0, "05/01/2021"), "2 RECORDS FOUND",
              "2 reading records were found for code W with bill date 05/01/2021.");
    f.cboCode->SetText("E");
    ExpectBox(Count(0, "05/01/2021"), "ONE RECORD FOUND",
              "One reading record was found for code E with bill date 05/01/2021.");
    f.cboCode->SetText("O'B");  // a code with an apostrophe is counted, not refused
    ExpectBox(Count(0, "05/01/2021"), "ONE RECORD FOUND",
              "One reading record was found for code O'B with bill date 05/01/2021.");
    // A typed code stays as typed: w is not completed to the code W.
    f.cboCode->SetText("");
    f.cboCode->SetFocus();
    QTest::keyClicks(f.cboCode->widget(), "w");
    ExpectBox(Count(0, "06/01/2021"), "ONE RECORD FOUND",
              "One reading record was found for code w with bill date 06/01/2021.");
    EXPECT_EQ(f.cboCode->Text(), "w");
}

TEST_F(FrdSearch, IncorrectReadDateIsPairedWithTheBillDate) {
    OpenForm();
    Enter(0, "05/01/2021");
    // The reading read at 10:30 on 4/28 counts, as the run would change it.
    ExpectBox(Count(1, "4/28/21"), "3 RECORDS FOUND",
              "3 reading records were found with bill date 05/01/2021 and read date 04/28/2021.");
    ExpectBox(Count(1, "4/27/21"), "NO RECORDS FOUND",
              "NO reading records were found with bill date 05/01/2021 and read date 04/27/2021.");
    ExpectBox(Count(1, "all"), "4 RECORDS FOUND",
              "4 reading records were found with bill date 05/01/2021 and read date all.");
}

TEST_F(FrdSearch, IncorrectReadDateWithoutBillDateCountsEveryBillDate) {
    auto &f = OpenForm();
    ExpectBox(Count(1, "04/28/2021"), "4 RECORDS FOUND", "4 reading records were found with read date 04/28/2021.");
    f.cboCode->SetText("W");
    ExpectBox(Count(1, "04/28/2021"), "3 RECORDS FOUND",
              "3 reading records were found for code W with read date 04/28/2021.");
}

TEST_F(FrdSearch, AllWithoutBillDateShowsNothingAndRunsNoQuery) {
    OpenForm();
    startup::Shared().QueryText = "left over";
    ClearBoxes();
    Enter(1, "ALL");
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(startup::Shared().QueryText, "left over");
}

TEST_F(FrdSearch, NewReadDateCountsThoseAlreadyCarryingIt) {
    OpenForm();
    // Without a bill date: on any bill date.
    ExpectBox(Count(2, "05/30/2021"), "ONE RECORD FOUND", "One reading record was found with read date 05/30/2021.");
    // With one: only on that bill date.
    Enter(0, "05/01/2021");
    ExpectBox(Count(2, "05/30/2021"), "NO RECORDS FOUND", "NO reading records were found with read date 05/30/2021.");
    ExpectBox(Count(2, "04/29/2021"), "ONE RECORD FOUND", "One reading record was found with read date 04/29/2021.");
}

TEST_F(FrdSearch, CountLeavesNoDatabaseOpen) {
    OpenForm();
    Count(0, "05/01/2021");
    EXPECT_EQ(platform::dao::DBEngine().Workspaces(0).DatabasesCount(), 0);
    EXPECT_FALSE(startup::Shared().db);
    EXPECT_FALSE(startup::Shared().rs);
}

TEST(FrdSearchEmptySelection, NothingIsFoundEvenWithAllCodes) {
    frdtest::FrdEnv env;
    env.AddReading({"2021-05-01", "2021-04-28", "W", 1});
    env.OpenForm();
    env.Enter(0, "05/01/2021");
    ASSERT_EQ(env.boxes.size(), 1u);
    EXPECT_EQ(env.boxes[0].title, "NO RECORDS FOUND");
}

}  // namespace
