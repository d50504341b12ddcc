// Speed of the read-date window on the installations of readings.h.
//
//   bench_frd [--pairs N] [--size N] [window|count|run|progress]
//
//   window    the window opened (Form_Load and its first show) on 1,000,000 readings and a 50,000-account
//             selection                                                        target <= 0.2 s
//   count     ReportMatchingReadings for the bill date vs a hand-written select count(*) of the same
//             filter; size: readings (1,000,000 by default)                    target <= 1.3x
//   run       Continue over `size` matching records (ALL read dates), audited to file and table, vs one
//             set-based UPDATE + INSERT ... SELECT of the same change and audit rows
//                                                                              target <= 4x, <= 64 MB extra
//   undo      Undo over a correction of `size` records (each run undoes the newest run, so every one
//             gives them all back), audited and recorded, vs one set-based UPDATE + INSERT ... SELECT of
//             the same change and audit rows
//   undo-vs-run  Undo over a correction of `size` records vs that correction, the same readings
//                                                                              target <= 1x, <= 64 MB extra
//   progress  pb1 driven as the run drives it, 100,000 steps
#include <QApplication>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "pairs.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "readdates/frmFixDupRdgs.h"
#include "readings.h"
#include "startup/shared.h"
#include "startup/startup.h"
#include "undo/frmUndoFixRdgs.h"
#include "qvsample/sql_file.h"
#include "qvsample/temp_drive.h"

namespace {

namespace fs = std::filesystem;
using Sql = qvtest::SqlFile;
using bench::kBillDateStored;
using bench::kBillDateText;

void Expect(long long got, long long want, const std::string &what) {
    if (got != want)
        throw std::runtime_error(what + ": " + std::to_string(got) + " where " + std::to_string(want) + " were due");
}

// One installation on a temporary drive C, with start-up's settings read as qvutil reads them, and every
// message box answered OK, or Yes when it asks (the last one kept).
struct Fixture {
    qvtest::TempDrives drives{"C"};
    bench::ReadingsLayout layout;
    qvtest::Installation inst;
    std::shared_ptr<platform::ui::MsgBoxRecord> lastBox = std::make_shared<platform::ui::MsgBoxRecord>();

    explicit Fixture(const bench::ReadingsLayout &l) : layout(l) {
        inst = bench::LayOutReadings(drives.folder('C'), layout, false);
        platform::SetAppPathForTests("C:\\QVNWin32");
        startup::Shared() = {};
        startup::ReadSettings();
        platform::ui::SetMsgBoxResponderForTests([box = lastBox](const platform::ui::MsgBoxRecord &r) {
            *box = r;
            return (r.style & 7) == platform::ui::vbYesNo ? platform::ui::vbYes : platform::ui::vbOK;
        });
    }
    ~Fixture() { platform::ui::SetMsgBoxResponderForTests({}); }

};

// A window open on a fixture; closed as the user closes it (Unload drops FRDLK) when it goes.
template <class Form = readdates::frmFixDupRdgs>
struct Window {
    std::shared_ptr<Fixture> fx;
    std::unique_ptr<Form> form = std::make_unique<Form>();

    explicit Window(std::shared_ptr<Fixture> f) : fx(std::move(f)) {
        form->Show();
        QApplication::processEvents();
    }
    ~Window() {
        form->Unload();
        form.reset();
        QApplication::processEvents();
    }
    Form *operator->() const { return form.get(); }
};

// Each run gives the readings of the bill date a read date of its own, so every run changes them all.
struct NewDate {
    int day = 0;
    void Next() { day = day % 28 + 1; }
    std::string Typed() const { return "03/" + std::to_string(day) + "/2021"; }
    std::string Stored() const { return "2021-03-" + std::string(day < 10 ? "0" : "") + std::to_string(day); }
};

bench::Comparison Shown(long size) {
    auto fx = std::make_shared<Fixture>(bench::ReadingsLayout{size / 10, size / 20, 5});
    auto open = std::make_shared<std::unique_ptr<Window<>>>();
    bench::Side a{"window opened and shown", [=](bench::Probe &probe) {
                      *open = std::make_unique<Window<>>(fx);
                      probe.Stop();
                  }};
    a.check = [=] {
        if (!(*open)->form->IsVisible()) throw std::runtime_error("the window is not shown");
        Expect((*open)->form->cboCode->ListCount(), 3, "entries of the code list");
        Expect(Sql(fx->inst.dataDb).count("select count(*) from FRDLK"), fx->layout.selected, "rows of FRDLK");
        open->reset();
    };
    return {"the read-date window shown, " + std::to_string(fx->layout.Readings()) + " readings, " +
                std::to_string(fx->layout.selected) + "-account selection",
            a, std::nullopt, {{bench::Figure::SecondsMedian, 0.2}}};
}

bench::Comparison Count(long size) {
    auto fx = std::make_shared<Fixture>(bench::ReadingsLayout{size / 10, size / 20, 5});
    auto form = std::make_shared<Window<>>(fx);
    (*form)->txt[0]->SetText(kBillDateText);
    const long long due = fx->layout.Matching();
    auto counted = std::make_shared<long long>(-1);
    bench::Side a{"the window's count", [=](bench::Probe &) { (*form)->ReportMatchingReadings(0); }};
    a.reset = [=] { fx->lastBox->title.clear(); };
    a.check = [=] {
        if (fx->lastBox->title != std::to_string(due) + " RECORDS FOUND")
            throw std::runtime_error("the count reported \"" + fx->lastBox->title + "\"");
    };
    bench::Side b{"hand-written select count(*)", [=](bench::Probe &) {
                      Sql d(fx->inst.dataDb);
                      *counted = d.count(std::string("select count(*) from [tbl reading] where billdate = '") +
                                         kBillDateStored + "' and lockey in (select lockey from FRDLK)");
                  }};
    b.check = [=] { Expect(*counted, due, "readings counted"); };
    return {"count of matching readings, " + std::to_string(fx->layout.Readings()) + " readings, vs select count(*)",
            a, b, {{bench::Figure::RatioMedian, 1.3}}};
}

bench::Comparison Run(long size) {
    // `size` matching records: as many selected accounts as half of them, twice as many accounts, two
    // bill dates.
    auto fx = std::make_shared<Fixture>(bench::ReadingsLayout{size, size / 2, 2});
    auto form = std::make_shared<Window<>>(fx);
    (*form)->txt[0]->SetText(kBillDateText);
    (*form)->txt[1]->SetText("ALL");
    auto date = std::make_shared<NewDate>();
    const long long due = fx->layout.Matching();
    const fs::path auditDir = fx->inst.auditDir;

    auto reset = [=] {
        date->Next();
        // Every run finds the database as the first: no audit rows, no record of runs.
        Sql(fx->inst.dataDb).exec("delete from LIDB; drop table if exists FRDCHG; drop table if exists FRDRUN");
        for (const auto &e : fs::directory_iterator(auditDir)) fs::remove(e.path());
    };
    auto checkTable = [=] {
        Sql d(fx->inst.dataDb);
        Expect(d.count(std::string("select count(*) from [tbl reading] where billdate = '") + kBillDateStored +
                       "' and readdate = '" + date->Stored() + "'"),
               due, "readings given the new read date");
        Expect(d.count("select count(*) from LIDB"), due, "audit rows");
    };
    bench::Side a{"Continue, audited to file and table", [=](bench::Probe &) {
                      (*form)->txt[2]->SetText(date->Typed());
                      (*form)->RefreshContinue();
                      (*form)->cmdContinue_Click();
                  }};
    a.reset = reset;
    a.check = [=] {
        checkTable();
        long long lines = 0;
        for (const auto &e : fs::directory_iterator(auditDir)) {
            std::ifstream in(e.path());
            for (std::string line; std::getline(in, line);) ++lines;
        }
        Expect(lines, due, "audit file lines");
    };
    bench::Side b{"set-based UPDATE + INSERT ... SELECT", [=](bench::Probe &) {
                      const std::string where =
                          std::string(" where billdate = '") + kBillDateStored + "' and lockey in (select lockey from FRDLK)";
                      Sql d(fx->inst.dataDb);
                      d.exec("begin");
                      d.exec("update [tbl reading] set readdate = '" + date->Stored() + "'" + where);
                      // FRDLK has no index: the account lookup gets a keyed copy, as a hand-written statement would.
                      d.exec("create temp table acc (lockey INTEGER PRIMARY KEY, accno TEXT)");
                      d.exec("insert or ignore into acc select lockey, accno from FRDLK");
                      d.exec("insert into LIDB ([When], ByWhom, What) select '20210503 02:07 PM ', 'bench', "
                             "'Changed read date from ALL to " + date->Typed() + " for bill date " + kBillDateText +
                             " for account ' || a.accno || ' for code ' || r.code from [tbl reading] r join acc a "
                             "on a.lockey = r.lockey where r.billdate = '" + kBillDateStored + "'");
                      d.exec("drop table acc");
                      d.exec("commit");
                  }};
    b.reset = reset;
    b.check = checkTable;
    return {"correction run of " + std::to_string(due) + " records (" + std::to_string(fx->layout.Readings()) +
                " readings) vs set-based SQL",
            a, b, {{bench::Figure::RatioMedian, 4}, {bench::Figure::PeakMB, 64}}};
}

bench::Comparison Undo(long size) {
    auto fx = std::make_shared<Fixture>(bench::ReadingsLayout{size, size / 2, 2});
    const long long due = fx->layout.Matching();
    {
        Window<> correction(fx);
        correction->txt[0]->SetText(kBillDateText);
        correction->txt[1]->SetText("ALL");
        correction->txt[2]->SetText("03/15/2021");
        correction->RefreshContinue();
        correction->cmdContinue_Click();
    }
    auto form = std::make_shared<Window<undo::frmUndoFixRdgs>>(fx);
    const fs::path auditDir = fx->inst.auditDir;
    auto reset = [=] {
        Sql(fx->inst.dataDb).exec("delete from LIDB");
        for (const auto &e : fs::directory_iterator(auditDir)) fs::remove(e.path());
    };
    bench::Side a{"Undo of the newest run, audited", [=](bench::Probe &) {
                      (*form)->ListRuns();
                      (*form)->cmdUndo_Click();
                  }};
    a.reset = reset;
    a.check = [=] {
        const std::string want = std::to_string(due) + " reading records were given back";
        if (fx->lastBox->title != "FINISHED" || fx->lastBox->prompt.rfind(want, 0) != 0)
            throw std::runtime_error("the undo reported \"" + fx->lastBox->prompt + "\"");
        Expect(Sql(fx->inst.dataDb).count("select count(*) from LIDB"), due, "audit rows");
    };
    // The same change of the newest run's readings, then (untimed) its way back, so that the next
    // undo finds them as the run left them.
    bench::Side b{"set-based UPDATE + INSERT ... SELECT", [=](bench::Probe &probe) {
                      Sql d(fx->inst.dataDb);
                      const std::string rows =
                          "c.rowid between " + d.scalar("select firstchange from FRDRUN order by run desc limit 1") +
                          " and " + d.scalar("select lastchange from FRDRUN order by run desc limit 1");
                      auto set = [&](const char *to) {
                          d.exec(std::string("update [tbl reading] set readdate = c.") + to +
                                 " from FRDCHG c where " + rows + " and c.reading = [tbl reading].rowid");
                      };
                      d.exec("begin");
                      set("olddate");
                      d.exec("insert into LIDB ([When], ByWhom, What) select '20210503 02:07 PM ', 'bench', "
                             "'Changed read date from ' || newdate || ' to ' || olddate || ' for bill date " +
                             std::string(kBillDateText) + " for account ' || accno || ' for code ' || code from "
                             "FRDCHG c where " + rows);
                      d.exec("commit");
                      probe.Stop();
                      set("newdate");
                  }};
    b.reset = reset;
    b.check = [=] { Expect(Sql(fx->inst.dataDb).count("select count(*) from LIDB"), due, "audit rows"); };
    return {"undo of a correction of " + std::to_string(due) + " records (" + std::to_string(fx->layout.Readings()) +
                " readings) vs set-based SQL",
            a, b, {{bench::Figure::PeakMB, 64}}};
}

// The undo against the correction it undoes, on the same readings, each in a window opened for it
// (untimed): each correction gives every reading of the bill date a read date of its own, and each undo
// gives them back.
bench::Comparison UndoVsRun(long size) {
    auto fx = std::make_shared<Fixture>(bench::ReadingsLayout{size, size / 2, 2});
    const long long due = fx->layout.Matching();
    auto date = std::make_shared<NewDate>();
    auto correction = std::make_shared<std::unique_ptr<Window<>>>();
    auto undoing = std::make_shared<std::unique_ptr<Window<undo::frmUndoFixRdgs>>>();
    const fs::path auditDir = fx->inst.auditDir;
    auto audited = [=] {
        Expect(Sql(fx->inst.dataDb).count("select count(*) from LIDB"), due, "audit rows");
        long long lines = 0;
        for (const auto &e : fs::directory_iterator(auditDir)) {
            std::ifstream in(e.path());
            for (std::string line; std::getline(in, line);) ++lines;
        }
        Expect(lines, due, "audit file lines");
    };
    auto clear = [=] {
        Sql(fx->inst.dataDb).exec("delete from LIDB");
        for (const auto &e : fs::directory_iterator(auditDir)) fs::remove(e.path());
    };
    auto open = [=] {
        clear();
        date->Next();
        *correction = std::make_unique<Window<>>(fx);
        (**correction)->txt[0]->SetText(kBillDateText);
        (**correction)->txt[1]->SetText("ALL");
        (**correction)->txt[2]->SetText(date->Typed());
        (**correction)->RefreshContinue();
    };
    open();  // the first undo's correction
    (**correction)->cmdContinue_Click();
    correction->reset();
    bench::Side a{"Undo of the newest correction, audited", [=](bench::Probe &) { (**undoing)->cmdUndo_Click(); }};
    a.reset = [=] {
        clear();
        *undoing = std::make_unique<Window<undo::frmUndoFixRdgs>>(fx);
        (**undoing)->ListRuns();
    };
    a.check = [=] {
        const std::string want = std::to_string(due) + " reading records were given back";
        if (fx->lastBox->title != "FINISHED" || fx->lastBox->prompt.rfind(want, 0) != 0)
            throw std::runtime_error("the undo reported \"" + fx->lastBox->prompt + "\"");
        Expect(Sql(fx->inst.dataDb).count(std::string("select count(*) from [tbl reading] where billdate = '") +
                                          kBillDateStored + "' and readdate <> '2021-03-27'"),
               0, "readings not given back the read date they were laid out with");
        audited();
        undoing->reset();
    };
    bench::Side b{"the correction it undoes, audited", [=](bench::Probe &) { (**correction)->cmdContinue_Click(); }};
    b.reset = open;
    b.check = [=] {
        Expect(Sql(fx->inst.dataDb).count(std::string("select count(*) from [tbl reading] where billdate = '") +
                                          kBillDateStored + "' and readdate = '" + date->Stored() + "'"),
               due, "readings given the new read date");
        audited();
        correction->reset();
    };
    return {"undo vs the correction it undoes, " + std::to_string(due) + " records (" +
                std::to_string(fx->layout.Readings()) + " readings)",
            a, b, {{bench::Figure::RatioMedian, 1}, {bench::Figure::PeakMB, 64}}};
}

bench::Comparison Progress(long) {
    auto fx = std::make_shared<Fixture>(bench::ReadingsLayout{1000, 500, 2});
    auto form = std::make_shared<Window<>>(fx);
    constexpr long long steps = 100'000;
    bench::Side a{"pb1 stepped 100,000 times", [=](bench::Probe &) {
                      (*form)->pb1->SetValue(0);
                      (*form)->pb1->SetVisible(true);
                      (*form)->pb1->SetMax(static_cast<double>(steps));
                      platform::ui::BusyScope busy;
                      for (long long i = 0; i < steps; ++i) {
                          (*form)->pb1->SetValue(static_cast<double>(i + 1));
                          busy.Pump();
                      }
                  }};
    a.check = [=] {
        Expect(static_cast<long long>((*form)->pb1->Value()), steps, "progress bar value");
        (*form)->pb1->SetVisible(false);
    };
    return {"the progress bar as the run drives it", a, std::nullopt, {}};
}

}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return bench::Main(argc, argv,
                       {{"window", {1'000'000}, Shown},
                        {"count", {1'000'000}, Count},
                        {"run", {10'000, 100'000, 1'000'000}, Run},
                        {"undo", {10'000, 100'000, 1'000'000}, Undo},
                        {"undo-vs-run", {100'000, 1'000'000}, UndoVsRun},
                        {"progress", {}, Progress}});
}
