// The restore's file work on a large database (QV_BENCH_MB, default 1024 MB): safety copy plus
// replacement, against copying the same bytes with cp followed by sync.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/dao/dbfile.h"
#include "qvsample/sql_file.h"

namespace fs = std::filesystem;

namespace {

// A database of about `mb` megabytes whose rows carry `tag`.
void MakeDatabase(const fs::path &p, const std::string &tag, long mb) {
    if (fs::exists(p)) return;
    qvtest::SqlFile db(p);
    db.exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF");
    db.exec("CREATE TABLE t (id INTEGER PRIMARY KEY, tag TEXT, v BLOB)");
    db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(mb * 1000) +
                 ") INSERT INTO t SELECT i, '" + tag + "', randomblob(1000) FROM n");
}

struct Files {
    fs::path dir, pristine, chosen, live, safety, cpTarget;
    Files() {
        const char *d = std::getenv("QV_BENCH_DIR");
        dir = d ? fs::path(d) : fs::temp_directory_path() / "qv_bench_restore";
        fs::create_directories(dir);
        const char *mb = std::getenv("QV_BENCH_MB");
        const long size = mb ? std::atol(mb) : 1024;
        pristine = dir / ("old" + std::to_string(size) + ".mdb");
        chosen = dir / ("new" + std::to_string(size) + ".mdb");
        live = dir / "BILLING.mdb";
        safety = dir / "BILLINGreplacedbyautocopy010126000000.mdb";
        cpTarget = dir / "cp-target.mdb";
        MakeDatabase(pristine, "old", size);
        MakeDatabase(chosen, "new", size);
    }
};

Files &TheFiles() {
    static Files f;
    return f;
}

void Run(const std::string &command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

void BM_SafetyCopyAndReplacement(benchmark::State &state) {
    Files &f = TheFiles();
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(f.safety);
        fs::copy_file(f.pristine, f.live, fs::copy_options::overwrite_existing);
        Run("sync");
        state.ResumeTiming();
        {
            auto hold = platform::dao::ExclusiveHold::Acquire(f.live);
            platform::dao::BackupToNewFile(f.live, f.safety);
            platform::dao::ReplaceContent(f.chosen, f.live);
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(fs::file_size(f.chosen)));
}

void BM_SafetyCopyOnly(benchmark::State &state) {
    Files &f = TheFiles();
    fs::copy_file(f.pristine, f.live, fs::copy_options::overwrite_existing);
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(f.safety);
        Run("sync");
        state.ResumeTiming();
        platform::dao::BackupToNewFile(f.live, f.safety);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(fs::file_size(f.live)));
}

void BM_CpAndSync(benchmark::State &state) {
    Files &f = TheFiles();
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(f.cpTarget);
        Run("sync");
        state.ResumeTiming();
        Run("cp '" + f.chosen.string() + "' '" + f.cpTarget.string() + "' && sync");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(fs::file_size(f.chosen)));
}

}  // namespace

BENCHMARK(BM_CpAndSync)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_SafetyCopyOnly)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_SafetyCopyAndReplacement)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK_MAIN();
