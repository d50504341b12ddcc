// The read-date window opened, used and closed through its controls: the code list and the selection
// lock table FRDLK, one window per data database, the entry fields driven by the keyboard, and the
// count of matching readings reported when a field is left.
#include <QTest>
#include <QWidget>

#include "platform/dao/dao.h"
#include "platform/ui/forms.h"
#include "readdates/frd_fixture.h"
#include "startup/shared.h"

namespace {

using frdtest::FrdTest;
std::vector<std::string> CodeList(const readdates::frmFixDupRdgs &f) {
    std::vector<std::string> out;
    for (int i = 0; i < f.cboCode->ListCount(); ++i) out.push_back(f.cboCode->List(i));
    return out;
}

int OpenDatabases() { return platform::dao::DBEngine().Workspaces(0).DatabasesCount(); }

TEST_F(FrdTest, WindowOpensOnTheCodeListWithTabOrderWholeCaptionsAndContinueDisabled) {
    auto &f = OpenForm();
    const platform::ui::Control *order[] = {f.cboCode, f.txt[0], f.txt[1], f.txt[2], f.cmdContinue, f.cmdExit};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(order[i]->TabIndex(), i) << order[i]->Name();
    EXPECT_EQ(qvtest::LabelledBy(f.txt[0]), f.lbl[2]->Caption());
    EXPECT_FALSE(f.cmdContinue->Enabled());
    EXPECT_FALSE(f.pb1->Visible());
    EXPECT_EQ(f.ActiveControl(), f.cboCode);
    EXPECT_EQ(platform::ui::ClippedCaptions(f), std::vector<std::string>{});
    EXPECT_TRUE(boxes.empty());
}

TEST_F(FrdTest, CodeListOffersAllCodesFirstThenDistinctCodesInOrderSkippingNull) {
    AddReadings({{"2021-05-01", "2021-04-28", "B", 1},
                 {"2021-05-01", "2021-04-28", "A", 2},
                 {"2021-05-01", "2021-04-28", std::nullopt, 3},
                 {"2021-06-01", "2021-05-28", "C", 1},
                 {"2021-06-01", "2021-05-28", "B", 2},
                 {"2021-06-01", "2021-05-28", "O'B", 2}});
    auto &f = OpenForm();
    EXPECT_EQ(CodeList(f), (std::vector<std::string>{" ALL CODES", "A", "B", "C", "O'B"}));
    EXPECT_EQ(f.cboCode->Text(), " ALL CODES");
}

TEST_F(FrdTest, EmptyReadingTableLeavesOnlyAllCodes) {
    auto &f = OpenForm();
    EXPECT_EQ(CodeList(f), std::vector<std::string>{" ALL CODES"});
}

TEST_F(FrdTest, LoadCopiesTheSelectionIntoFrdlkAndClosesEveryDatabase) {
    Select(11, "1001");
    Select(12, "O'HARE-7");
    Select(13, "1003");
    OpenForm();
    EXPECT_EQ(DataRows("select lockey, accno from FRDLK order by lockey"),
              (std::vector<std::vector<std::string>>{{"11", "1001"}, {"12", "O'HARE-7"}, {"13", "1003"}}));
    EXPECT_EQ(OpenDatabases(), 0);
    EXPECT_FALSE(startup::Shared().db);
    EXPECT_FALSE(startup::Shared().rs);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(FrdTest, LoadRebuildsALeftoverFrdlk) {
    {
        auto d = Data();
        d->exec("create table FRDLK (lockey INTEGER, accno TEXT)");
        d->exec("insert into FRDLK values (99, 'OLD')");
    }
    Select(5, "NEW");
    OpenForm();
    EXPECT_EQ(DataRows("select lockey, accno from FRDLK"), (std::vector<std::vector<std::string>>{{"5", "NEW"}}));
}

TEST_F(FrdTest, SelectionRowThatCannotBeCopiedIsDroppedAloneInsideTheCopy) {
    SelectRange(1, 3000);
    {
        qvtest::SqlFile t(TempDataFile());
        t.exec("insert into selectionsetDTC (lockey, accno) values (NULL, 'NOKEY')");
    }
    SelectRange(3001, 3000);
    OpenForm();
    EXPECT_EQ(DataCount("select count(*) from FRDLK"), 6000);
    EXPECT_EQ(DataCount("select count(*) from FRDLK where accno = 'NOKEY'"), 0);
    EXPECT_EQ(DataCount("select count(distinct lockey) from FRDLK"), 6000);
    EXPECT_FALSE(platform::dao::DBEngine().Workspaces(0).InTransaction());
}

TEST_F(FrdTest, LoadTakesTheDataPathAfreshFromTheSettingsUntrimmed) {
    SetCurrent("C:\\QVData  ", "billing.mdb");
    startup::Shared().DataFilePath = "C:\\elsewhere\\none.mdb";
    Select(1, "A1");
    OpenForm();
    EXPECT_EQ(startup::Shared().DataFilePath, "C:\\QVData  \\billing.mdb");
    EXPECT_TRUE(DataHasTable("FRDLK"));
}

TEST_F(FrdTest, ClosingByExitOrByCloseBoxDropsFrdlk) {
    for (bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Exit");
        Select(1, "A1");
        auto &f = OpenForm();
        ASSERT_TRUE(DataHasTable("FRDLK"));
        if (closeBox)
            f.widget()->close();
        else
            f.cmdExit->Press();
        ProcessEvents();
        EXPECT_FALSE(f.IsLoaded());
        EXPECT_FALSE(DataHasTable("FRDLK"));
        EXPECT_EQ(OpenDatabases(), 0);
    }
}

TEST_F(FrdTest, SecondWindowOnTheSameDataDatabaseIsRefusedAndChangesNothing) {
    Select(1, "A1");
    Select(2, "A2");
    auto &first = OpenForm();
    {
        qvtest::SqlFile t(TempDataFile());  // a selection changed since the first window loaded
        t.exec("delete from selectionsetDTC where lockey = 2");
    }
    auto second = OpenSecondForm();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].style, platform::ui::vbInformation);
    EXPECT_NE(boxes[0].prompt.find(frdtest::kDataPath), std::string::npos) << boxes[0].prompt;
    EXPECT_FALSE(second->IsLoaded());
    EXPECT_FALSE(second->IsVisible());
    second.reset();

    // The first window's FRDLK is untouched and still serves it.
    EXPECT_EQ(DataCount("select count(*) from FRDLK"), 2);
    ClearBoxes();
    AddReading({"2021-05-01", "2021-04-28", "W", 2});
    Enter(0, "05/01/2021");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "ONE RECORD FOUND");

    // Once the first closes, the data database is free again.
    first.Unload();
    EXPECT_FALSE(DataHasTable("FRDLK"));
    ClearBoxes();
    auto third = OpenSecondForm();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(DataCount("select count(*) from FRDLK"), 1);
    third->Unload();
}



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
