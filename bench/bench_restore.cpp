// The Restore button on a large data database, against copying the same files with cp.
//
//   bench_restore [--mb N] [--pairs N] [warm|cold]...
//
// Side A presses Restore on the real window (offscreen): the exclusive hold, the check of the chosen
// copy, the safety copy and the replacement, until "FINISHED". Side B copies the live database and
// the chosen copy with cp and syncs both copies: the two copies a restore makes. The sides run in
// pairs, A, B, A, B, ... and the median and minimum of each side and of the ratio A/B are printed.
// "cold": the chosen copy is dropped from the page cache (POSIX_FADV_DONTNEED) before every run of
// either side; "warm": it is in the page cache. The live database is rewritten from a pristine copy
// and synced before every run of A. Targets: A/B <= 1.5 warm, <= 2 cold (medians).
//
// Files live in $QV_BENCH_DIR/restore (else <temp>/qvutil-bench/restore) and the databases are kept
// for later runs; each run needs about five times the size free.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "restore/frmRestAutoCopy.h"
#include "qvsample/sql_file.h"

namespace fs = std::filesystem;

namespace {

// ---- interleaved pairs (local; the shape of the shared helper's sides) ----

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

struct Side {
    std::string name;
    std::function<void()> run;    // timed
    std::function<void()> reset;  // before each run, untimed
    std::function<void()> check;  // after each run, untimed; throws when the work was not done
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

void Compare(const std::string &title, const Side &a, const Side &b, int pairs, double target) {
    std::vector<double> ta, tb, ratio;
    std::cout << title << " (" << pairs << " pairs; load " << LoadAverage() << ")" << std::endl;
    for (int i = 0; i < pairs; ++i) {
        double t[2];
        for (int s = 0; s < 2; ++s) {
            const Side &side = s == 0 ? a : b;
            side.reset();
            const double start = Now();
            side.run();
            t[s] = Now() - start;
            side.check();
        }
        ta.push_back(t[0]);
        tb.push_back(t[1]);
        ratio.push_back(t[0] / t[1]);
        std::printf("  pair %d: A %.3f s  B %.3f s  A/B %.2f\n", i + 1, t[0], t[1], t[0] / t[1]);
        std::fflush(stdout);
    }
    std::printf("  A %-44s median %.3f s  min %.3f s\n", a.name.c_str(), Median(ta), *std::min_element(ta.begin(), ta.end()));
    std::printf("  B %-44s median %.3f s  min %.3f s\n", b.name.c_str(), Median(tb), *std::min_element(tb.begin(), tb.end()));
    std::printf("  A/B median %.2f  min %.2f  (target <= %.1f: %s; load now %s)\n\n", Median(ratio),
                *std::min_element(ratio.begin(), ratio.end()), target, Median(ratio) <= target ? "met" : "NOT met",
                LoadAverage().c_str());
}

void Shell(const std::string &command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

void DropFromPageCache(const fs::path &file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + file.string());
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// ---- the installation ----

struct Installation {
    fs::path c, data, live, chosen, pristine, cpSafety, cpLive;
    long mb;

    explicit Installation(long sizeMb) : mb(sizeMb) {
        const char *dir = std::getenv("QV_BENCH_DIR");
        c = (dir ? fs::path(dir) : fs::temp_directory_path() / "qvutil-bench") / "restore";
        data = c / "QVData";
        live = data / "BILLING.mdb";
        chosen = data / "backup" / "BILLING1.mdb";  // the automatic copy: a link to new<size>.mdb
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
        Make(pristine, "old");
        const fs::path made = c / ("new" + std::to_string(mb) + ".mdb");
        Make(made, "new");
        fs::remove(chosen);
        fs::create_hard_link(made, chosen);
    }

    // About `mb` megabytes of rows tagged `tag`, with an index, made once.
    void Make(const fs::path &p, const std::string &tag) const {
        if (fs::exists(p)) return;
        std::cout << "making " << p << std::endl;
        const fs::path part = p.string() + ".part";
        fs::remove(part);
        {
            qvtest::SqlFile db(part);
            db.exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF");
            db.exec("CREATE TABLE t (id INTEGER PRIMARY KEY, tag TEXT, k INTEGER, v BLOB)");
            db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                    std::to_string(mb * 950) + ") INSERT INTO t SELECT i, '" + tag +
                    "', abs(random()) % 1000000, randomblob(1000) FROM n");
            db.exec("CREATE INDEX t_k ON t (k)");
        }
        fs::rename(part, p);
    }

    std::string Tag(const fs::path &p) const {
        qvtest::SqlFile db(p);
        return db.scalar("SELECT tag || ' ' || count(*) FROM t");
    }

    void RemoveSafetyCopies() const {
        for (auto &e : fs::directory_iterator(data))
            if (e.path().filename().string().find("replacedbyautocopy") != std::string::npos) fs::remove(e.path());
    }
};

}  // namespace

int main(int argc, char **argv) {
    long mb = 1024;
    int pairs = 7;
    std::vector<std::string> modes;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--mb" && i + 1 < argc) mb = std::atol(argv[++i]);
        else if (a == "--pairs" && i + 1 < argc) pairs = std::atoi(argv[++i]);
        else if (a == "warm" || a == "cold") modes.push_back(a);
        else {
            std::cerr << "usage: bench_restore [--mb N] [--pairs N] [warm|cold]...\n";
            return 2;
        }
    }
    if (modes.empty()) modes = {"warm", "cold"};
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    try {
        Installation inst(mb);
        const std::string oldTag = inst.Tag(inst.pristine), newTag = inst.Tag(inst.chosen);
        std::vector<platform::ui::MsgBoxRecord> boxes;
        platform::ui::SetMsgBoxResponderForTests([&](const platform::ui::MsgBoxRecord &r) {
            boxes.push_back(r);
            return platform::ui::vbOK;
        });
        const std::string chosenWindows = "C:\\QVData\\backup\\" + inst.chosen.filename().string();
        platform::ui::SetFileDialogChooserForTests([&](const std::string &, const std::string &) { return chosenWindows; });

        for (const std::string &mode : modes) {
            const bool cold = mode == "cold";
            std::unique_ptr<restore::frmRestAutoCopy> form;
            Side restoreButton{
                "Restore button (check, safety copy, replacement)",
                [&] { form->cmdRestore->Press(); },
                [&] {
                    inst.RemoveSafetyCopies();
                    Shell("cp '" + inst.pristine.string() + "' '" + inst.live.string() + "' && sync");
                    if (cold) DropFromPageCache(inst.chosen);
                    platform::ui::ResetEndingForTests();
                    form = std::make_unique<restore::frmRestAutoCopy>();
                    form->Show();
                    form->cmdList->Press();
                    if (!form->cmdRestore->Enabled()) throw std::runtime_error("the listing failed");
                    boxes.clear();
                },
                [&] {
                    if (boxes.size() != 1 || boxes[0].title != "FINISHED")
                        throw std::runtime_error("no FINISHED: " + (boxes.empty() ? "" : boxes.back().prompt));
                    if (inst.Tag(inst.live) != newTag || qvtest::SqlFile(inst.live).scalar("PRAGMA quick_check") != "ok")
                        throw std::runtime_error("the live database was not restored");
                    int safety = 0;
                    for (auto &e : fs::directory_iterator(inst.data))
                        if (e.path().filename().string().find("replacedbyautocopy") != std::string::npos)
                            safety += inst.Tag(e.path()) == oldTag;
                    if (safety != 1) throw std::runtime_error("no safety copy of the old content");
                    if (form->IsLoaded()) form->Unload();
                    form.reset();
                }};
            Side twoCopies{
                "cp live + cp chosen copy, sync both",
                [&] {
                    Shell("cp '" + inst.live.string() + "' '" + inst.cpSafety.string() + "' && cp '" +
                          inst.chosen.string() + "' '" + inst.cpLive.string() + "' && sync '" + inst.cpSafety.string() +
                          "' '" + inst.cpLive.string() + "'");
                },
                [&] {
                    fs::remove(inst.cpSafety);
                    fs::remove(inst.cpLive);
                    Shell("sync");
                    if (cold) DropFromPageCache(inst.chosen);
                },
                [&] {
                    if (fs::file_size(inst.cpLive) != fs::file_size(inst.chosen) ||
                        fs::file_size(inst.cpSafety) != fs::file_size(inst.live))
                        throw std::runtime_error("cp did not copy");
                }};
            Compare("Restore of a " + std::to_string(mb) + " MB data database, chosen copy " + mode + ", A/B",
                    restoreButton, twoCopies, pairs, cold ? 2.0 : 1.5);
        }
        fs::remove(inst.cpSafety);
        fs::remove(inst.cpLive);
        inst.RemoveSafetyCopies();
    } catch (const std::exception &e) {
        std::cerr << "bench_restore: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
