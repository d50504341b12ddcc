// Opening and closing the read-date window: the controls, the code list, the selection lock table
// FRDLK and the one-window-per-data-database rule.
#include <QWidget>

#include "platform/dao/dao.h"
#include "platform/ui/forms.h"
#include "readdates/frd_fixture.h"
#include "startup/shared.h"

namespace {

using frdtest::FrdTest;
using platform::ui::Rect;

bool SameRect(const Rect &a, const Rect &b) {
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

std::vector<std::string> CodeList(const readdates::frmFixDupRdgs &f) {
    std::vector<std::string> out;
    for (int i = 0; i < f.cboCode->ListCount(); ++i) out.push_back(f.cboCode->List(i));
    return out;
}

int OpenDatabases() { return platform::dao::DBEngine().Workspaces(0).DatabasesCount(); }

TEST_F(FrdTest, WindowOpensAsDesignedWithEveryCaptionWhole) {
    auto &f = OpenForm();
    EXPECT_EQ(f.Caption(), "Correct READ DATES for Meter Reading Records");

    struct Expect {
        platform::ui::Control *control;
        Rect r;
        int tab;
    };
    const Expect layout[] = {
        {f.cboCode, {4560, 360, 1935, 315}, 0},     {f.txt[0], {4560, 1200, 1215, 285}, 1},
        {f.txt[1], {4560, 2040, 1215, 285}, 2},     {f.txt[2], {4560, 3120, 1215, 285}, 3},
        {f.cmdContinue, {4200, 4320, 1125, 400}, 4}, {f.cmdExit, {5520, 4320, 1000, 400}, 5},
        {f.pb1, {240, 3840, 6255, 375}, 6},          {f.lbl[2], {240, 960, 6375, 495}, 7},
        {f.Label1, {240, 1800, 4095, 855}, 8},       {f.Label4, {240, 2880, 4215, 735}, 9},
        {f.lbl[0], {240, 360, 4815, 495}, 10},
    };
    for (const auto &e : layout) {
        SCOPED_TRACE(e.control->Name() + "(" + std::to_string(e.control->Index()) + ")");
        EXPECT_TRUE(SameRect(e.control->Geometry(), e.r));
        EXPECT_EQ(e.control->TabIndex(), e.tab);
    }
    EXPECT_EQ(f.lbl[1], nullptr);
    const std::pair<platform::ui::Control *, std::string> names[] = {
        {f.txt[0], "BILL DATE"}, {f.txt[1], "INCORRECT READ DATE"}, {f.txt[2], "new READ DATE"}};
    for (const auto &[control, name] : names) EXPECT_EQ(qvtest::AccessibleName(control), name);
    EXPECT_EQ(qvtest::LabelledBy(f.cboCode), f.lbl[0]->Caption());
    EXPECT_EQ(qvtest::LabelledBy(f.txt[0]), f.lbl[2]->Caption());

    EXPECT_EQ(f.cmdContinue->Caption(), "&Continue");
    EXPECT_FALSE(f.cmdContinue->Enabled());
    EXPECT_EQ(f.cmdExit->Caption(), "E&xit");
    EXPECT_EQ(f.cmdExit->ToolTipText(), "Exit this module");
    EXPECT_EQ(f.txt[1]->ToolTipText(),
              "Enter ALL if you want to make give the same READ DATE to all of the meter reading records for this "
              "BILL DATE.");
    EXPECT_EQ(f.Label1->Caption(),
              "Enter the INCORRECT READ DATE that needs to be changed, or enter ALL if all read dates for BILL DATE "
              "need to be corrected to the same READ DATE.");
    EXPECT_FALSE(f.pb1->Visible());
    EXPECT_EQ(f.pb1->Max(), 100);
    for (auto *t : f.txt) EXPECT_EQ(t->Text(), "");
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

}  // namespace
