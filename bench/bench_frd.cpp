// Speed of the read-date window on a large data database: 1,000,000 readings (200,000 of the bill
// date under test, indexed on billdate) and a selection of 50,000 accounts.
//
//   BM_Load                  code list + FRDLK copy (Form_Load)                 target <= 0.5 s
//   BM_CountViaWindow        ReportMatchingReadings for the bill date           target <= 2x BM_CountHandWritten
//   BM_CountHandWritten      select count(*) of the same filter, raw SQLite
//   BM_Run                   Continue over 100,000 matching records, audited    target <= 1 s, <= 5x BM_RunSetBased
//   BM_RunSetBased           one UPDATE + INSERT ... SELECT of the same rows, raw SQLite
//   BM_ProgressBar           pb1 driven as the run drives it (100,000 steps)    target <= 5% of BM_Run
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "readdates/frmFixDupRdgs.h"
#include "startup/shared.h"
#include "qvsample/sql_file.h"

namespace {

namespace fs = std::filesystem;

constexpr long long kAccounts = 100000;   // two readings (W, E) per account and bill date
constexpr long long kSelected = 50000;    // lockeys 1..50,000 selected: 100,000 readings of a bill date
constexpr int kBillDates = 5;             // 5 x 200,000 = 1,000,000 readings
constexpr const char *kBillDate = "2021-05-01";
constexpr const char *kBillText = "05/01/2021";

using Sql = qvtest::SqlFile;

std::string Series(long long n) {
    return "with recursive n(i) as (select 1 union all select i + 1 from n where i < " + std::to_string(n) + ") ";
}

// The installation on drive C of a temporary folder.
struct Installation {
    QTemporaryDir dir;
    fs::path c, data;

    Installation() {
        c = fs::path(dir.path().toStdString()) / "c";
        fs::create_directories(c / "QVNWin32/AUDIT");
        fs::create_directories(c / "QVData");
        fs::create_directories(c / "users/public/qv32tempdata");
        data = c / "QVData/billing.mdb";
        setenv("QUORVANT_DRIVES", ("C=" + c.string()).c_str(), 1);
        platform::SetAppPathForTests("C:\\QVNWin32");
        {
            Sql g(c / "QVNWin32/global.mdb");
            g.exec("create table current (databasepath TEXT, DatabaseFileName TEXT)");
            g.exec("insert into current values ('C:\\QVData', 'billing.mdb')");
            g.setPassword("tovan58");
        }
        {
            Sql d(data);
            d.exec("create table [tbl reading] (billdate DATETIME, readdate DATETIME, code TEXT, lockey INTEGER)");
            d.exec("create table LIDB ([When] TEXT, ByWhom TEXT, What TEXT)");
            d.exec("begin");
            for (int b = 0; b < kBillDates; ++b) {
                const std::string bill = "2021-0" + std::to_string(3 + b) + "-01";
                for (const char *code : {"W", "E"})
                    d.exec(Series(kAccounts) + "insert into [tbl reading] select '" + bill + "', '" + bill +
                           "', '" + code + "', i from n");
            }
            d.exec("commit");
            d.exec("create index billdate_ix on [tbl reading] (billdate)");
        }
        {
            Sql t(c / "users/public/qv32tempdata/tempdataDTC.mdb");
            t.exec("create table selectionsetDTC (lockey INTEGER, accno TEXT)");
            t.exec(Series(kSelected) + "insert into selectionsetDTC select i, 'A' || i from n");
        }
        auto &s = startup::Shared();
        s.DataFolder = "C:\\QVData";
        s.DataFileName = "billing.mdb";
        s.DataFilePath = "C:\\QVData\\billing.mdb";
    }
};

Installation &Inst() {
    static Installation inst;
    return inst;
}

// Every box answered OK at once.
void AnswerBoxes() {
    platform::ui::SetMsgBoxResponderForTests([](const platform::ui::MsgBoxRecord &) { return platform::ui::vbOK; });
}

std::unique_ptr<readdates::frmFixDupRdgs> OpenWindow() {
    auto f = std::make_unique<readdates::frmFixDupRdgs>();
    f->Show();
    return f;
}

void BM_Load(benchmark::State &state) {
    Inst();
    AnswerBoxes();
    for (auto _ : state) {
        auto f = OpenWindow();
        state.PauseTiming();
        if (f->cboCode->ListCount() != 3) state.SkipWithError("code list");
        f->Unload();
        f.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CountViaWindow(benchmark::State &state) {
    Inst();
    AnswerBoxes();
    auto f = OpenWindow();
    f->txt[0]->SetText(kBillText);
    for (auto _ : state) f->ReportMatchingReadings(0);
    f->Unload();
}
BENCHMARK(BM_CountViaWindow)->Unit(benchmark::kMillisecond);

void BM_CountHandWritten(benchmark::State &state) {
    Inst();
    AnswerBoxes();
    auto f = OpenWindow();  // FRDLK as the window leaves it
    for (auto _ : state) {
        Sql d(Inst().data);
        const long long n = d.count(std::string("select count(*) from [tbl reading] where billdate = '") + kBillDate +
                                    "' and lockey in (select lockey from FRDLK)");
        if (n != 2 * kSelected) state.SkipWithError("count");
    }
    f->Unload();
}
BENCHMARK(BM_CountHandWritten)->Unit(benchmark::kMillisecond);

// Each run gives every reading of the bill date within the selection (ALL) a new read date.
void BM_Run(benchmark::State &state) {
    Inst();
    AnswerBoxes();
    auto f = OpenWindow();
    f->txt[0]->SetText(kBillText);
    f->txt[1]->SetText("ALL");
    int day = 1;
    for (auto _ : state) {
        f->txt[2]->SetText("04/" + std::to_string(day) + "/2021");
        day = day % 28 + 1;
        f->RefreshContinue();
        f->cmdContinue_Click();
    }
    state.counters["records"] = static_cast<double>(2 * kSelected);
    f->Unload();
}
BENCHMARK(BM_Run)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RunSetBased(benchmark::State &state) {
    Inst();
    AnswerBoxes();
    auto f = OpenWindow();
    int day = 1;
    for (auto _ : state) {
        const std::string newDate = "2021-04-" + std::string(day < 10 ? "0" : "") + std::to_string(day);
        day = day % 28 + 1;
        const std::string where = std::string(" where billdate = '") + kBillDate +
                                  "' and lockey in (select lockey from FRDLK)";
        Sql d(Inst().data);
        d.exec("begin");
        d.exec("update [tbl reading] set readdate = '" + newDate + "'" + where);
        // FRDLK has no index: the account lookup gets a keyed copy, as a hand-written statement would.
        d.exec("create temp table acc (lockey INTEGER PRIMARY KEY, accno TEXT)");
        d.exec("insert or ignore into acc select lockey, accno from FRDLK");
        d.exec("insert into LIDB ([When], ByWhom, What) select '20210503 02:07 PM ', 'bench', "
               "'Changed read date from ALL to " + newDate + " for bill date 05/01/2021 for account ' || "
               "a.accno || ' for code ' || r.code from [tbl reading] r join acc a on a.lockey = r.lockey "
               "where r.billdate = '" + kBillDate + "'");
        d.exec("drop table acc");
        d.exec("commit");
    }
    f->Unload();
}
BENCHMARK(BM_RunSetBased)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ProgressBar(benchmark::State &state) {
    Inst();
    AnswerBoxes();
    auto f = OpenWindow();
    const long long steps = 2 * kSelected;
    for (auto _ : state) {
        f->pb1->SetValue(0);
        f->pb1->SetVisible(true);
        f->pb1->SetMax(static_cast<double>(steps));
        platform::ui::BusyScope busy;
        for (long long i = 0; i < steps; ++i) {
            f->pb1->SetValue(static_cast<double>(i + 1));
            busy.Pump();
        }
        f->pb1->SetVisible(false);
    }
    f->Unload();
}
BENCHMARK(BM_ProgressBar)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
