// The undo window on a real installation: corrections made through the read-date window and undone
// (every stored value given back exactly, readings changed since left and counted, an undo refused
// twice, an undo undone), one read-date window per data database, failed undos that change nothing,
// and undos killed at random points.
#include <QApplication>
#include <grp.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/filelock.h"
#include "platform/paths.h"
#include "readdates/frd_fixture.h"
#include "startup/audit.h"
#include "startup/shared.h"
#include "support/child.h"
#include "undo/frmUndoFixRdgs.h"
#include "undo/undo_run.h"

namespace {

namespace fs = std::filesystem;
using platform::ui::MsgBoxRecord;
using Rows = std::vector<std::vector<std::string>>;

class UndoTest : public ::testing::Test, public frdtest::FrdEnv {
protected:
    UndoTest() {
        platform::SetClockForTests([this] { return platform::MakeDateTime(2021, 5, 3, 14, 7, second_); });
        recorder.answer = platform::ui::vbYes;  // the question before an undo (or a far-off correction)
    }
    ~UndoTest() override {
        if (undo_ && undo_->IsLoaded()) undo_->Unload();
        undo_.reset();
        platform::SetClockForTests({});
    }

    // A correction of the read dates of 05/01/2021 (every one by default) through the read-date window, closed again.
    void Correct(const char *from = "all", const char *to = "05/02/2021", const char *bill = "05/01/2021") {
        auto &f = OpenForm();
        for (const auto &[field, text] : {std::pair{0, bill}, {1, from}, {2, to}}) Enter(field, text);
        ClearBoxes();
        f.cmdContinue->Press();
        ProcessEvents();
        ASSERT_EQ(boxes.at(boxes.size() - 1).title, "FINISHED");
        f.Unload();
    }
    undo::frmUndoFixRdgs &OpenUndo() {
        undo_ = std::make_unique<undo::frmUndoFixRdgs>();
        undo_->Show();
        ProcessEvents();
        return *undo_;
    }
    // Presses Undo; the boxes it showed after its question (kept in `question`, "" when none came).
    std::vector<MsgBoxRecord> PressUndo() {
        ClearBoxes();
        undo_->cmdUndo->Press();
        ProcessEvents();
        question.clear();
        if (!boxes.empty() && (boxes[0].style & 7) == platform::ui::vbYesNo) {
            EXPECT_EQ(boxes[0].title + " " + std::to_string(boxes[0].style), "Quorvant 32 292");  // No by default
            question = boxes[0].prompt;
            boxes.erase(boxes.begin());
        }
        return boxes;
    }
    std::string question;
    // Presses Undo; the boxes after its question as "title: prompt", one a line.
    std::string UndoBoxes() {
        std::string text;
        for (const auto &b : PressUndo()) text += (text.empty() ? "" : "\n") + b.title + ": " + b.prompt;
        return text;
    }
    // The read dates as stored (quote() tells a text from a number and Null).
    Rows Stored() const { return DataRows("select rowid, quote(readdate) from [tbl reading] order by rowid"); }
    Rows Runs() const { return DataRows("select run, records, kept, undoes, undoneby from FRDRUN order by run"); }
    std::unique_ptr<undo::frmUndoFixRdgs> undo_;
    int second_ = 0;  // of the clock, at 05/03/2021 14:07
};

// Bill date 05/01/2021, accounts 1 to 6 selected; what each reading's read date is as stored.
class UndoRunTest : public UndoTest {
protected:
    UndoRunTest() {
        for (long long k = 1; k <= 6; ++k) Select(k, "A" + std::to_string(k));
        AddReadings({
            {"2021-05-01", "2021-04-28", "W", 1},
            {"2021-05-01", "2021-04-29 14:35:07", "E", 2},  // a time of day
            {"2021-05-01", "", "W", 3},                     // Null
            {"2021-05-01", "2021-04-28 00:00:00", "W", 4},  // midnight written out: kept as written
            {"2021-05-01", "2021-04-30", "W", 5},           // changed again after the correction
            {"2021-05-01", "2021-04-27", "G", 6},           // deleted after the correction
            {"2021-05-01", "2021-04-28", "W", 9},           // not selected
            {"2021-06-01", "2021-04-28", "W", 1},           // another bill date
        });
    }
};

// The keyboard run under X (tests/e2e) undoes an undo and compares the audit file with LIDB; here the
// texts of the list, the boxes and the lines, and values that only this installation holds.
TEST_F(UndoRunTest, UndoGivesBackEveryStoredValueLeavesLaterChangesAndIsRefusedTwice) {
    const Rows before = Stored();
    Correct();
    Data()->exec("update [tbl reading] set readdate = '2021-05-09' where lockey = 5; "
                 "delete from [tbl reading] where lockey = 6");

    auto &w = OpenUndo();
    ASSERT_EQ(w.lstRuns->ListCount(), 1);
    EXPECT_TRUE(w.lstRuns->ListIndex() == 0 && w.ActiveControl() == w.lstRuns);
    EXPECT_TRUE(qvtest::UnnamedForAScreenReader(w).empty() && qvtest::ClippedCaptions(w).empty());
    const std::vector<std::string> row = {"05/03/2021 14:07:00", startup::AuditUser(), "05/01/2021", "ALL CODES",
                                          "all \u2192 05/02/2021", "6", "in force"};
    for (int column = 0; column < 7; ++column) EXPECT_EQ(w.lstRuns->ItemText(0, column), row[column]);

    // Asked first; No changes nothing and keeps the window and its choice.
    const Rows corrected = Stored();
    recorder.answer = platform::ui::vbNo;
    EXPECT_TRUE(PressUndo().empty());
    EXPECT_EQ(question, "4 reading records of bill date 05/01/2021 will get back the read dates they had:\n2 reading "
                        "records: the read date 04/28/2021\n1 reading record: the read date 04/29/2021\n1 reading record: "
                        "no read date\n\n2 reading records changed again or deleted since stay as they are.\n\nUndo the "
                        "read-date correction of 05/03/2021 14:07:00?");
    EXPECT_TRUE(Stored() == corrected && Runs().size() == 1u && w.IsVisible());
    EXPECT_TRUE(w.lstRuns->ListIndex() == 0 && w.ActiveControl() == w.lstRuns);
    recorder.answer = platform::ui::vbYes;
    second_ = 12;
    const std::string since = ": changed again or deleted since";
    EXPECT_EQ(UndoBoxes(), "FINISHED: 4 reading records were given back their earlier read date.\n\n2 reading records "
                           "were left as they are:\naccount A5, code W" + since + "\naccount A6, code G" + since);
    // Every reading the correction changed and nobody touched since holds exactly what it held.
    Rows expected = before;
    expected[4][1] = "'2021-05-09'";
    expected.erase(expected.begin() + 5);
    EXPECT_EQ(Stored(), expected);
    EXPECT_EQ(Runs(), (Rows{{"1", "6", "0", "<null>", "2"}, {"2", "4", "2", "1", "<null>"}}));
    // The list shows the undo first; the undone run stays chosen, so a second Undo is refused.
    ASSERT_EQ(w.lstRuns->ListCount(), 2);
    EXPECT_TRUE(w.lstRuns->ListIndex() == 1 && w.ActiveControl() == w.lstRuns);
    EXPECT_EQ(w.lstRuns->ItemText(0, 4) + " | " + w.lstRuns->ItemText(0, 5) + " | " + w.lstRuns->ItemText(1, 6),
              "undo of 05/03/2021 14:07:00 | 4 (2 left) | undone 05/03/2021 14:07:12");

    const auto lines = AuditLines();
    ASSERT_EQ(lines.size(), 12u);
    // Every time in a line on the 12-hour clock of its stamp.
    const std::string undone = "Undo of the read-date correction of 05/03/2021 02:07:00 PM: Changed read date from 05/02/2021 to ";
    EXPECT_TRUE(lines[7].ends_with(undone + "04/29/2021 02:35:07 PM for bill date 05/01/2021 for account A2 for code E"))
        << lines[7];
    EXPECT_TRUE(lines[8].ends_with(undone + "Null for bill date 05/01/2021 for account A3 for code W")) << lines[8];
    EXPECT_TRUE(lines[10].ends_with(": Left the read date as it is for bill date 05/01/2021 for account A5 for code W" +
                                    since)) << lines[10];

    EXPECT_EQ(UndoBoxes(), "Quorvant 32: The read-date correction of 05/03/2021 14:07:00 was undone on 05/03/2021 "
                           "14:07:12. A correction is undone only once; to make it again, undo its undo.");
    EXPECT_EQ(Stored(), expected);
    EXPECT_EQ(Runs().size(), 2u);
    // The undo undone, then undone in turn: each run's state as it is now.
    for (const char *states : {"in force | undone 05/03/2021 14:07:13 | in force again 05/03/2021 14:07:13",
                               "in force | undone 05/03/2021 14:07:14 | in force again 05/03/2021 14:07:14 | undone "
                               "again 05/03/2021 14:07:14"}) {
        w.lstRuns->SetListIndex(0);
        ++second_;
        PressUndo();
        std::string shownStates = w.lstRuns->ItemText(0, 6);
        for (int i = 1; i < w.lstRuns->ListCount(); ++i) shownStates += " | " + w.lstRuns->ItemText(i, 6);
        EXPECT_EQ(shownStates, states);
    }
    const auto undoOfUndo = AuditLines();  // its lines name the undo they undo as such
    EXPECT_TRUE(undoOfUndo[12].find("Undo of the undo of 05/03/2021 02:07:12 PM (which undid the correction of "
                                    "05/03/2021 02:07:00 PM): Changed read date from ") != std::string::npos)
        << undoOfUndo[12];
    EXPECT_TRUE(undoOfUndo[16].find("Undo of the undo of 05/03/2021 02:07:13 PM (which undid the undo of ") !=
                std::string::npos) << undoOfUndo[16];
    EXPECT_EQ(Stored(), expected);
    EXPECT_TRUE(DatabasesClosed());
}

// A read date given back a whole year before its bill date across 29 February (366 days) is not far off;
// a day more is named as such, and so is the far-off date that an undo of an undo gives back.
TEST_F(UndoTest, TheQuestionBeforeAnUndoNamesFarOffReadDatesAndNoChangesNothing) {
    for (long long k = 1; k <= 3; ++k) Select(k, "A" + std::to_string(k));
    AddReadings({{"2020-03-01", "2019-03-01", "W", 1}, {"2020-03-01", "2019-02-28", "W", 2},
                 {"2020-03-01", "2019-02-28", "W", 3}});
    const Rows before = Stored();
    Correct("all", "02/27/2019", "03/01/2020");  // far off: asked, answered Yes
    const Rows corrected = Stored();
    auto &w = OpenUndo();
    const char *questions[] = {
        "3 reading records of bill date 03/01/2020 will get back the read dates they had:\n2 reading records: the read "
        "date 02/28/2019, 367 days before their bill date\n1 reading record: the read date 03/01/2019\n\nUndo the "
        "read-date correction of 05/03/2021 14:07:00?",
        "3 reading records of bill date 03/01/2020 will get back the read date 02/27/2019, 368 days before their bill "
        "date.\n\nUndo the undo of 05/03/2021 14:07:01 (which undid the correction of 05/03/2021 14:07:00)?"};
    for (const Rows *now : {&corrected, &before}) {
        SCOPED_TRACE(now == &before ? "the undo of the undo" : "the undo");
        w.lstRuns->SetListIndex(0);
        recorder.answer = platform::ui::vbNo;
        EXPECT_TRUE(PressUndo().empty());
        EXPECT_EQ(question, questions[now == &before]);
        EXPECT_TRUE(Stored() == *now && w.lstRuns->ListIndex() == 0);
        recorder.answer = platform::ui::vbYes;
        ++second_;
        ASSERT_EQ(PressUndo().at(0).title, "FINISHED");
    }
    EXPECT_EQ(Stored(), corrected);
}

// An older correction whose readings a newer one changed again waits for the newer one's undo (undone
// first, it would give nothing back and be used up); undone in turn, both give every value back.
TEST_F(UndoRunTest, AnOlderCorrectionIsUndoneAfterTheNewerOneThatChangedItsReadings) {
    const Rows before = Stored();
    Correct();
    Correct("05/02/2021", "05/04/2021");
    auto &w = OpenUndo();
    w.lstRuns->SetListIndex(1);
    EXPECT_EQ(UndoBoxes(), "Quorvant 32: The read-date correction could not be undone:\n\nSome of its readings were "
                           "changed since by the read-date correction of 05/03/2021 14:07:00 (05/02/2021 \u2192 "
                           "05/04/2021), which is not undone: undo that one first.\n\nNo reading record was changed.");
    EXPECT_EQ(Runs().size(), 2u);
    for (int older : {0, 2}) {  // the newer run, then (below the newer one's undo) the older
        w.lstRuns->SetListIndex(older);
        EXPECT_EQ(UndoBoxes(), "FINISHED: 6 reading records were given back their earlier read date.");
    }
    EXPECT_EQ(Stored(), before);
}

// The record lies in the data database, which every clerk may write: an edited record gives no reading
// a date the correction did not give it, or a value that is no stored date, and ends at once whatever its range.
TEST_F(UndoRunTest, AnEditedRecordChangesNoReadingTheCorrectionDidNotChange) {
    const Rows before = Stored();
    Correct();
    const Rows corrected = Stored();
    const std::string data = qvtest::ReadFile(DataFile());
    const struct { const char *edit, *box; std::vector<int> givenBack; } cases[] = {
        {"update FRDCHG set reading = 7, lockey = 9, newdate = '2021-04-28', olddate = '1999-01-01' where reading = 1",
         "1 reading record was left", {2, 3, 4, 5, 6}},
        {"update FRDCHG set olddate = case reading when 1 then 'NOTADATE' when 2 then 12345.5 when 3 then x'00ff' "
         "else printf('%.*c', 10000000, '7') end where reading <= 4", "4 reading records were left", {5, 6}},
        // Dates in another form than the stored one would be written into the readings as they stand.
        {"update FRDCHG set olddate = case reading when 1 then '1/1/99' when 2 then 'Jan 1 1999' else "
         "'  2021-04-28' end where reading <= 3", "3 reading records were left", {4, 5, 6}},
        {"update FRDRUN set lastchange = 9223372036854775807", "its rows do not match", {}},
        {"update FRDCHG set run = run + 1 where reading = 5", "5 of the 6 readings it changed are recorded", {}},
        {"update FRDRUN set firstchange = 9223372036854775806, lastchange = 9223372036854775807, records = 2; update "
         "FRDCHG set rowid = 9223372036854775805 + reading where reading <= 2", "2 reading records were given", {1, 2}},
        {"update FRDRUN set [When] = 'NOTADATE'", "cannot be read", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.edit);
        if (undo_) undo_->Unload();
        qvtest::WriteFile(DataFile(), data);
        Data()->exec(c.edit);
        ASSERT_TRUE(OpenUndo().IsLoaded());
        const auto shown = PressUndo();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_TRUE(shown[0].prompt.find(c.box) != std::string::npos) << shown[0].prompt;
        Rows expected = corrected;  // but for the readings given back
        for (int r : c.givenBack) expected[r - 1] = before[r - 1];
        EXPECT_EQ(Stored(), expected);
    }
    EXPECT_EQ(undo_->lstRuns->ItemText(0, 0), "unreadable");
}

TEST_F(UndoRunTest, AFailedUndoSaysSoKeepsTheWindowAndChangesNothing) {
    Correct();
    const Rows corrected = Stored();
    struct Case {
        const char *what;
        std::function<void()> make, mend;
        const char *reason;
    } cases[] = {
        {"no AUDIT folder", [&] { fs::rename(AuditFolder(), AuditFolder().string() + ".away"); },
         [&] { fs::rename(AuditFolder().string() + ".away", AuditFolder()); },
         "Path not found: 'C:\\QVNWin32\\AUDIT'."},
        {"the third reading refused",
         [&] {
             Data()->exec("create table hits (n INTEGER); insert into hits values (0);"
                          "create trigger refuse before update on [tbl reading] begin update hits set n = n + 1;"
                          "select raise(abort, 'refused') where (select n from hits) >= 3; end");
         },
         [&] { Data()->exec("drop trigger refuse; drop table hits"); },
         "A field of the record cannot hold this value. (refused)"},
    };
    auto &w = OpenUndo();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        c.make();
        const auto shown = PressUndo();
        c.mend();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].style, platform::ui::vbCritical);
        EXPECT_EQ(shown[0].prompt, "The read-date correction could not be undone:\n\n" + std::string(c.reason) +
                                       "\n\nNo reading record was changed.");
        EXPECT_TRUE(w.IsVisible() && !w.pb1->Visible() && !platform::ui::Ending());
        EXPECT_EQ(Stored(), corrected);
        EXPECT_EQ(Runs(), (Rows{{"1", "6", "0", "<null>", "<null>"}}));
        EXPECT_EQ(ExpectAuditFileAgreesWithLidb(), 6u);
        EXPECT_TRUE(DatabasesClosed());
    }
}

// One read-date window, correction or undo, per data database: a second of either is refused in its own
// words and changes nothing, and a restore finds the database held (the lock it asks about).
TEST_F(UndoTest, OneReadDateWindowPerDataDatabaseEachRefusedWithItsOwnWordsAndNoRestoreMeanwhile) {
    const auto lock = platform::MapPath(startup::ReadDateLockOf(frdtest::kDataPath));
    const std::string held = " for the data database C:\\QVData\\billing.mdb in another window of the login " +
                             platform::UserName() + ".\n\nClose that window "
                             "first; only one can be open for a data database at a time.";
    Select(1, "A1");
    Select(2, "A2");
    auto &f = OpenForm();
    qvtest::SqlFile(TempDataFile()).exec("delete from selectionsetDTC where lockey = 2");  // changed since
    ClearBoxes();
    auto frd = OpenSecondForm();
    EXPECT_FALSE(OpenUndo().IsLoaded());
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].prompt, "Read dates are already being corrected or undone" + held);
    EXPECT_EQ(boxes[1].prompt, "Read-date corrections cannot be undone now: read dates are being corrected or undone" + held);
    EXPECT_FALSE(frd->IsLoaded() || frd->IsVisible());
    frd.reset();
    if (::geteuid() == 0) {  // a login that may not change the data database, or make its lock files, is told so
        std::filesystem::permissions(drives.root(), std::filesystem::perms(0755));
        const std::string may = "This login may not change that database or create files in its folder. ",
                          group = "The login nobody is not in the group root, which owns the folder of the database "
                                  "C:\\QVData\\billing.mdb: only the logins of that group may change it. The "
                                  "administrator adds this login to the group (sudo usermod -aG root nobody); it counts "
                                  "from its next log-in.\n\n";
        for (const auto &[folder, why] : {std::pair{0755, may}, {0777, may}, {0775, group}}) {
            std::filesystem::permissions(DataFile().parent_path(), std::filesystem::perms(folder));
            qvtest::Child nobody([&] {
                ClearBoxes();
                const bool refused = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0 &&
                                     !OpenUndo().IsLoaded() && boxes.size() == 1;
                const std::string &p = refused ? boxes[0].prompt : why;
                return refused && p.starts_with("Read-date corrections cannot be undone in the data database "
                                                "C:\\QVData\\billing.mdb:\n\n") &&
                               p.ends_with(why + "Nothing was changed.") && p.find(".ldb") == std::string::npos &&
                               p.find("'C:\\QVData\\billing.mdb'") == std::string::npos ? 0 : 1;  // named once
            });
            EXPECT_EQ(nobody.Wait(), 0) << folder;
        }
        std::filesystem::permissions(DataFile().parent_path(), std::filesystem::perms(0755));
    }
    // The first window's FRDLK is untouched and still serves it.
    EXPECT_EQ(DataCount("select count(*) from FRDLK"), 2);
    ClearBoxes();
    AddReading({"2021-05-01", "2021-04-28", "W", 2});
    Enter(0, "05/01/2021");
    EXPECT_EQ(boxes.at(0).title, "ONE RECORD FOUND");
    f.Unload();
    EXPECT_FALSE(platform::FileLock::HeldByAnyone(lock));

    // A data database without any recorded run: an empty list, nothing to undo, nothing created.
    auto &w = OpenUndo();
    EXPECT_EQ(w.lstRuns->ListCount(), 0);
    EXPECT_FALSE(w.cmdUndo->Enabled());
    EXPECT_EQ(w.lbl->Caption(), "No read-date corrections are recorded for this data database; corrections made before "
                                "this version, or before a restore, cannot be undone.");
    EXPECT_FALSE(DataHasTable("FRDRUN"));
    EXPECT_TRUE(qvtest::ClippedCaptions(w).empty());
    EXPECT_TRUE(platform::FileLock::HeldByAnyone(lock));  // what the restore asks before it replaces
    ClearBoxes();
    EXPECT_FALSE(OpenSecondForm()->IsLoaded());
    EXPECT_EQ(boxes.at(0).prompt, "Read dates are already being corrected or undone" + held);
}

// An undo killed at random points, half of them after its audit lines were made durable just before the
// commit: the readings, the record of runs and LIDB hold the state before it or after it, and the audit
// file, completed as the next window completes it, has a line for every LIDB row. QV_UNDO_KILLS="<readings>
// <kills>" sets the size.
TEST_F(UndoTest, KilledAtRandomPointsLeavesTheStateBeforeOrAfterWithItsAuditTrail) {
    long long n = 10000, kills = 8;
    if (const char *size = std::getenv("QV_UNDO_KILLS")) std::sscanf(size, "%lld %lld", &n, &kills);
    SelectRange(1, n);
    Data()->exec("with recursive i(k) as (select 1 union all select k + 1 from i where k < " + std::to_string(n) +
                 ") insert into [tbl reading] select '2021-05-01', case k % 7 when 0 then null when 1 then "
                 "'2021-04-28 09:15:00' else '2021-04-28' end, 'W', k from i");
    const Rows original = Stored();
    Correct();
    const Rows corrected = Stored();
    const std::string data = qvtest::ReadFile(DataFile()), audit = qvtest::ReadFile(AuditFile());
    using us = std::chrono::microseconds;
    // The undo in a child process from the corrected state, killed `delay` after its start, or after its
    // batch was prepared; the times from the start to the preparation and from there to the end.
    auto run = [&](long delay, bool afterPreparation) {
        fs::remove(DataFile().string() + "-journal");
        qvtest::WriteFile(DataFile(), data);
        qvtest::WriteFile(AuditFile(), audit);
        const auto start = std::chrono::steady_clock::now();
        qvtest::Child child([] { return undo::UndoRun(1, [](auto, auto) {}).givenBack > 0 ? 0 : 1; });
        for (bool marked = false; !marked && !child.Ended(); std::this_thread::sleep_for(us(100)))
            for (const auto &pending : Pending()) marked |= qvtest::ReadFile(pending).find("\nmark ") != std::string::npos;
        const auto prepared = std::chrono::steady_clock::now();
        if (delay >= 0) {
            std::this_thread::sleep_until((afterPreparation ? prepared : start) + us(delay));
            child.Kill();
        }
        child.Wait();
        return std::pair{std::chrono::duration_cast<us>(prepared - start).count(),
                         std::chrono::duration_cast<us>(std::chrono::steady_clock::now() - prepared).count()};
    };
    const auto [toPreparation, fromThere] = run(-1, false);
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    int after = 0, completed = 0;
    for (int round = 0; round < kills; ++round) {
        const long delay = std::uniform_int_distribution<long>(0, round % 2 ? fromThere : toPreparation)(random);
        SCOPED_TRACE("killed " + std::to_string(delay) + " us after " + (round % 2 ? "the preparation" : "the start"));
        run(delay, round % 2);
        const std::size_t lines = AuditLines().size();
        startup::CompleteAuditFile();  // the tools' own open of the data database, as the next window opens it
        completed += AuditLines().size() != lines;
        const bool undone = Runs().size() == 2;
        after += undone;
        const std::string all = std::to_string(n);
        EXPECT_EQ(Runs(), (undone ? Rows{{"1", all, "0", "<null>", "2"}, {"2", all, "0", "1", "<null>"}}
                                  : Rows{{"1", all, "0", "<null>", "<null>"}}));
        EXPECT_TRUE(Stored() == (undone ? original : corrected));
        EXPECT_EQ(ExpectAuditFileAgreesWithLidb(), static_cast<std::size_t>(undone ? 2 * n : n));
    }
    std::cout << n << " readings: " << toPreparation << " us to the preparation, " << fromThere
              << " us from there to the end; killed before the commit " << kills - after << ", after it " << after
              << " (its lines completed at the next open " << completed << ")\n";
}

}  // namespace
