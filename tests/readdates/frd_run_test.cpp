// The correction run through the real window: which records change, their audit entries, the progress
// bar and the final message; quoted values, sets beyond 16-bit positions, all-or-nothing with a failure
// injected mid-run, and entries checked again when Continue is pressed.
#include <QComboBox>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/ui/app.h"
#include "readdates/frd_fixture.h"
#include "startup/audit.h"
#include "startup/shared.h"

namespace frdtest {

// A box as one comparable text: title, style, prompt.
inline std::string Box(const platform::ui::MsgBoxRecord &r) {
    return r.title + " | " + std::to_string(r.style) + " | " + r.prompt;
}

class UpdateTest : public FrdTest {
protected:
    UpdateTest() {
        platform::SetClockForTests([] { return platform::MakeDateTime(2021, 5, 3, 14, 7); });
    }
    ~UpdateTest() override { platform::SetClockForTests({}); }

    // Opens the window, chooses the code and leaves each field with its entry; forgets the count boxes.
    readdates::frmFixDupRdgs &Fill(const std::string &bill, const std::string &oldDate, const std::string &newDate,
                                   const std::string &code = " ALL CODES") {
        auto &f = form() ? *form() : OpenForm();
        f.cboCode->SetText(code);
        Enter(0, bill);
        Enter(1, oldDate);
        Enter(2, newDate);
        ClearBoxes();
        return f;
    }
    // Presses Continue; the boxes it showed.
    std::vector<platform::ui::MsgBoxRecord> Continue() {
        ClearBoxes();
        form()->cmdContinue->Press();
        ProcessEvents();
        return boxes;
    }
    std::filesystem::path AuditFile() const { return AuditFolder() / "billing202105.LOG"; }
    std::vector<std::string> AuditLines() const {
        std::vector<std::string> lines;
        if (!std::filesystem::exists(AuditFile())) return lines;
        const std::string text = qvtest::ReadFile(AuditFile());
        for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(text.substr(at, end - at));
        return lines;
    }
    std::vector<std::string> ReadDates() const {
        std::vector<std::string> out;
        for (auto &row : DataRows("select readdate from [tbl reading] order by rowid")) out.push_back(row[0]);
        return out;
    }
    long long LidbCount() const { return DataCount("select count(*) from LIDB"); }
};

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

TEST_F(RunTest, SpecificReadDateMatchesByDayIsAuditedAndClosesTheDatabases) {
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
    // The databases are closed and the window is ready again.
    EXPECT_EQ(platform::dao::DBEngine().Workspaces(0).DatabasesCount(), 0);
    EXPECT_FALSE(platform::dao::DBEngine().Workspaces(0).InTransaction());
    EXPECT_FALSE(startup::Shared().db);
    EXPECT_FALSE(startup::Shared().rs);
    EXPECT_EQ(f.ActiveControl(), f.cboCode);
    EXPECT_TRUE(DataHasTable("FRDLK"));
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

TEST_F(UpdateTest, OddCodesAndKeysAreCorrectedAndAuditedVerbatim) {
    Select(7, "O'HARE-7");
    AddReadings({{"2021-05-01", "2021-04-28", "O'B", 7}, {"2021-05-01", "2021-04-28", "OB", 7}});
    // A selected key that is no number, and a code whose bytes are not UTF-8.
    qvtest::SqlFile(TempDataFile()).exec("insert into selectionsetDTC (lockey, accno) values ('K'' or 1=1', 'KAY')");
    Data()->exec("insert into [tbl reading] (billdate, readdate, code, lockey) values "
                 "('2021-05-01', '2021-04-28', 'O''B', 'K'' or 1=1'), "
                 "('2021-05-01', '2021-04-28', cast(x'4fff' as text), 7)");
    auto &f = Fill("05/01/2021", "ALL", "04/30/2021", "O'B");
    auto shown = Continue();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].prompt, "2 reading records were updated.");

    // The code as listed and chosen in the list selects its own readings.
    const std::string odd = "O\xff";
    int listed = 0;
    while (listed < f.cboCode->ListCount() && f.cboCode->List(listed) != odd) ++listed;
    ASSERT_LT(listed, f.cboCode->ListCount());
    static_cast<QComboBox *>(f.cboCode->widget())->setCurrentIndex(listed);
    shown = Continue();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].prompt, "1 reading record was updated.");

    EXPECT_EQ(ReadDates(), (std::vector<std::string>{"2021-04-30", "2021-04-28", "2021-04-30", "2021-04-30"}));
    const std::string what = "Changed read date from ALL to 04/30/2021 for bill date 05/01/2021 for account ";
    const std::vector<std::string> whats = {what + "O'HARE-7 for code O'B", what + "KAY for code O'B",
                                            what + "O'HARE-7 for code " + odd};
    const auto rows = DataRows("select What from LIDB");
    const auto lines = AuditLines();
    ASSERT_EQ(rows.size(), 3u);
    ASSERT_EQ(lines.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i][0], whats[i]);
        EXPECT_TRUE(lines[i].ends_with(" " + whats[i])) << lines[i];
    }
}

TEST_F(UpdateTest, RunVisitsEveryRecordOfALargeSet) {
    SelectRange(1, 40000);
    Data()->exec("with recursive n(i) as (select 1 union all select i + 1 from n where i < 40000) "
                 "insert into [tbl reading] select '2021-05-01', '2021-04-28', 'W', i from n");
    Fill("05/01/2021", "04/28/2021", "04/30/2021");
    const auto shown = Continue();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].prompt, "40000 reading records were updated.");
    EXPECT_EQ(DataCount("select count(*) from [tbl reading] where readdate = '2021-04-30'"), 40000);
    EXPECT_EQ(LidbCount(), 40000);
    EXPECT_EQ(DataCount("select count(*) from LIDB where What not like '% for account A%'"), 0);  // each found
    const auto lines = AuditLines();
    ASSERT_EQ(lines.size(), 40000u);
    // Lines follow the record order.
    EXPECT_NE(lines.front().find(" for account A1 for code W"), std::string::npos);
    EXPECT_NE(lines.back().find(" for account A40000 for code W"), std::string::npos);
}

// Five selected readings that all match; a failure partway through must undo the whole run.
class FailureTest : public UpdateTest {
protected:
    FailureTest() {
        for (long long k = 1; k <= 5; ++k) {
            Select(k, "A" + std::to_string(k));
            AddReading({"2021-05-01", "2021-04-28", "W", k});
        }
        Fill("05/01/2021", "04/28/2021", "04/30/2021");
    }
    // Runs and expects the last-resort report, then nothing changed anywhere.
    void ExpectRunFailsAndChangesNothing() {
        const auto shown = Continue();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].style, platform::ui::vbCritical);
        EXPECT_EQ(shown[0].prompt.rfind("Run-time error '", 0), 0u) << shown[0].prompt;
        EXPECT_TRUE(platform::ui::Ending());
        EXPECT_EQ(DataCount("select count(*) from [tbl reading] where readdate = '2021-04-28'"), 5);
        if (DataHasTable("LIDB")) {
            EXPECT_EQ(LidbCount(), 0);
        }
        EXPECT_TRUE(AuditLines().empty());
        EXPECT_FALSE(platform::dao::DBEngine().Workspaces(0).InTransaction());
    }
};

TEST_F(FailureTest, UpdateRefusedOnTheFourthRecordRollsBackTheRun) {
    auto d = Data();
    d->exec("create table hits (n INTEGER)");
    d->exec("insert into hits values (0)");
    d->exec("create trigger refuse_fourth before update on [tbl reading] begin "
            "update hits set n = n + 1; "
            "select raise(abort, 'refused') where (select n from hits) >= 4; end");
    d.reset();
    ExpectRunFailsAndChangesNothing();
}

TEST_F(FailureTest, MissingAuditTableRollsBackTheRun) {
    Data()->exec("drop table LIDB");
    ExpectRunFailsAndChangesNothing();
}

TEST_F(FailureTest, MissingAuditFolderStopsTheRunBeforeAnyChange) {
    std::filesystem::remove_all(AuditFolder());
    ExpectRunFailsAndChangesNothing();
    EXPECT_NE(boxes[0].prompt.find("Run-time error '76'"), std::string::npos) << boxes[0].prompt;
}

TEST_F(FailureTest, AuditFileThatCannotBeWrittenAfterTheCommitIsReported) {
    std::filesystem::create_symlink("/dev/full", AuditFile());
    const auto shown = Continue();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(Box(shown[0]), "Quorvant 32 | 48 | The reading records were updated, but their audit file "
                             "C:\\QVNWin32\\AUDIT\\billing202105.LOG could not be written: Disk full.\n\n"
                             "Each change is recorded in table LIDB of the data database.");
    EXPECT_EQ(Box(shown[1]), "FINISHED | 64 | 5 reading records were updated.");
    EXPECT_FALSE(platform::ui::Ending());
    EXPECT_EQ(DataCount("select count(*) from [tbl reading] where readdate = '2021-04-30'"), 5);
    EXPECT_EQ(LidbCount(), 5);
}

TEST_F(FailureTest, EntriesInvalidAtThePressAreRefusedBeforeAnythingOpens) {
    struct Case {
        int field;
        std::string text;
    };
    for (const Case &c : {Case{2, ""}, Case{0, "13/45/2021"}, Case{1, " ALL"}, Case{1, ""}}) {
        auto &f = Fill("05/01/2021", "04/28/2021", "04/30/2021");
        ASSERT_TRUE(f.cmdContinue->Enabled());
        f.txt[c.field]->SetText(c.text);  // changed without leaving the field
        const auto shown = Continue();
        ASSERT_EQ(shown.size(), 1u) << c.text;
        EXPECT_EQ(Box(shown[0]), "Quorvant 32 | 16 | Invalid Date") << c.text;
        EXPECT_FALSE(f.cmdContinue->Enabled()) << c.text;
        EXPECT_FALSE(f.pb1->Visible());
        EXPECT_FALSE(platform::ui::Ending());
        EXPECT_EQ(DataCount("select count(*) from [tbl reading] where readdate = '2021-04-28'"), 5);
        EXPECT_EQ(LidbCount(), 0);
        EXPECT_FALSE(std::filesystem::exists(AuditFile()));
    }
}

}  // namespace
}  // namespace frdtest
