// The Restore button on a large data database, against copying the same files with cp.
//
//   bench_restore [--pairs N] [--size MB] [warm|cold]
//
// Side A presses Restore on the real window (offscreen): the exclusive hold, the check of the chosen
// copy, the safety copy and the replacement, until "FINISHED". Side B copies the live database and
// the chosen copy with cp and syncs both copies: the two copies a restore makes. "cold": the chosen
// copy is dropped from the page cache (POSIX_FADV_DONTNEED) before every run of either side; "warm":
// it is in the page cache. The live database is rewritten from a pristine copy and synced before
// every run of A; the check after it reads the restored rows and runs the integrity check.
//
// Size: megabytes of the databases (1024 by default). They are made once in the work folder and
// kept; each run needs about five times the size free.
#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "pairs.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "restore/frmRestAutoCopy.h"
#include "qvsample/sql_file.h"

namespace fs = std::filesystem;

namespace {

// C:\QVNWin32\global.mdb, C:\QVData\BILLING.mdb (rewritten from old<MB>.mdb before each restore) and
// C:\QVData\backup\BILLING1.mdb (a link to new<MB>.mdb), drive C being the work folder.
struct Installation {
    fs::path c, data, live, chosen, pristine, cpSafety, cpLive;
    std::string oldTag, newTag;

    explicit Installation(long mb) {
        c = bench::WorkFolder("restore");
        data = c / "QVData";
        live = data / "BILLING.mdb";
        chosen = data / "backup" / "BILLING1.mdb";
        pristine = c / ("old" + std::to_string(mb) + ".mdb");
        cpSafety = c / "cp-safety.mdb";
        cpLive = c / "cp-live.mdb";
        fs::create_directories(c / "QVNWin32");
        fs::create_directories(data / "backup");
        setenv("QUORVANT_DRIVES", ("C=" + c.string()).c_str(), 1);
        platform::SetAppPathForTests("C:\\QVNWin32");
        const fs::path global = c / "QVNWin32" / "global.mdb";
        if (!fs::exists(global)) {
            qvtest::SqlFile g(global);
            g.exec("CREATE TABLE current (databasepath TEXT, DatabaseFileName TEXT)");
            g.exec("INSERT INTO current VALUES ('C:\\QVData', 'BILLING.mdb')");
            g.setPassword("tovan58");
        }
        Make(pristine, "old", mb);
        const fs::path made = c / ("new" + std::to_string(mb) + ".mdb");
        Make(made, "new", mb);
        fs::remove(chosen);
        fs::create_hard_link(made, chosen);
        oldTag = Tag(pristine);
        newTag = Tag(chosen);
    }

    // About `mb` megabytes of rows tagged `tag`, with an index, made once.
    static void Make(const fs::path &p, const std::string &tag, long mb) {
        if (fs::exists(p)) return;
        std::cout << "making " << p << std::endl;
        const fs::path part = p.string() + ".part";
        fs::remove(part);
        {
            qvtest::SqlFile db(part);
            db.exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF");
            db.exec("CREATE TABLE t (id INTEGER PRIMARY KEY, tag TEXT, k INTEGER, v BLOB)");
            db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(mb * 950) +
                    ") INSERT INTO t SELECT i, '" + tag + "', abs(random()) % 1000000, randomblob(1000) FROM n");
            db.exec("CREATE INDEX t_k ON t (k)");
        }
        fs::rename(part, p);
    }

    static std::string Tag(const fs::path &p) {
        qvtest::SqlFile db(p);
        return db.scalar("SELECT tag || ' ' || count(*) FROM t");
    }

    std::vector<fs::path> SafetyCopies() const {
        std::vector<fs::path> found;
        for (auto &e : fs::directory_iterator(data))
            if (e.path().filename().string().find("replacedbyautocopy") != std::string::npos) found.push_back(e.path());
        return found;
    }
};

bench::Comparison Restore(long mb, bool cold) {
    auto inst = std::make_shared<Installation>(mb ? mb : 1024);
    auto boxes = std::make_shared<std::vector<platform::ui::MsgBoxRecord>>();
    platform::ui::SetMsgBoxResponderForTests([boxes](const platform::ui::MsgBoxRecord &r) {
        boxes->push_back(r);
        return platform::ui::vbOK;
    });
    platform::ui::SetFileDialogChooserForTests(
        [](const std::string &, const std::string &) { return std::string("C:\\QVData\\backup\\BILLING1.mdb"); });
    auto form = std::make_shared<std::unique_ptr<restore::frmRestAutoCopy>>();

    bench::Side a{"Restore button: check, safety copy, replacement", [form](bench::Probe &) { (*form)->cmdRestore->Press(); }};
    a.reset = [=] {
        for (const fs::path &p : inst->SafetyCopies()) fs::remove(p);
        bench::Shell("cp '" + inst->pristine.string() + "' '" + inst->live.string() + "' && sync");
        if (cold) bench::DropFromPageCache(inst->chosen);
        platform::ui::ResetEndingForTests();
        *form = std::make_unique<restore::frmRestAutoCopy>();
        (*form)->Show();
        (*form)->cmdList->Press();
        if (!(*form)->cmdRestore->Enabled()) throw std::runtime_error("the listing failed");
        boxes->clear();
    };
    a.check = [=] {
        if (boxes->size() != 1 || boxes->front().title != "FINISHED")
            throw std::runtime_error("no FINISHED: " + (boxes->empty() ? std::string() : boxes->back().prompt));
        if (Installation::Tag(inst->live) != inst->newTag || qvtest::SqlFile(inst->live).scalar("PRAGMA quick_check") != "ok")
            throw std::runtime_error("the live database was not restored");
        const auto safety = inst->SafetyCopies();
        if (safety.size() != 1 || Installation::Tag(safety.front()) != inst->oldTag)
            throw std::runtime_error("no safety copy of the old content");
        if ((*form)->IsLoaded()) (*form)->Unload();
        form->reset();
    };

    bench::Side b{"cp live + cp chosen copy, sync both", [inst](bench::Probe &probe) {
                      long peak = 0;
                      for (const auto &[from, to] : {std::pair{inst->live, inst->cpSafety}, std::pair{inst->chosen, inst->cpLive}}) {
                          const bench::ChildResult r = bench::Spawn({"/bin/cp", from.string(), to.string()});
                          if (r.status != 0) throw std::runtime_error("cp ended with status " + std::to_string(r.status));
                          peak = std::max(peak, r.peakKb);
                      }
                      bench::Shell("sync '" + inst->cpSafety.string() + "' '" + inst->cpLive.string() + "'");
                      probe.ChildPeak(peak);
                  }};
    b.reset = [=] {
        fs::remove(inst->cpSafety);
        fs::remove(inst->cpLive);
        bench::Shell("sync");
        if (cold) bench::DropFromPageCache(inst->chosen);
    };
    b.check = [inst] {
        if (fs::file_size(inst->cpLive) != fs::file_size(inst->chosen) || fs::file_size(inst->cpSafety) != fs::file_size(inst->live))
            throw std::runtime_error("cp did not copy");
    };
    return {"restore of a " + std::to_string(mb) + " MB data database, chosen copy " + (cold ? "cold" : "warm") +
                " vs two cp + sync",
            a, b, {{bench::Figure::RatioMedian, cold ? 2.0 : 1.5}}};
}

}  // namespace

int main(int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const int status = bench::Main(argc, argv,
                                   {{"warm", {1024}, [](long mb) { return Restore(mb, false); }},
                                    {"cold", {1024}, [](long mb) { return Restore(mb, true); }}});
    // What the runs wrote goes; the databases stay for the next time.
    const fs::path c = bench::WorkFolder("restore");
    for (const fs::path &p : {c / "cp-safety.mdb", c / "cp-live.mdb", c / "QVData" / "BILLING.mdb"}) fs::remove(p);
    for (auto &e : fs::directory_iterator(c / "QVData"))
        if (e.path().filename().string().find("replacedbyautocopy") != std::string::npos) fs::remove(e.path());
    return status;
}
