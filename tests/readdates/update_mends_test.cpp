// The correction run's safeguards: quoted values, sets beyond 16-bit positions, all-or-nothing
// with a failure injected mid-run, and entries checked again when Continue is pressed.
#include <QComboBox>

#include <filesystem>

#include "platform/ui/app.h"
#include "readdates/update_env.h"

namespace frdtest {
namespace {

using platform::ui::MsgBoxRecord;

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
    AddManyReadings("2021-05-01", "2021-04-28", "W", 1, 40000);
    SelectRange(1, 40000);
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
    Fill("05/01/2021", "04/28/2021", "04/30/2021");
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
    Fill("05/01/2021", "04/28/2021", "04/30/2021");
    Data()->exec("drop table LIDB");
    ExpectRunFailsAndChangesNothing();
}

TEST_F(FailureTest, MissingAuditFolderStopsTheRunBeforeAnyChange) {
    Fill("05/01/2021", "04/28/2021", "04/30/2021");
    std::filesystem::remove_all(AuditFolder());
    ExpectRunFailsAndChangesNothing();
    EXPECT_NE(boxes[0].prompt.find("Run-time error '76'"), std::string::npos) << boxes[0].prompt;
}

TEST_F(FailureTest, AuditFileThatCannotBeWrittenAfterTheCommitIsReported) {
    Fill("05/01/2021", "04/28/2021", "04/30/2021");
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
