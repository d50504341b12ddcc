// The database engine's speed: a large snapshot walked, FindFirst look-ups, and dynaset updates
// against one set-based UPDATE. Databases live under QV_BENCH_DIR (default: the system temp folder).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/dao/dao.h"
#include "qvsample/sql_file.h"

namespace fs = std::filesystem;
using namespace platform::dao;

namespace {

// Drive C is a folder of its own; each database is made once per run.
fs::path Folder() {
    static const fs::path dir = [] {
        const char *base = std::getenv("QV_BENCH_DIR");
        fs::path d = fs::path(base ? base : fs::temp_directory_path().string()) / "qvutil-bench-dao";
        fs::create_directories(d);
        setenv("QUORVANT_DRIVES", ("C=" + d.string()).c_str(), 1);
        return d;
    }();
    return dir;
}

// Table t of `rows` rows: lockey, accno text, readdate (storage text), usage.
std::string MakeTable(const std::string &name, long rows) {
    const fs::path p = Folder() / (name + ".mdb");
    if (!fs::exists(p)) {
        qvtest::SqlFile db(p);
        db.exec("CREATE TABLE t (lockey INTEGER, accno TEXT, readdate DATETIME, usage REAL)");
        db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(rows) +
                     ") INSERT INTO t SELECT i, 'ACC-' || i, date('2021-01-01', '+' || (i % 365) || ' days'), "
                     "i * 0.25 FROM n");
    }
    return "C:\\" + name + ".mdb";
}

void PeakRss(benchmark::State &state) {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["peak_rss_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void BM_SnapshotWalk(benchmark::State &state) {
    const std::string name = MakeTable("walk", state.range(0));
    std::int64_t rows = 0;
    for (auto _ : state) {
        Database db = DBEngine().OpenDatabase(name);
        Recordset rs = db.OpenRecordset("select * from t", dbOpenSnapshot);
        for (; !rs.Eof(); rs.MoveNext()) {
            benchmark::DoNotOptimize(rs.Fields("lockey").Value());
            benchmark::DoNotOptimize(rs.Fields("accno").Value());
            benchmark::DoNotOptimize(rs.Fields("readdate").Value());
            benchmark::DoNotOptimize(rs.Fields("usage").Value());
            ++rows;
        }
        db.Close();
    }
    state.SetItemsProcessed(rows);
    PeakRss(state);
}
BENCHMARK(BM_SnapshotWalk)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->Iterations(2);

// 100,000 look-ups on a 50,000-row snapshot; the index is built inside the timed loop.
void BM_FindFirst(benchmark::State &state) {
    const std::string name = MakeTable("find", 50'000);
    Database db = DBEngine().OpenDatabase(name);
    for (auto _ : state) {
        Recordset rs = db.OpenRecordset("select * from t order by lockey", dbOpenSnapshot);
        for (int i = 0; i < 100'000; ++i) {
            rs.FindFirst("lockey = " + std::to_string(1 + (i * 7919) % 60'000));
            benchmark::DoNotOptimize(rs.NoMatch());
        }
    }
    db.Close();
    state.SetItemsProcessed(state.iterations() * 100'000);
}
BENCHMARK(BM_FindFirst)->Unit(benchmark::kMillisecond);

// Edit/Update of every record of a dynaset, each given the same new date (as the read-date run
// does); with `read`, each record's value is read first, which costs a fetch of the record.
void EditAll(Database &db, bool read = false) {
    const Variant when(platform::MakeDateTime(2021, 4, 30));
    Recordset rs = db.OpenRecordset("select * from t", dbOpenDynaset);
    for (; !rs.Eof(); rs.MoveNext()) {
        if (read) benchmark::DoNotOptimize(rs.Fields("readdate").Value());
        rs.Edit();
        rs.Fields("readdate") = when;
        rs.Update();
    }
}

void BM_DynasetUpdateInTransaction(benchmark::State &state) {
    const std::string name = MakeTable("update", state.range(0));
    Database db = DBEngine().OpenDatabase(name);
    Workspace &ws = DBEngine().Workspaces(0);
    for (auto _ : state) {
        ws.BeginTrans();
        EditAll(db, state.range(1) != 0);
        ws.CommitTrans();
    }
    db.Close();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DynasetUpdateInTransaction)->Args({100'000, 0})->Args({100'000, 1})->Unit(benchmark::kMillisecond);

void BM_SetBasedUpdate(benchmark::State &state) {
    const std::string name = MakeTable("update", state.range(0));
    Database db = DBEngine().OpenDatabase(name);
    for (auto _ : state) db.Execute("update t set readdate = #4/30/2021#");
    db.Close();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SetBasedUpdate)->Arg(100'000)->Unit(benchmark::kMillisecond);

// Each Update its own commit (and sync): run on fewer records, per-record time is what counts.
void BM_DynasetUpdateNoTransaction(benchmark::State &state) {
    const std::string name = MakeTable("update_each", state.range(0));
    Database db = DBEngine().OpenDatabase(name);
    for (auto _ : state) EditAll(db);
    db.Close();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DynasetUpdateNoTransaction)->Arg(1'000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
