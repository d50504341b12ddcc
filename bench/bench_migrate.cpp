// qvmigrate's conversion of one Jet file, against `mdb-schema | sqlite3` plus `mdb-export -I sqlite | sqlite3`
// per table on the same file, run in pairs (A, B, A, B ...; QV_BENCH_REPS pairs, default 20): medians,
// minimums and rows per second of both. The file is the Jet test file with the most rows. Then the
// SQLite write side alone: 1,000,000 readings (dates converted from Jet day numbers, as read) into a
// new file with its index, checked and closed (QV_BENCH_ROWS, default 1000000; 5 runs). Between them the
// read side alone: the file's rows read again and again on the open file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "qvmigrate/jet.h"
#include "qvmigrate/migrate.h"
#include "qvmigrate/storage.h"
#include "qvsample/sql_file.h"

namespace fs = std::filesystem;
using namespace qvmigrate;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

struct Times {
    std::vector<double> s;
    double Median() {
        std::sort(s.begin(), s.end());
        return s[s.size() / 2];
    }
    double Min() { return *std::min_element(s.begin(), s.end()); }
};

std::string Quote(const std::string &s) { return "'" + s + "'"; }

unsigned long long TotalRows(const fs::path &file) {
    const JetFile jet(file);
    unsigned long long n = 0;
    for (const auto &t : jet.Tables()) n += t.rows;
    return n;
}

// The rows of every table of a converted file, counted by SQLite.
unsigned long long CountedRows(const fs::path &db, const JetFile &jet) {
    qvtest::SqlFile f(db);
    unsigned long long n = 0;
    for (const auto &t : jet.Tables()) n += static_cast<unsigned long long>(f.count("select count(*) from \"" + t.name + "\""));
    return n;
}

void Report(const char *what, Times &t, unsigned long long rows) {
    std::printf("%-34s median %9.3f ms  min %9.3f ms  %12.0f rows/s\n", what, t.Median() * 1e3, t.Min() * 1e3,
                static_cast<double>(rows) / t.Median());
}

}  // namespace

int main() {
    const fs::path jetDir = QV_SOURCE_DIR "/../shared/jet";
    if (!fs::exists(jetDir)) {
        std::cerr << jetDir << " is absent\n";
        return 1;
    }
    fs::path largest;
    unsigned long long rows = 0;
    for (const auto &e : fs::recursive_directory_iterator(jetDir))
        if (e.path().extension() == ".mdb" && TotalRows(e.path()) > rows) rows = TotalRows(largest = e.path());
    const JetFile jet(largest);
    const fs::path dir = fs::temp_directory_path() / ("qv_bench_migrate_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path a = dir / "a.mdb", b = dir / "b.mdb";
    std::string pipeline = "mdb-schema " + Quote(largest.string()) + " sqlite | sqlite3 " + Quote(b.string());
    for (const auto &t : jet.Tables())
        pipeline += " && mdb-export -I sqlite " + Quote(largest.string()) + " " + Quote(t.name) + " | sqlite3 " + Quote(b.string());

    const int reps = std::getenv("QV_BENCH_REPS") ? std::atoi(std::getenv("QV_BENCH_REPS")) : 20;
    Times ta, tb;
    std::ostringstream quiet;
    for (int i = 0; i < reps; ++i) {
        fs::remove(a);
        fs::remove(b);
        auto t0 = Clock::now();
        ConvertJet(largest, a, largest.filename().string(), quiet);
        ta.s.push_back(Seconds(t0));
        t0 = Clock::now();
        if (std::system(pipeline.c_str()) != 0) {
            std::cerr << "failed: " << pipeline << "\n";
            return 1;
        }
        tb.s.push_back(Seconds(t0));
        if (CountedRows(a, jet) != rows || CountedRows(b, jet) != rows) {
            std::cerr << "a conversion lost rows\n";
            return 1;
        }
    }
    std::printf("%s: %llu rows in %zu tables, %d pairs\n", largest.string().c_str(), rows, jet.Tables().size(), reps);
    Report("qvmigrate conversion (in process)", ta, rows);
    Report("mdb-schema + mdb-export | sqlite3", tb, rows);

    // The read side alone: every row of the file read again and again on the open file (libmdb's pages
    // and the cells converted), for a per-row cost without the opening.
    {
        JetFile open(largest);
        Times tr;
        const int passes = 2000;
        for (int run = 0; run < 5; ++run) {
            unsigned long long read = 0;
            const auto t0 = Clock::now();
            for (int p = 0; p < passes; ++p)
                for (std::size_t t = 0; t < open.Tables().size(); ++t) read += open.ReadRows(t, [](unsigned long, const Row &) {});
            tr.s.push_back(Seconds(t0));
            if (read != rows * passes) return 1;
        }
        std::printf("Jet read side, %d passes over the file's rows, 5 runs:\n", passes);
        Report("read + convert cells", tr, rows * passes);
    }

    // The write side alone: readings shaped like `tbl reading`, indexed on lockey.
    const unsigned long n = std::getenv("QV_BENCH_ROWS") ? std::strtoul(std::getenv("QV_BENCH_ROWS"), nullptr, 10) : 1000000;
    JetTable table{"tbl reading", {{"billdate", 0, 0, 0, "DATETIME"}, {"readdate", 0, 0, 0, "DATETIME"},
                                   {"code", 0, 0, 0, "TEXT"}, {"lockey", 0, 0, 0, "INTEGER"}},
                   {{"lockey", {3}, {false}, false}}, n};
    Times tw;
    for (int run = 0; run < 5; ++run) {
        fs::remove(a);
        const auto t0 = Clock::now();
        auto db = StorageFile::CreateForLoad(a);
        db->CreateTable(table);
        Row row(4);
        const char *codes[] = {"W", "E", "G"};
        for (unsigned long i = 0; i < n; ++i) {
            const double bill = 45000 + static_cast<double>(i % 36) * 30;
            row[0].kind = row[1].kind = row[2].kind = Value::Kind::Text;
            JetDateText(bill, row[0].s);
            JetDateText(bill - 2 - static_cast<double>(i % 5) + (i % 10 == 3 ? 0.4375 : 0), row[1].s);
            row[2].s = codes[i % 3];
            row[3].SetInteger(static_cast<long long>(i % 40000));
            db->Insert(row);
        }
        db->CreateIndexes(table);
        db->Finish({{table.name, n}});
        tw.s.push_back(Seconds(t0));
    }
    std::printf("SQLite write side, %lu readings, 5 runs:\n", n);
    Report("convert dates + insert + index", tw, n);
    fs::remove_all(dir);
    return 0;
}
