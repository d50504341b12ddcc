// qvmigrate's conversion of one Jet file, against `mdb-schema | sqlite3` plus `mdb-export -I sqlite |
// sqlite3` per table on the same file (the Jet test file with the most rows); then each half alone:
// the file's rows read and converted again and again on the open file, and readings written into a
// new storage file with their index; and the second reading that --check goes through against the
// conversion's reading through libmdb.
//
//   bench_migrate [--pairs N] [--size N] [convert|read|write|second]
#include <fcntl.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "pairs.h"
#include "qvmigrate/jet.h"
#include "qvmigrate/jet_pages.h"
#include "qvmigrate/migrate.h"
#include "qvmigrate/storage.h"
#include "qvsample/sql_file.h"

namespace fs = std::filesystem;
using namespace qvmigrate;

namespace {

unsigned long long TotalRows(const fs::path &file) {
    const JetFile jet(file);
    unsigned long long n = 0;
    for (const auto &t : jet.Tables()) n += t.rows;
    return n;
}

// The Jet test file with the most rows, and that number.
std::pair<fs::path, unsigned long long> Largest() {
    const fs::path jetDir = QV_SOURCE_DIR "/tests/migrate/jet";
    if (!fs::exists(jetDir)) throw std::runtime_error(jetDir.string() + " is absent");
    std::pair<fs::path, unsigned long long> largest;
    for (const auto &e : fs::recursive_directory_iterator(jetDir))
        if (e.path().extension() == ".mdb" && TotalRows(e.path()) > largest.second) largest = {e.path(), TotalRows(e.path())};
    return largest;
}

// The rows of every table of `jet` that a converted file holds, counted by SQLite.
void ExpectRows(const fs::path &db, const fs::path &jet, unsigned long long rows) {
    qvtest::SqlFile f(db);
    const JetFile file(jet);
    unsigned long long n = 0;
    for (const auto &t : file.Tables()) n += static_cast<unsigned long long>(f.count("select count(*) from \"" + t.name + "\""));
    if (n != rows) throw std::runtime_error(db.string() + " holds " + std::to_string(n) + " rows of " + std::to_string(rows));
}

std::string Quote(const fs::path &p) { return "'" + p.string() + "'"; }

bench::Comparison Convert(long) {
    const auto [jet, rows] = Largest();
    const fs::path a = bench::WorkFolder("migrate") / "a.mdb", b = bench::WorkFolder("migrate") / "b.mdb";
    std::string pipeline = "mdb-schema " + Quote(jet) + " sqlite | sqlite3 " + Quote(b);
    const JetFile file(jet);
    for (const auto &t : file.Tables())
        pipeline += " && mdb-export -I sqlite " + Quote(jet) + " '" + t.name + "' | sqlite3 " + Quote(b);
    bench::Side sa{"qvmigrate's conversion (in process)", [jet = jet, a](bench::Probe &) {
                       std::ostringstream quiet;
                       const platform::Fd out(::open(a.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
                       ConvertJet(jet, out.get(), a, jet.filename().string(), quiet);
                   }};
    sa.reset = [a] { fs::remove(a); };
    sa.check = [a, jet = jet, rows = rows] { ExpectRows(a, jet, rows); };
    bench::Side sb{"mdb-schema + mdb-export | sqlite3", [pipeline](bench::Probe &probe) {
                       const bench::ChildResult r = bench::Spawn({"/bin/sh", "-c", pipeline});
                       if (r.status != 0) throw std::runtime_error("the mdbtools pipeline ended with status " + std::to_string(r.status));
                       probe.ChildPeak(r.peakKb);
                   }};
    sb.reset = [b] { fs::remove(b); };
    sb.check = [b, jet = jet, rows = rows] { ExpectRows(b, jet, rows); };
    return {jet.filename().string() + ": " + std::to_string(rows) + " rows converted", sa, sb, {}};
}

// Every row of every table read and its cells converted, as the conversion reads them; the rows read.
unsigned long ReadAll(JetFile &file) {
    unsigned long read = 0;
    for (std::size_t t = 0; t < file.Tables().size(); ++t) {
        JetFile::Rows rows(file, t);
        for (Row cells; rows.Next(cells);) {
        }
        read += rows.Count();
    }
    return read;
}

// Every row of the file read and its cells converted, `passes` times, on the file opened once.
bench::Comparison Read(long passes) {
    const auto [jet, rows] = Largest();
    auto open = std::make_shared<JetFile>(jet);
    auto read = std::make_shared<unsigned long long>(0);
    bench::Side a{"read + convert cells, " + std::to_string(passes) + " passes", [=](bench::Probe &) {
                      for (long p = 0; p < passes; ++p) *read += ReadAll(*open);
                  }};
    a.reset = [read] { *read = 0; };
    a.check = [=, rows = rows] {
        if (*read != rows * static_cast<unsigned long long>(passes)) throw std::runtime_error("rows were not read");
    };
    return {jet.filename().string() + ": the Jet read side alone", a, std::nullopt, {}};
}

// Every row of the file, `passes` times on the file opened once: the pages read the second way (the
// stored bytes of each cell, long values gathered) against libmdb's rows with their cells converted.
bench::Comparison Second(long passes) {
    const auto [jet, rows] = Largest();
    auto raw = std::make_shared<pages::File>(jet);
    auto open = std::make_shared<JetFile>(jet);
    auto readA = std::make_shared<unsigned long long>(0), readB = std::make_shared<unsigned long long>(0);
    bench::Side a{"second reading (jet_pages), " + std::to_string(passes) + " passes", [=](bench::Probe &) {
                      for (long p = 0; p < passes; ++p)
                          for (const auto &t : raw->Tables()) {
                              pages::File::Rows r(*raw, t);
                              for (std::vector<pages::Cell> cells; r.Next(cells);) ++*readA;
                          }
                  }};
    bench::Side b{"libmdb reading + cells converted, " + std::to_string(passes) + " passes", [=](bench::Probe &) {
                      for (long p = 0; p < passes; ++p) *readB += ReadAll(*open);
                  }};
    a.reset = [readA] { *readA = 0; };
    b.reset = [readB] { *readB = 0; };
    const unsigned long long expected = rows * static_cast<unsigned long long>(passes);
    a.check = [=] {
        if (*readA != expected) throw std::runtime_error("the second reading did not read every row");
    };
    b.check = [=] {
        if (*readB != expected) throw std::runtime_error("libmdb did not read every row");
    };
    return {jet.filename().string() + ": the second reading against libmdb's", a, b, {}};
}

// `n` readings shaped like `tbl reading` (dates converted from Jet day numbers, as read) into a new
// storage file, indexed on lockey, finished.
bench::Comparison Write(long n) {
    const fs::path file = bench::WorkFolder("migrate") / "w.mdb";
    const JetTable table{"tbl reading",
                         {{"billdate", 0, 0, 0, "DATETIME"}, {"readdate", 0, 0, 0, "DATETIME"}, {"code", 0, 0, 0, "TEXT"},
                          {"lockey", 0, 0, 0, "INTEGER"}},
                         {{"lockey", {3}, {false}, false}},
                         static_cast<unsigned long>(n)};
    bench::Side a{"convert dates + insert + index", [=](bench::Probe &) {
                      const platform::Fd out(::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
                      auto db = StorageFile::CreateForLoad(out.get(), file);
                      db->CreateTable(table);
                      Row row(4);
                      const char *codes[] = {"W", "E", "G"};
                      for (long i = 0; i < n; ++i) {
                          const double bill = 45000 + static_cast<double>(i % 36) * 30;
                          row[0].kind = row[1].kind = row[2].kind = Value::Kind::Text;
                          JetDateText(bill, row[0].s);
                          JetDateText(bill - 2 - static_cast<double>(i % 5) + (i % 10 == 3 ? 0.4375 : 0), row[1].s);
                          row[2].s = codes[i % 3];
                          row[3].SetInteger(i % 40000);
                          db->Insert(row);
                      }
                      db->CreateIndexes(table);
                      db->Finish({{table.name, static_cast<unsigned long>(n)}});
                  }};
    a.reset = [file] { fs::remove(file); };
    a.check = [file, n] {
        if (qvtest::SqlFile(file).count("select count(*) from \"tbl reading\" where lockey >= 0") != n)
            throw std::runtime_error("the readings were not written");
    };
    return {"the storage write side alone: " + std::to_string(n) + " readings", a, std::nullopt, {}};
}

}  // namespace

int main(int argc, char **argv) {
    return bench::Main(argc, argv, {{"convert", {}, Convert}, {"read", {2000}, Read}, {"write", {1000000}, Write}, {"second", {2000}, Second}});
}
