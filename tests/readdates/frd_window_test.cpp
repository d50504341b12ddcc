// The read-date window opened, used and closed through its controls: the code list and the selection
// lock table FRDLK, one window per data database, the entry fields driven by the keyboard, and the
// count of matching readings reported when a field is left.
#include <QLineEdit>
#include <QTest>
#include <QWidget>
#include <unistd.h>

#include "platform/dao/dao.h"
#include "platform/ui/forms.h"
#include "readdates/frd_fixture.h"
#include "support/file_size_limit.h"
#include "startup/shared.h"

namespace {

using frdtest::FrdTest;
std::vector<std::string> CodeList(const readdates::frmFixDupRdgs &f) {
    std::vector<std::string> out;
    for (int i = 0; i < f.cboCode->ListCount(); ++i) out.push_back(f.cboCode->List(i));
    return out;
}

// The order of the controls is walked by the keyboard run end to end (FrdE2E).
TEST_F(FrdTest, WindowOpensOnTheCodeListWithWholeCaptionsOnlyAllCodesAndContinueDisabled) {
    auto &f = OpenForm();
    EXPECT_EQ(qvtest::LabelledBy(f.txt[0]), f.lbl[2]->Caption());
    EXPECT_FALSE(f.cmdContinue->Enabled());
    EXPECT_FALSE(f.pb1->Visible());
    EXPECT_EQ(f.ActiveControl(), f.cboCode);
    EXPECT_EQ(qvtest::ClippedCaptions(f), std::vector<std::string>{});
    EXPECT_EQ(qvtest::UnnamedForAScreenReader(f), std::vector<std::string>{});
    EXPECT_EQ(CodeList(f), std::vector<std::string>{" ALL CODES"});  // an empty reading table
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

// A leftover FRDLK is rebuilt from the selection, in the data database that the settings name as they
// stand (their folder untrimmed), not the one start-up read; what a restore killed seconds ago left goes.
TEST_F(FrdTest, LoadCopiesTheSelectionIntoANewFrdlkAndClosesEveryDatabase) {
    SetCurrent("C:\\QVData  ", "billing.mdb");
    startup::Shared().DataFilePath = "C:\\elsewhere\\none.mdb";
    Data()->exec("create table FRDLK (lockey INTEGER, accno TEXT); insert into FRDLK values (99, 'OLD')");
    Select(11, "1001");
    Select(12, "O'HARE-7");
    Select(13, "1003");
    const auto temporary = DataFile().parent_path() / ".billingreplacedbyautocopy120426223705.mdb.0123456789abcdef.qvtmp";
    const auto copyLock = DataFile().parent_path() / "backup" / "billing9.ldb";  // the check of the chosen copy
    qvtest::WriteFile(temporary, "half a safety copy");
    qvtest::WriteFile(copyLock, "");
    qvtest::WriteFile(DataFile().string() + "-journal", std::string(512, '\0'));  // not counting yet
    OpenForm();
    EXPECT_EQ(startup::Shared().DataFilePath, "C:\\QVData  \\billing.mdb");
    EXPECT_FALSE(std::filesystem::exists(temporary) || std::filesystem::exists(DataFile().string() + "-journal") ||
                 std::filesystem::exists(copyLock));
    EXPECT_EQ(DataRows("select lockey, accno from FRDLK order by lockey"),
              (std::vector<std::vector<std::string>>{{"11", "1001"}, {"12", "O'HARE-7"}, {"13", "1003"}}));
    EXPECT_TRUE(DatabasesClosed());
    EXPECT_TRUE(boxes.empty());
}

// A data database this login cannot change (here a full disk) is told as the window opens, naming it; the
// window does not open, the utility ends with status 1 and nothing is changed (it used to open without FRDLK
// and end with Run-time error 3078 at the first date entered). A link another login planted at the engine's
// or the window's lock file is refused in the same way: SharedMachineE2E, its lock-file rows.
TEST_F(FrdTest, ADataDatabaseThatCannotBeChangedIsToldAtOnce) {
    Select(1, "A1");
    const auto size = std::filesystem::file_size(DataFile());
    {
        qvtest::FileSizeLimit full(static_cast<rlim_t>(size));
        OpenForm();
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].style, platform::ui::vbCritical);
    EXPECT_TRUE(boxes[0].prompt.starts_with("Read dates cannot be corrected in the data database C:\\QVData\\billing.mdb:\n\n") &&
                boxes[0].prompt.ends_with("Nothing was changed."))
        << boxes[0].prompt;
    EXPECT_FALSE(form()->IsLoaded());
    EXPECT_TRUE(platform::ui::Ending() && platform::ui::EndStatus() == 1);
    EXPECT_FALSE(DataHasTable("FRDLK"));
    EXPECT_EQ(std::filesystem::file_size(DataFile()), size);
    EXPECT_TRUE(DatabasesClosed());
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
    EXPECT_TRUE(DatabasesClosed());
}

// Exit is taken end to end (FrdE2E), which finds FRDLK gone after it.
TEST_F(FrdTest, ClosingByTheCloseBoxDropsFrdlk) {
    Select(1, "A1");
    auto &f = OpenForm();
    ASSERT_TRUE(DataHasTable("FRDLK"));
    f.widget()->close();
    ProcessEvents();
    EXPECT_FALSE(f.IsLoaded());
    EXPECT_FALSE(DataHasTable("FRDLK"));
    EXPECT_TRUE(DatabasesClosed());
}

// A second read-date window on the same data database (correction or undo) is refused: tests/undo.

// Enter moving on from the code list through the fields, each left like Tab (validated, its count box
// shown), is the keyboard run's (FrdE2E); here Enter past the last field while Continue is disabled.
TEST_F(FrdTest, EnterPastTheLastFieldReachesExitAndTabSelectsTheWholeText) {
    auto &f = OpenForm();
    f.txt[2]->SetFocus();
    ProcessEvents();
    PressEnter();
    EXPECT_EQ(f.ActiveControl(), f.cmdExit);
    EXPECT_EQ(f.txt[2]->Text(), "");

    // Tabbing into a field selects its whole text.
    f.txt[1]->SetText("04/28/2021");
    f.txt[0]->SetFocus();
    ProcessEvents();
    PressTab();
    ASSERT_EQ(f.ActiveControl(), f.txt[1]);
    EXPECT_EQ(f.txt[1]->SelStart(), 0);
    EXPECT_EQ(static_cast<QLineEdit *>(f.txt[1]->widget())->selectedText(), "04/28/2021");
}

TEST_F(FrdTest, ValidBillDateRewritesBothPromptsAnInvalidOneKeepsThemAndABlankBeforeAllIsRefused) {
    auto &f = OpenForm();
    Enter(0, "5117");  // the entry's own forms and refusals are DateEntryTest's
    const std::string label1 = "Enter the INCORRECT READ DATE that needs to be changed, or enter ALL if all read dates for "
                               "BILL DATE 05/01/2017 need to be changed to the same READ DATE.";
    const std::string label4 =
        "Enter the READ DATE that needs to be given to the set of readings that are being corrected for BILL DATE "
        "05/01/2017.";
    EXPECT_EQ(f.Label1->Caption(), label1);
    EXPECT_EQ(f.Label4->Caption(), label4);

    ClearBoxes();
    Enter(0, "13/45/2017");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(f.Label1->Caption(), label1);
    EXPECT_EQ(f.Label4->Caption(), label4);

    // ALL in any case is the keyword (ContinueIsEnabled..., the counts, the runs' audit texts); with a
    // blank it is no keyword and no date.
    Enter(0, "05/01/2021");
    ClearBoxes();
    Enter(1, " ALL");
    EXPECT_EQ(Shown(), "Quorvant 32 | 16 | Invalid Date");
}

// Each step leaves one field with an entry; Continue is enabled only while all three are valid, and
// a field left empty or blank says nothing.
TEST_F(FrdTest, ContinueIsEnabledOnlyWhileAllThreeEntriesAreValid) {
    struct Step {
        int field;
        std::string entry;
        bool enabled;
    };
    const Step steps[] = {{0, "05/01/2021", false}, {1, "04/28/2021", false}, {2, "04/30/2021", true},
                          {1, "xyz", false},        {1, "All", true},         {2, "   ", false},
                          {2, "04/30/2021", true},  {0, "", false},           {0, "05/01/2021", true},
                          {1, "", false},           {1, "all", true},         {2, "", false},
                          {2, "04/30/2021", true},  {0, "0000", false}};
    auto &f = OpenForm();
    for (const Step &st : steps) {
        SCOPED_TRACE(std::to_string(st.field) + " = '" + st.entry + "'");
        ClearBoxes();
        Enter(st.field, st.entry);
        EXPECT_EQ(f.cmdContinue->Enabled(), st.enabled);
        const bool blank = st.entry.find_first_not_of(' ') == std::string::npos;
        EXPECT_TRUE(!blank || boxes.empty());
    }
}

// Selection: accounts 1 to 5. Lockey 9 is outside it, and left out of every count.
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
};

// One row a count: the code chosen ("" for all codes), the bill date already in its field, the field
// left and its entry, and the box (none for ALL without a bill date, which runs no query either).
TEST_F(FrdSearch, CountsTheSelectedReadingsOfTheCodeBillDateAndWholeReadDay) {
    struct Case {
        std::string code, bill;
        int field;
        std::string entry, title, prompt;
    };
    const Case cases[] = {
        {"", "", 0, "05/01/2021", "4 RECORDS FOUND", "4 reading records were found with bill date 05/01/2021."},
        {"", "", 0, "07/01/2021", "NO RECORDS FOUND", "NO reading records were found with bill date 07/01/2021."},
        {"W", "", 0, "05/01/2021", "2 RECORDS FOUND", "2 reading records were found for code W with bill date 05/01/2021."},
        {"O'B", "", 0, "05/01/2021", "ONE RECORD FOUND", "One reading record was found for code O'B with bill date 05/01/2021."},
        // The reading read at 10:30 on 4/28 counts, as the run would change it.
        {"", "05/01/2021", 1, "4/28/21", "3 RECORDS FOUND",
         "3 reading records were found with bill date 05/01/2021 and read date 04/28/2021."},
        {"", "05/01/2021", 1, "4/27/21", "NO RECORDS FOUND",
         "NO reading records were found with bill date 05/01/2021 and read date 04/27/2021."},
        {"", "05/01/2021", 1, "all", "4 RECORDS FOUND",
         "4 reading records were found with bill date 05/01/2021 and read date all."},
        {"", "", 1, "04/28/2021", "4 RECORDS FOUND", "4 reading records were found with read date 04/28/2021."},
        {"W", "", 1, "04/28/2021", "3 RECORDS FOUND", "3 reading records were found for code W with read date 04/28/2021."},
        {"", "", 1, "ALL", "", ""},
        // A new read date: on any bill date without one, else only on that bill date.
        {"", "", 2, "05/30/2021", "ONE RECORD FOUND", "One reading record was found with read date 05/30/2021."},
        {"", "05/01/2021", 2, "05/30/2021", "NO RECORDS FOUND", "NO reading records were found with read date 05/30/2021."},
        {"", "05/01/2021", 2, "04/29/2021", "ONE RECORD FOUND", "One reading record was found with read date 04/29/2021."},
    };
    auto &f = OpenForm();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code + " | " + c.bill + " | " + std::to_string(c.field) + " = " + c.entry);
        for (auto *t : f.txt) t->SetText("");
        f.cboCode->SetFocus();
        ProcessEvents();
        f.cboCode->SetText(c.code.empty() ? " ALL CODES" : c.code);
        f.txt[0]->SetText(c.bill);
        ClearBoxes();
        Enter(c.field, c.entry);
        EXPECT_EQ(Shown(), c.title.empty() ? "" : c.title + " | 64 | " + c.prompt);  // vbInformation
        EXPECT_TRUE(DatabasesClosed());  // the count leaves no database open
    }
    // A typed code stays as typed: w is not completed to the code W.
    f.cboCode->SetText("");
    f.cboCode->SetFocus();
    QTest::keyClicks(f.cboCode->widget(), "w");
    ClearBoxes();
    Enter(0, "06/01/2021");
    EXPECT_EQ(Shown(), "ONE RECORD FOUND | 64 | One reading record was found for code w with bill date 06/01/2021.");
    EXPECT_EQ(f.cboCode->Text(), "w");
}

}  // namespace
