// The correction run through the real window: which records change, their audit entries, the progress
// bar and the final message; quoted values, sets beyond 16-bit positions, all-or-nothing with a failure
// injected mid-run, and entries checked again when Continue is pressed.
#include <QComboBox>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <thread>
#include <tuple>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/ui/app.h"
#include "readdates/correction.h"
#include "readdates/read_date_entries.h"
#include "readdates/frd_fixture.h"
#include "startup/audit.h"
#include "startup/shared.h"
#include "support/file_size_limit.h"

namespace frdtest {

// A box as one comparable text: title, style, prompt.
inline std::string Box(const platform::ui::MsgBoxRecord &r) {
    return r.title + " | " + std::to_string(r.style) + " | " + r.prompt;
}

class UpdateEnv : public FrdEnv {
public:
    UpdateEnv() {
        platform::SetClockForTests([] { return platform::MakeDateTime(2021, 5, 3, 14, 7); });
    }
    ~UpdateEnv() { platform::SetClockForTests({}); }

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
    static std::string Finished(const std::string &prompt) { return Box({prompt, platform::ui::vbInformation, "FINISHED"}); }
    // Presses Continue; the boxes it showed, as Shown() writes them.
    std::string ContinueBoxes() {
        Continue();
        return Shown();
    }
    std::vector<std::string> ReadDates() const {
        std::vector<std::string> out;
        for (auto &row : DataRows("select readdate from [tbl reading] order by rowid")) out.push_back(row[0]);
        return out;
    }
    long long LidbCount() const { return DataCount("select count(*) from LIDB"); }
};

class UpdateTest : public ::testing::Test, public UpdateEnv {};

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
    std::string Line(const std::string &description) const {
        return "20210503 02:07 PM " + startup::AuditUser() + " " + description;
    }
};

TEST_F(RunTest, SpecificReadDateMatchesByDayIsAuditedAndClosesTheDatabases) {
    auto &f = Fill("5/1/21", "04/28/2021", "4/30/2021");
    ASSERT_TRUE(f.cmdContinue->Enabled());
    EXPECT_EQ(ContinueBoxes(), Finished("2 reading records were updated."));
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
    EXPECT_EQ(ContinueBoxes(), Finished("0 reading records were updated."));
    EXPECT_EQ(LidbCount(), 2);
    // The databases are closed and the window is ready again.
    EXPECT_TRUE(DatabasesClosed());
    EXPECT_EQ(f.ActiveControl(), f.cboCode);
    EXPECT_TRUE(DataHasTable("FRDLK"));
}

TEST_F(RunTest, AllChangesEveryReadingOfTheBillDateInTheSelection) {
    Fill("05/01/2021", "all", "04/28/2021");
    // Records that already carry the new date count too; the one without a read date gets it.
    EXPECT_EQ(ContinueBoxes(), Finished("4 reading records were updated."));
    EXPECT_EQ(ReadDates(), (std::vector<std::string>{"2021-04-28", "2021-04-28", "2021-04-28", "2021-04-28",
                                                     "2021-04-28", "2021-04-28"}));
    const auto lines = AuditLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], Line("Changed read date from all to 04/28/2021 for bill date 05/01/2021 for account 1001 for code W"));
    EXPECT_EQ(LidbCount(), 4);
}

// A typed year 208 puts the new read date centuries from the bill date: asked first, No by default.
TEST_F(RunTest, AFarOffNewReadDateIsAskedAboutAndNoChangesNothing) {
    auto &f = Fill("05/01/2021", "all", "4/24/208");
    const auto before = ReadDates();
    EXPECT_EQ(ContinueBoxes(), "Quorvant 32 | 292 | 4 reading records of bill date 05/01/2021 will get the read date "
                               "04/24/0208, 1,813 years before their bill date. Correct them?");
    EXPECT_TRUE(ReadDates() == before && LidbCount() == 0 && f.txt[2]->Text() == "04/24/0208");
    recorder.answer = platform::ui::vbYes;
    ASSERT_GE(Continue().size(), 2u);  // then the count of the new read date, left for the code list
    EXPECT_EQ(Box(boxes[1]), Finished("4 reading records were updated."));
    EXPECT_EQ(ReadDates().front(), "0208-04-24");
    // A whole year before the bill date across 29 February is 366 days: not asked; a day more is.
    AddReading({"2020-03-01", "2020-02-20", "W", 1});
    Fill("03/01/2020", "all", "03/01/2019");
    EXPECT_EQ(Box(Continue().at(0)), Finished("1 reading record was updated."));
    Enter(2, "02/28/2019");
    EXPECT_EQ(Box(Continue().at(0)), "Quorvant 32 | 292 | 1 reading record of bill date 03/01/2020 will get the read "
                                     "date 02/28/2019, 367 days before its bill date. Correct it?");
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

// An account number holding line breaks makes no line of its own in the audit file; LIDB keeps it exactly.
TEST_F(UpdateTest, OddCodesAndKeysAreCorrectedAndAuditedVerbatim) {
    const std::string account = "O'HARE\r\nevil::0:0::/root:/bin/sh\nx\x7f";
    Select(7, account);
    AddReadings({{"2021-05-01", "2021-04-28", "O'B", 7}, {"2021-05-01", "2021-04-28", "OB", 7}});
    // A selected key that is no number, and a code whose bytes are not UTF-8.
    qvtest::SqlFile(TempDataFile()).exec("insert into selectionsetDTC (lockey, accno) values ('K'' or 1=1', 'KAY')");
    Data()->exec("insert into [tbl reading] (billdate, readdate, code, lockey) values "
                 "('2021-05-01', '2021-04-28', 'O''B', 'K'' or 1=1'), "
                 "('2021-05-01', '2021-04-28', cast(x'4fff' as text), 7)");
    auto &f = Fill("05/01/2021", "ALL", "04/30/2021", "O'B");
    EXPECT_EQ(ContinueBoxes(), Finished("2 reading records were updated."));

    // The code as listed and chosen in the list selects its own readings.
    const std::string odd = "O\xff";
    int listed = 0;
    while (listed < f.cboCode->ListCount() && f.cboCode->List(listed) != odd) ++listed;
    ASSERT_LT(listed, f.cboCode->ListCount());
    static_cast<QComboBox *>(f.cboCode->widget())->setCurrentIndex(listed);
    EXPECT_EQ(ContinueBoxes(), Finished("1 reading record was updated."));

    EXPECT_EQ(ReadDates(), (std::vector<std::string>{"2021-04-30", "2021-04-28", "2021-04-30", "2021-04-30"}));
    const std::string what = "Changed read date from ALL to 04/30/2021 for bill date 05/01/2021 for account ";
    const std::string visible = "O'HARE<0D><0A>evil::0:0::/root:/bin/sh<0A>x<7F>";
    const std::vector<std::string> whats = {what + account + " for code O'B", what + "KAY for code O'B",
                                            what + account + " for code " + odd};
    const std::vector<std::string> inFile = {what + visible + " for code O'B", what + "KAY for code O'B",
                                             what + visible + " for code " + odd};
    const auto rows = DataRows("select What from LIDB");
    const auto lines = AuditLines();
    ASSERT_EQ(rows.size(), 3u);
    ASSERT_EQ(lines.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i][0], whats[i]);
        EXPECT_TRUE(lines[i].ends_with(" " + inFile[i])) << lines[i];
    }
}

// Five selected readings that all match, entered in the window.
class FiveReadings : public UpdateEnv {
public:
    FiveReadings() {
        for (long long k = 1; k <= 5; ++k) {
            Select(k, "A" + std::to_string(k));
            AddReading({"2021-05-01", "2021-04-28", "W", k});
        }
        Fill("05/01/2021", "04/28/2021", "04/30/2021");
    }
    // `n` of the five readings corrected, with as many LIDB rows; the window goes on, its bar hidden, no database open.
    void ExpectCorrected(int n) const {
        EXPECT_EQ(DataCount("select count(*) from [tbl reading] where readdate = '2021-04-30'"), n);
        EXPECT_EQ(DataCount("select count(*) from [tbl reading] where readdate = '2021-04-28'"), 5 - n);
        EXPECT_EQ(LidbCount(), n);
        EXPECT_TRUE(!platform::ui::Ending() && !form()->pb1->Visible() && DatabasesClosed());
    }
};

// A run that fails after it began changes nothing, says what failed and that nothing changed, and leaves
// the window as it was; FRDLK goes when the window closes.
TEST(RunFailure, ChangesNothingSaysWhatFailedAndKeepsTheWindow) {
    using Held = std::shared_ptr<void>;  // what stays in force during the run
    // The AUDIT folder, or the month's file in it, replaced by a link to `target` made by `owner`.
    auto link = [](FiveReadings &e, const char *name, const std::filesystem::path &target, uid_t owner) {
        const auto at = *name ? e.AuditFolder() / name : e.AuditFolder();
        std::filesystem::remove_all(at);
        std::filesystem::create_directories(e.drives.root() / "elsewhere");
        std::filesystem::create_symlink(target, at);
        EXPECT_EQ(::lchown(at.c_str(), owner, owner), 0);
        return Held();
    };
    const std::string audit = "C:\\QVNWin32\\AUDIT", elsewhere = "elsewhere";
    const std::vector<std::tuple<std::string, std::function<Held(FiveReadings &)>, bool>> cases = {
        {"refused", [](FiveReadings &e) {
             e.Data()->exec("create table hits (n INTEGER); insert into hits values (0); create trigger refuse_fourth "
                            "before update on [tbl reading] begin update hits set n = n + 1; "
                            "select raise(abort, 'refused') where (select n from hits) >= 4; end");
             return Held(); }, false},
        {"Path not found: '" + audit + "'.",
         [](FiveReadings &e) { std::filesystem::remove_all(e.AuditFolder()); return Held(); }, false},
        {"Permission denied: '" + audit + "\\billing202105.LOG'",  // a folder that refuses writes
         [&](FiveReadings &e) { return link(e, "", "/sys", ::geteuid()); }, false},
        {"'" + audit + "' is a link made by another user; nothing was written",
         [&](FiveReadings &e) { return link(e, "", e.drives.root() / elsewhere, 65534); }, true},
        {"'" + audit + "\\billing202105.LOG' is a link made by another user; nothing was written",
         [&](FiveReadings &e) { return link(e, "billing202105.LOG", e.drives.root() / elsewhere / "x", 65534); }, true},
        {"Could not use 'C:\\QVData\\billing.mdb'; file already in use.", [](FiveReadings &e) {  // by another program
             auto held = std::make_shared<int>(::open(e.DataFile().replace_extension(".ldb").c_str(), O_RDWR | O_CREAT, 0666));
             EXPECT_EQ(::flock(*held, LOCK_EX), 0);
             return Held(held.get(), [held](void *) { ::close(*held); }); }, false},
        {"", [](FiveReadings &) { return std::make_shared<qvtest::FileSizeLimit>(2000); }, false},  // a full disk
    };
    bool skipped = false;  // a link of another login needs root to make
    for (const auto &[says, arrange, asRoot] : cases) {
        SCOPED_TRACE(says);
        if (asRoot && ::geteuid() != 0) { skipped = true; continue; }
        FiveReadings e;
        auto &f = *e.form();
        Held held = arrange(e);
        const auto shown = e.Continue();
        held.reset();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].style, platform::ui::vbCritical);
        EXPECT_TRUE(shown[0].prompt.starts_with("The read dates could not be corrected:\n\n") &&
                    shown[0].prompt.find(says) != std::string::npos &&
                    shown[0].prompt.ends_with("\n\nNo reading record was changed."))
            << shown[0].prompt;
        e.ExpectCorrected(0);
        EXPECT_TRUE(e.AuditLines().empty());
        EXPECT_TRUE(e.Pending().empty());
        EXPECT_TRUE(!std::filesystem::exists(e.drives.root() / elsewhere) ||
                    std::filesystem::is_empty(e.drives.root() / elsewhere));
        EXPECT_EQ(f.pb1->Value(), 0);
        EXPECT_EQ(f.txt[1]->Text(), "04/28/2021");
        EXPECT_TRUE(e.DataHasTable("FRDLK"));
        f.cmdExit->Press();
        EXPECT_FALSE(e.DataHasTable("FRDLK"));
    }
    if (skipped) GTEST_SKIP() << "the cases of another login's link need root";
}

// Killed at random points around the commit of corrections beyond 32767 readings, the audit file ends
// with exactly one line per changed reading: every line of each run that committed (written when the
// window opens next, a line cut short included) and none of a run that did not. The kills aim at the
// time from the batch's preparation through the commit to its first line, and at the time its lines
// are being written. QV_KILLS="<records> <kills>" sets the size.
TEST_F(UpdateTest, KilledAroundTheCommitTheAuditFileHoldsOneLinePerChangedReading) {
    long long records = 33000, kills = 6;
    if (const char *size = std::getenv("QV_KILLS")) std::sscanf(size, "%lld %lld", &records, &kills);
    SelectRange(1, records);
    Data()->exec("with recursive n(i) as (select 1 union all select i + 1 from n where i < " + std::to_string(records) +
                 ") insert into [tbl reading] select '2021-05-01', '2021-04-28', 'W', i from n");
    using us = std::chrono::microseconds;
    std::map<std::string, int> landed;
    // One round: the window opens (and completes what the last round left), a child process corrects every
    // reading to a read date of its own and is killed `delay` after its batch was prepared, or after the
    // audit file began to grow (`atTheLines`); not at all for a negative delay. The times from the preparation
    // to the first line written and from there to the last.
    auto round = [&](int number, bool atTheLines, us delay) {
        OpenForm();
        EXPECT_TRUE(Pending().empty());
        const long long rowsBefore = LidbCount();
        const pid_t child = ::fork();
        if (child == 0) {
            const std::string date = "03/" + std::to_string(1 + number % 28) + "/2021";
            readdates::CorrectReadDates({"05/01/2021", readdates::kAllCodes, "ALL", date}, [](auto, auto, bool) {});
            ::_exit(0);
        }
        siginfo_t ended{};
        auto running = [&] { return !::waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOHANG | WNOWAIT) && !ended.si_pid; };
        std::vector<std::filesystem::path> pending;
        while ((pending = Pending()).empty() && running()) std::this_thread::sleep_for(us(200));
        EXPECT_EQ(pending.size(), 1u);
        pending.resize(1);
        std::error_code ec;
        const auto logged = std::filesystem::file_size(AuditFile(), ec);
        auto reached = [&](bool writing) {  // the batch prepared, or its lines being written; or the child's end
            while (running() && (writing ? std::filesystem::file_size(AuditFile(), ec) == logged
                                         : qvtest::ReadFile(pending[0]).find("\nmark ") == std::string::npos))
                std::this_thread::sleep_for(us(200));
            return std::chrono::steady_clock::now();
        };
        const auto prepared = reached(false), aimed = reached(atTheLines);
        if (delay.count() >= 0) {
            std::this_thread::sleep_until(aimed + delay);
            ::kill(child, SIGKILL);
        }
        auto written = reached(true), full = written;  // the first line, the last
        for (auto size = logged; running() && size != std::filesystem::file_size(AuditFile(), ec); full = std::chrono::steady_clock::now()) {
            size = std::filesystem::file_size(AuditFile(), ec);
            std::this_thread::sleep_for(us(200));
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) || status == 0);
        const auto text = qvtest::ReadFile(AuditFile());
        const auto rows = LidbCount(), lines = static_cast<long long>(std::count(text.begin(), text.end(), '\n'));
        ++landed[rows == rowsBefore ? "before the commit" : !text.ends_with("\r\n") ? "inside a line" : lines < rows ? "between lines" : "after them"];
        form()->Unload();
        return std::pair{std::chrono::duration_cast<us>(written - prepared), std::chrono::duration_cast<us>(full - written)};
    };
    const auto [toLines, writing] = round(0, false, us(-1));
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (int i = 1; i <= kills; ++i)  // half before the commit, half after it
        round(i, i % 2 == 0, us(std::uniform_int_distribution<long>(0, (i % 2 ? toLines : writing).count())(random)));

    OpenForm();
    EXPECT_TRUE(Pending().empty());
    EXPECT_EQ(ExpectAuditFileAgreesWithLidb() % records, 0u);
    EXPECT_EQ(DataCount("select count(*) from LIDB where What not like '% for account A%'"), 0);  // each found
    std::cout << toLines.count() << " us from preparation to the first line, " << writing.count() << " us to the last; killed";
    for (const auto &[where, count] : landed) std::cout << " " << where << ": " << count;
    std::cout << "\n";
}

class FiveReadingsTest : public ::testing::Test, public FiveReadings {};

TEST_F(FiveReadingsTest, AuditFileThatCannotBeWrittenAfterTheCommitIsReported) {
    std::filesystem::create_symlink("/dev/full", AuditFile());
    EXPECT_EQ(ContinueBoxes(), "Quorvant 32 | 48 | The reading records were updated, but their audit file "
                               "C:\\QVNWin32\\AUDIT\\billing202105.LOG could not be written: Disk full.\n\n"
                               "The lines are kept in the AUDIT folder and written when the read-date window opens "
                               "next. Each change is recorded in table LIDB of the data database.\n"
                               "FINISHED | 64 | 5 reading records were updated.");
    ExpectCorrected(5);
}

TEST_F(FiveReadingsTest, EntriesInvalidAtThePressAreRefusedBeforeAnythingOpens) {
    struct Case {
        int field;
        std::string text;
    };
    for (const Case &c : {Case{2, ""}, Case{0, "13/45/2021"}, Case{1, " ALL"}, Case{1, ""}}) {
        auto &f = Fill("05/01/2021", "04/28/2021", "04/30/2021");
        ASSERT_TRUE(f.cmdContinue->Enabled());
        f.txt[c.field]->SetText(c.text);  // changed without leaving the field
        EXPECT_EQ(ContinueBoxes(), "Quorvant 32 | 16 | Invalid Date") << c.text;
        EXPECT_FALSE(f.cmdContinue->Enabled()) << c.text;
        ExpectCorrected(0);
        EXPECT_FALSE(std::filesystem::exists(AuditFile()));
    }
}

}  // namespace
}  // namespace frdtest
