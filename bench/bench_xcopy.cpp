// qvxcopy on a generated program tree of 5,000 files / 500 MB in 200 folders, against cp -a + sync; and
// the whole backup (Step 2 of the real window, offscreen: both copier passes, each waited for, and the
// check that reads every copied file back) of a program folder of 1 GB in files of 256 KB, against
// cp -a + sync + sha256sum of the copy. The trees are generated once in the work folder (QV_BENCH_DIR)
// and kept for later runs.
//
//   bench_xcopy [--pairs N] [--size MB] [copy|second-pass|backup]
#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "backup/frmQuorDBBkUp.h"
#include "pairs.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "qvsample/sql_file.h"
#include "startup/shared.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFolders = 200, kFiles = 5000, kFileBytes = 100 * 1024;

const fs::path &Root() {
    static const fs::path root = bench::WorkFolder("xcopy");
    return root;
}

// `files` files of `bytes` bytes each in 20 folders of 10 subfolders below Root() / name, made once.
void GenerateTree(const std::string &name, long files, long bytes) {
    const fs::path src = Root() / name, done = Root() / (name + ".done");
    if (fs::exists(done)) return;
    fs::remove_all(src);
    std::vector<char> data(static_cast<std::size_t>(bytes));
    unsigned x = 12345;
    for (long i = 0; i < files; ++i) {
        const long folder = i % kFolders;
        const fs::path dir = src / ("dir" + std::to_string(folder / 10)) / ("sub" + std::to_string(folder % 10));
        fs::create_directories(dir);
        for (char &c : data) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
        std::ofstream(dir / ("file" + std::to_string(i) + ".dat"), std::ios::binary).write(data.data(), bytes);
    }
    std::ofstream(done) << "ok";
    bench::Shell("sync");
}

// The copier started as the utility starts it, drive C being the work folder; its peak is the side's.
void Copier(bench::Probe &probe, const std::string &arguments) {
    const bench::ChildResult r = bench::Spawn({QV_BIN_DIR "/qvxcopy", arguments}, {{"QUORVANT_DRIVES", "C=" + Root().string()}});
    probe.ChildPeak(r.peakKb);
    if (r.status != 0) throw std::runtime_error("qvxcopy " + arguments + " ended with status " + std::to_string(r.status));
}

// Every file of the source tree is in `copy` with its size.
void ExpectCopied(const fs::path &copy, long count = kFiles, long bytes = kFileBytes) {
    long files = 0;
    for (const auto &e : fs::recursive_directory_iterator(copy)) {
        // The backup's record of its last run lies hidden in the program folder; cp -a copies it too.
        if (!e.is_regular_file() || e.path().filename().string().starts_with(".")) continue;
        if (static_cast<long>(e.file_size()) != bytes)
            throw std::runtime_error(e.path().string() + " has the wrong size");
        ++files;
    }
    if (files != count) throw std::runtime_error(std::to_string(files) + " files copied to " + copy.string());
}

// A fresh destination, with the page cache written out, before each run.
std::function<void()> Fresh(const fs::path &destination) {
    return [destination] {
        fs::remove_all(destination);
        bench::Shell("sync");
    };
}

bench::Comparison Copy(long) {
    GenerateTree("src", kFiles, kFileBytes);
    const fs::path dst = Root() / "dst", cp = Root() / "cp";
    bench::Side a{"qvxcopy /T/Y then /s/d/y, sync", [](bench::Probe &probe) {
                      Copier(probe, "C:\\src\\*.* C:\\dst\\QVNWin32 /T/Y");
                      Copier(probe, "C:\\src\\*.* C:\\dst\\QVNWin32 /s/d/y");
                      bench::Shell("sync");
                  }};
    a.reset = Fresh(dst);
    a.check = [dst] { ExpectCopied(dst / "QVNWin32"); };
    bench::Side b{"cp -a, sync", [src = Root() / "src", cp](bench::Probe &probe) {
                      bench::CopyThenSync(probe, {"/bin/cp", "-a", src.string(), cp.string()});
                  }};
    b.reset = Fresh(cp);
    b.check = [cp] { ExpectCopied(cp); };
    return {"the backup's two copier passes vs cp -a, 5,000 files / 500 MB", a, b, {}};
}

bench::Comparison SecondPass(long) {
    GenerateTree("src", kFiles, kFileBytes);
    const fs::path dst = Root() / "dst";
    bench::Shell("QUORVANT_DRIVES='C=" + Root().string() + "' " QV_BIN_DIR "/qvxcopy 'C:\\src\\*.* C:\\dst\\QVNWin32 /s/d/y' >/dev/null");
    bench::Side a{"qvxcopy /s/d/y, nothing changed",
                  [](bench::Probe &probe) { Copier(probe, "C:\\src\\*.* C:\\dst\\QVNWin32 /s/d/y"); }};
    a.check = [dst] { ExpectCopied(dst / "QVNWin32"); };
    return {"the second pass over an unchanged copy", a, std::nullopt, {}};
}

// Step 2 pressed on a backup window of the program folder C:\`program` that opens on `into`, until
// FINISHED. Before each run `fresh` (the copy, or `into` whole) is removed; after it `copied` checks what
// was made.
bench::Side BackupWindow(const std::string &what, const std::string &program, const fs::path &into,
                         const fs::path &fresh, const std::function<void()> &copied) {
    setenv("QUORVANT_DRIVES", ("C=" + Root().string()).c_str(), 1);
    platform::SetAppPathForTests("C:\\" + program);
    auto boxes = std::make_shared<std::vector<std::string>>();
    platform::ui::SetMsgBoxResponderForTests([boxes](const platform::ui::MsgBoxRecord &box) {
        boxes->push_back(box.title + ": " + box.prompt);
        return platform::ui::vbOK;
    });
    auto form = std::make_shared<std::unique_ptr<backup::frmQuorDBBkUp>>();
    bench::Side a{what, [form](bench::Probe &) { (*form)->cmd2->Press(); }};
    a.reset = [=] {
        fs::current_path(Root());
        Fresh(fresh)();
        fs::create_directories(into);
        fs::current_path(into);  // the destination the window opens on
        platform::ui::ResetEndingForTests();
        *form = std::make_unique<backup::frmQuorDBBkUp>();
        (*form)->Show();
        boxes->clear();
    };
    a.check = [=] {
        if (boxes->size() != 2 || boxes->back().rfind("FINISHED: ", 0) != 0)
            throw std::runtime_error("no FINISHED: " + (boxes->empty() ? std::string() : boxes->back()));
        copied();
        form->reset();
    };
    return a;
}

bench::Comparison Backup(long mb) {
    constexpr long kBytes = 256 * 1024;
    const long files = mb * 4;
    const std::string name = "QVNWin32-" + std::to_string(mb);
    GenerateTree(name, files, kBytes);
    const fs::path into = Root() / "backups", copy = into / "QVNWin32", cp = Root() / "cp";
    bench::Side a = BackupWindow("the backup window's Step 2: two passes and the check", name, into, copy,
                                 [=] { ExpectCopied(copy, files, kBytes); });
    bench::Side b{"cp -a, sync, sha256sum of the copy", [src = Root() / name, cp](bench::Probe &probe) {
                      bench::CopyThenSync(probe, {"/bin/cp", "-a", src.string(), cp.string()});
                      bench::Shell("find '" + cp.string() + "' -type f -print0 | xargs -0 sha256sum >/dev/null");
                  }};
    b.reset = Fresh(cp);
    b.check = [cp, files] { ExpectCopied(cp, files, kBytes); };
    return {"backup of a " + std::to_string(mb) + " MB program folder, copy and check, vs cp -a + sync + sha256sum",
            a, b, {{bench::Figure::RatioMedian, 2.0}}};
}

// The whole backup with a data database of `mb` MB outside the program folder (a program folder of 10 MB
// in files of 256 KB and a settings database), against sqlite3 .backup of the data database, cp -a of the
// program folder, sync and sha256sum of both copies.
bench::Comparison BackupWithData(long mb) {
    constexpr long kBytes = 256 * 1024, kProgramFiles = 40;
    const std::string name = "QVNWin32-data";
    GenerateTree(name, kProgramFiles, kBytes);
    const fs::path data = Root() / "QVData" / "BILLING.mdb", done = Root() / ("QVData-" + std::to_string(mb) + ".done");
    if (!fs::exists(done)) {
        fs::remove_all(data.parent_path());
        fs::create_directories(data.parent_path());
        qvtest::SqlFile(Root() / name / "global.mdb").exec("create table if not exists current (x)");
        qvtest::SqlFile(data).exec("create table [tbl reading] (lockey integer, readdate datetime, pad blob); with "
                                   "recursive n(i) as (select 1 union all select i + 1 from n where i < " +
                                   std::to_string(mb * 256) + ") insert into [tbl reading] select i, '2026-12-07', "
                                   "randomblob(3900) from n");
        std::ofstream(done) << "ok";
        bench::Shell("sync");
    }
    const fs::path into = Root() / "backups", cp = Root() / "cp";
    startup::Shared().DataFilePath = "C:\\QVData\\BILLING.mdb";
    const auto sameSize = [data](const fs::path &copy) {
        if (fs::file_size(copy) != fs::file_size(data)) throw std::runtime_error(copy.string() + " has the wrong size");
    };
    bench::Side a = BackupWindow("the backup window's Step 2: passes, databases at one moment, check", name, into,
                                 into, [=] { sameSize(into / "QVNWin32 data" / "BILLING.mdb"); });
    bench::Side b{"sqlite3 .backup, cp -a, sync, sha256sum of both", [=](bench::Probe &) {
                      fs::create_directories(cp);
                      bench::Shell("sqlite3 '" + data.string() + "' \".backup '" + (cp / "BILLING.mdb").string() +
                                   "'\" && cp -a '" + (Root() / name).string() + "' '" + (cp / "QVNWin32").string() +
                                   "' && sync && find '" + cp.string() + "' -type f -print0 | xargs -0 sha256sum >/dev/null");
                  }};
    b.reset = Fresh(cp);
    b.check = [=] { sameSize(cp / "BILLING.mdb"); };
    return {"backup with a " + std::to_string(mb) + " MB data database vs sqlite3 .backup + cp -a + sync + sha256sum",
            a, b, {{bench::Figure::RatioMedian, 1.3}}};
}

}  // namespace

int main(int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return bench::Main(argc, argv, {{"copy", {}, Copy}, {"second-pass", {}, SecondPass}, {"backup", {1024}, Backup},
                                     {"backup-data", {1024}, BackupWithData}});
}
