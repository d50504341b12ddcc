// The read-date window's entry fields, driven by the keyboard: Enter as Tab, selection on focus,
// prompts from the bill date, and when Continue is enabled.
#include "readdates/frd_fixture.h"

namespace {

using frdtest::FrdTest;

const char *kPrompt1Start = "Enter the INCORRECT READ DATE that needs to be changed, or enter ALL if all read dates for BILL DATE ";

TEST_F(FrdTest, EnterMovesOnLikeTabAndInsertsNothing) {
    AddReading({"2021-05-01", "2021-04-28", "W", 1});
    auto &f = OpenForm();
    ASSERT_EQ(f.ActiveControl(), f.cboCode);

    PressEnter();
    EXPECT_EQ(f.ActiveControl(), f.txt[0]);
    EXPECT_EQ(f.cboCode->Text(), " ALL CODES");
    EXPECT_EQ(f.cboCode->ListCount(), 2);

    f.txt[0]->SetText("5/1/21");
    PressEnter();
    EXPECT_EQ(f.ActiveControl(), f.txt[1]);
    EXPECT_EQ(f.txt[0]->Text(), "05/01/2021");  // left like Tab: validated, nothing added

    PressEnter();
    EXPECT_EQ(f.ActiveControl(), f.txt[2]);
    PressEnter();
    EXPECT_EQ(f.ActiveControl(), f.cmdExit);  // Continue is still disabled
    for (auto *t : {f.txt[1], f.txt[2]}) EXPECT_EQ(t->Text(), "");
}

TEST_F(FrdTest, TabbingIntoAFieldSelectsItsWholeText) {
    auto &f = OpenForm();
    f.txt[1]->SetText("04/28/2021");
    f.txt[0]->SetFocus();
    ProcessEvents();
    PressTab();
    ASSERT_EQ(f.ActiveControl(), f.txt[1]);
    EXPECT_EQ(f.txt[1]->SelStart(), 0);
    EXPECT_EQ(f.txt[1]->SelLength(), 10);
}

TEST_F(FrdTest, TabbingThroughEmptyFieldsShowsNothing) {
    auto &f = OpenForm();
    for (int i = 0; i < 4; ++i) PressTab();
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(f.cmdContinue->Enabled());
}

TEST_F(FrdTest, ValidBillDateRewritesBothPromptsAndAnInvalidOneKeepsThem) {
    auto &f = OpenForm();
    Enter(0, "5117");
    EXPECT_EQ(f.txt[0]->Text(), "05/01/2017");
    const std::string label1 = std::string(kPrompt1Start) + "05/01/2017 need to be changed to the same READ DATE.";
    const std::string label4 =
        "Enter the READ DATE that needs to be given to the set of readings that are being corrected for BILL DATE "
        "05/01/2017.";
    EXPECT_EQ(f.Label1->Caption(), label1);
    EXPECT_EQ(f.Label4->Caption(), label4);

    ClearBoxes();
    Enter(0, "13/45/2017");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].prompt, "Invalid Date");
    EXPECT_EQ(f.txt[0]->Text(), "");
    EXPECT_EQ(f.Label1->Caption(), label1);
    EXPECT_EQ(f.Label4->Caption(), label4);
}

TEST_F(FrdTest, AllInAnyCaseIsTheKeywordAndStaysAsTyped) {
    auto &f = OpenForm();
    Enter(0, "05/01/2021");
    for (const char *kw : {"all", "All", "ALL"}) {
        SCOPED_TRACE(kw);
        ClearBoxes();
        Enter(1, kw);
        EXPECT_EQ(f.txt[1]->Text(), kw);
        ASSERT_EQ(boxes.size(), 1u);  // the count, no date message
        EXPECT_EQ(boxes[0].title, "NO RECORDS FOUND");
    }
    ClearBoxes();
    Enter(1, " ALL");  // with a blank it is no keyword and no date
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].prompt, "Invalid Date");
}

TEST_F(FrdTest, ContinueIsEnabledOnlyWhileAllThreeEntriesAreValid) {
    auto &f = OpenForm();
    Enter(0, "05/01/2021");
    Enter(1, "04/28/2021");
    EXPECT_FALSE(f.cmdContinue->Enabled());
    Enter(2, "04/30/2021");
    EXPECT_TRUE(f.cmdContinue->Enabled());

    Enter(1, "xyz");  // refused and emptied
    EXPECT_FALSE(f.cmdContinue->Enabled());
    Enter(1, "ALL");
    EXPECT_TRUE(f.cmdContinue->Enabled());

    Enter(2, "   ");  // blanks only: no message, no longer valid
    EXPECT_FALSE(f.cmdContinue->Enabled());
    Enter(2, "04/30/2021");
    EXPECT_TRUE(f.cmdContinue->Enabled());

    Enter(0, "0000");
    EXPECT_FALSE(f.cmdContinue->Enabled());
}

TEST_F(FrdTest, FieldLeftEmptyDisablesContinueWithoutAMessage) {
    auto &f = OpenForm();
    Enter(0, "05/01/2021");
    Enter(1, "ALL");
    Enter(2, "04/30/2021");
    ASSERT_TRUE(f.cmdContinue->Enabled());
    for (int i : {0, 1, 2}) {
        SCOPED_TRACE(i);
        const std::string kept = f.txt[i]->Text();
        ClearBoxes();
        Enter(i, "");
        EXPECT_FALSE(f.cmdContinue->Enabled());
        EXPECT_TRUE(boxes.empty());
        Enter(i, kept);
        EXPECT_TRUE(f.cmdContinue->Enabled());
    }
}

}  // namespace
