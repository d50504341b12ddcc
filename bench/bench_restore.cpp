// The restore's file work on a large database (QV_BENCH_MB, default 1024 MB): safety copy plus
// replacement, against copying the same bytes with cp followed by sync.
//
//   bench_restore [--pairs N] [copy-and-replace|safety-copy]
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "pairs.h"
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
        dir = bench::WorkFolder("restore");
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

// The file is a database as big as `like` whose rows carry `tag`.
void ExpectDatabase(const fs::path &file, const fs::path &like, const std::string &tag) {
    if (!fs::exists(file) || fs::file_size(file) != fs::file_size(like))
        throw std::runtime_error(file.string() + " is missing or of the wrong size");
    qvtest::SqlFile db(file);
    if (db.scalar("select tag from t where id = (select max(id) from t)") != tag)
        throw std::runtime_error(file.string() + " does not hold the " + tag + " rows");
}

bench::Side CpAndSync() {
    Files &f = TheFiles();
    bench::Side b{"cp + sync of the chosen copy", [&f](bench::Probe &probe) {
                      bench::CopyThenSync(probe, {"/bin/cp", f.chosen.string(), f.cpTarget.string()});
                  }};
    b.reset = [&f] {
        fs::remove(f.cpTarget);
        bench::Shell("sync");
    };
    b.check = [&f] { ExpectDatabase(f.cpTarget, f.chosen, "new"); };
    return b;
}

bench::Comparison SafetyCopyAndReplacement(long) {
    Files &f = TheFiles();
    bench::Side a{"safety copy + replacement", [&f](bench::Probe &) {
                      auto hold = platform::dao::ExclusiveHold::Acquire(f.live);
                      platform::dao::BackupToNewFile(f.live, f.safety);
                      platform::dao::ReplaceContent(f.chosen, f.live);
                  }};
    a.reset = [&f] {
        fs::remove(f.safety);
        fs::copy_file(f.pristine, f.live, fs::copy_options::overwrite_existing);
        bench::Shell("sync");
    };
    a.check = [&f] {
        ExpectDatabase(f.safety, f.pristine, "old");
        ExpectDatabase(f.live, f.chosen, "new");
    };
    return {"the restore's safety copy and replacement vs one cp + sync", a, CpAndSync(), {}};
}

bench::Comparison SafetyCopyOnly(long) {
    Files &f = TheFiles();
    fs::copy_file(f.pristine, f.live, fs::copy_options::overwrite_existing);
    bench::Side a{"safety copy", [&f](bench::Probe &) { platform::dao::BackupToNewFile(f.live, f.safety); }};
    a.reset = [&f] {
        fs::remove(f.safety);
        bench::Shell("sync");
    };
    a.check = [&f] { ExpectDatabase(f.safety, f.pristine, "old"); };
    return {"the restore's safety copy alone vs one cp + sync", a, CpAndSync(), {}};
}

}  // namespace

int main(int argc, char **argv) {
    return bench::Main(argc, argv,
                       {{"copy-and-replace", {}, SafetyCopyAndReplacement}, {"safety-copy", {}, SafetyCopyOnly}});
}
