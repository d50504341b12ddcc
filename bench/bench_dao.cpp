// The database engine's speed: a large snapshot walked, FindFirst look-ups, and dynaset updates
// against one set-based UPDATE. Databases live in the work folder (QV_BENCH_DIR).
//
//   bench_dao [--pairs N] [--size N] [walk|findfirst|update|update-read|update-each]
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "pairs.h"
#include "platform/dao/dao.h"
#include "qvsample/sql_file.h"

namespace fs = std::filesystem;
using namespace platform::dao;

namespace {

// Drive C is the work folder; each database is made once and kept for later runs.
fs::path Folder() {
    static const fs::path dir = [] {
        const fs::path d = bench::WorkFolder("dao");
        setenv("QUORVANT_DRIVES", ("C=" + d.string()).c_str(), 1);
        return d;
    }();
    return dir;
}

// Table t of `rows` rows: lockey, accno text, readdate (storage text), usage.
fs::path MakeTable(const std::string &name, long rows) {
    const fs::path p = Folder() / (name + std::to_string(rows) + ".mdb");
    if (!fs::exists(p)) {
        qvtest::SqlFile db(p);
        db.exec("CREATE TABLE t (lockey INTEGER, accno TEXT, readdate DATETIME, usage REAL)");
        db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(rows) +
                ") INSERT INTO t SELECT i, 'ACC-' || i, date('2021-01-01', '+' || (i % 365) || ' days'), "
                "i * 0.25 FROM n");
    }
    return p;
}

std::string Jet(const fs::path &p) { return "C:\\" + p.filename().string(); }

void Expect(long long got, long long want, const std::string &what) {
    if (got != want)
        throw std::runtime_error(what + ": " + std::to_string(got) + " where " + std::to_string(want) + " were due");
}

// Keeps a value from being optimised away.
template <class T>
void Use(const T &v) {
    asm volatile("" : : "g"(&v) : "memory");
}

bench::Comparison Walk(long size) {
    const fs::path file = MakeTable("walk", size);
    auto seen = std::make_shared<long long>(0);
    bench::Side dao{"DAO snapshot, four fields a row", [=](bench::Probe &) {
                        Database db = DBEngine().OpenDatabase(Jet(file));
                        Recordset rs = db.OpenRecordset("select * from t", dbOpenSnapshot);
                        for (; !rs.Eof(); rs.MoveNext()) {
                            Use(rs.Fields("lockey").Value());
                            Use(rs.Fields("accno").Value());
                            Use(rs.Fields("readdate").Value());
                            Use(rs.Fields("usage").Value());
                            ++*seen;
                        }
                        db.Close();
                    }};
    bench::Side raw{"sqlite3_step, four columns a row", [=](bench::Probe &) {
                        sqlite3 *db = nullptr;
                        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
                        sqlite3_stmt *st = nullptr;
                        sqlite3_prepare_v2(db, "select * from t", -1, &st, nullptr);
                        while (sqlite3_step(st) == SQLITE_ROW) {
                            Use(sqlite3_column_int64(st, 0));
                            Use(sqlite3_column_text(st, 1));
                            Use(sqlite3_column_text(st, 2));
                            Use(sqlite3_column_double(st, 3));
                            ++*seen;
                        }
                        sqlite3_finalize(st);
                        sqlite3_close(db);
                    }};
    dao.reset = raw.reset = [=] { *seen = 0; };
    dao.check = raw.check = [=] { Expect(*seen, size, "rows walked"); };
    return {"walking a snapshot of " + std::to_string(size) + " rows vs raw SQLite", dao, raw, {}};
}

bench::Comparison FindFirst(long) {
    const fs::path file = MakeTable("find", 50'000);
    auto found = std::make_shared<long long>(0);
    bench::Side a{"100,000 FindFirst on 50,000 rows", [=](bench::Probe &) {
                      Database db = DBEngine().OpenDatabase(Jet(file));
                      Recordset rs = db.OpenRecordset("select * from t order by lockey", dbOpenSnapshot);
                      for (int i = 0; i < 100'000; ++i) {
                          rs.FindFirst("lockey = " + std::to_string(1 + (i * 7919) % 60'000));
                          if (!rs.NoMatch()) ++*found;
                      }
                      db.Close();
                  }};
    a.reset = [=] { *found = 0; };
    // Keys 1..60,000 in a fixed stride over 50,000 rows: those up to 50,000 are found.
    a.check = [=] {
        long long due = 0;
        for (int i = 0; i < 100'000; ++i) due += 1 + (i * 7919) % 60'000 <= 50'000;
        Expect(*found, due, "records found");
    };
    return {"FindFirst look-ups, the index built inside the timing", a, std::nullopt, {}};
}

// Edit/Update of every record of a dynaset, each given the same new date (as the read-date run does);
// with `read`, each record's value is read first, which costs a fetch of the record.
void EditAll(Database &db, const Variant &when, bool read) {
    Recordset rs = db.OpenRecordset("select * from t", dbOpenDynaset);
    for (; !rs.Eof(); rs.MoveNext()) {
        if (read) Use(rs.Fields("readdate").Value());
        rs.Edit();
        rs.Fields("readdate") = when;
        rs.Update();
    }
}

// Each run gives every row a date of its own, so every run really changes every row; the check counts them.
struct Dates {
    int day = 0;
    std::string storage;  // yyyy-mm-dd of the last run
    Variant Next() {
        day = day % 28 + 1;
        storage = "2021-04-" + std::string(day < 10 ? "0" : "") + std::to_string(day);
        return Variant(platform::MakeDateTime(2021, 4, day));
    }
};

bench::Side CountedDate(const fs::path &file, long size, const std::shared_ptr<Dates> &dates) {
    bench::Side s;
    s.check = [=] {
        qvtest::SqlFile db(file);
        Expect(db.count("select count(*) from t where readdate = '" + dates->storage + "'"), size, "rows changed");
    };
    return s;
}

bench::Comparison Update(long size, bool read) {
    const fs::path file = MakeTable("update", size);
    auto dates = std::make_shared<Dates>();
    bench::Side a = CountedDate(file, size, dates), b = CountedDate(file, size, dates);
    a.name = read ? "Edit/Update each record, read first" : "Edit/Update each record";
    a.run = [=](bench::Probe &) {
        const Variant when = dates->Next();
        Database db = DBEngine().OpenDatabase(Jet(file));
        Workspace &ws = DBEngine().Workspaces(0);
        ws.BeginTrans();
        EditAll(db, when, read);
        ws.CommitTrans();
        db.Close();
    };
    b.name = "one set-based UPDATE";
    b.run = [=](bench::Probe &) {
        dates->Next();
        Database db = DBEngine().OpenDatabase(Jet(file));
        db.Execute("update t set readdate = #4/" + std::to_string(dates->day) + "/2021#");
        db.Close();
    };
    return {"a dynaset's records changed in one transaction vs one UPDATE, " + std::to_string(size) + " rows", a,
            b, {}};
}

// Each Update its own commit (and sync): run on fewer records, per-record time is what counts.
bench::Comparison UpdateEach(long size) {
    const fs::path file = MakeTable("update_each", size);
    auto dates = std::make_shared<Dates>();
    bench::Side a = CountedDate(file, size, dates);
    a.name = "Edit/Update, each its own commit";
    a.run = [=](bench::Probe &) {
        const Variant when = dates->Next();
        Database db = DBEngine().OpenDatabase(Jet(file));
        EditAll(db, when, false);
        db.Close();
    };
    return {"dynaset updates without a transaction", a, std::nullopt, {}};
}

}  // namespace

int main(int argc, char **argv) {
    return bench::Main(argc, argv,
                       {{"walk", {1'000'000}, Walk},
                        {"findfirst", {}, FindFirst},
                        {"update", {100'000}, [](long n) { return Update(n, false); }},
                        {"update-read", {100'000}, [](long n) { return Update(n, true); }},
                        {"update-each", {1'000}, UpdateEach}});
}
