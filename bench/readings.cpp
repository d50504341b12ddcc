#include "readings.h"

#include "pairs.h"
#include "qvsample/sql_file.h"

namespace bench {

namespace fs = std::filesystem;

namespace {

std::string Series(long n) {
    return "with recursive n(i) as (select 1 union all select i + 1 from n where i < " + std::to_string(n) + ") ";
}

fs::path PristineData(const ReadingsLayout &l) {
    const fs::path file = WorkFolder("readings") / ("data-" + std::to_string(l.accounts) + "x" +
                                                     std::to_string(l.billDates) + ".mdb");
    if (fs::exists(file)) return file;
    const fs::path part = fs::path(file).concat(".part");
    fs::remove(part);
    {
        qvtest::SqlFile db(part);
        db.exec("create table [tbl reading] (billdate DATETIME, readdate DATETIME, code TEXT, lockey INTEGER, "
                "reading INTEGER)");
        db.exec("create table LIDB ([When] TEXT, ByWhom TEXT, What TEXT)");
        db.exec("begin");
        for (int b = 0; b < l.billDates; ++b) {
            const std::string bill = "date('2021-03-01', '+" + std::to_string(b) + " months')";
            for (const char *code : {"W", "E"})
                db.exec(Series(l.accounts) + "insert into [tbl reading] select " + bill + ", date(" + bill +
                        ", '-5 days'), '" + code + "', i, 1000 + i from n");
        }
        db.exec("commit");
        db.exec("create index billdate_idx on [tbl reading] (billdate)");
    }
    fs::rename(part, file);
    return file;
}

}  // namespace

qvtest::Installation LayOutReadings(const fs::path &driveC, const ReadingsLayout &layout, bool withBinaries) {
    qvtest::InstallationOptions o;
    o.accounts = static_cast<int>(layout.accounts);
    o.selected = 0;
    o.readingsPerBill = 0;
    o.automaticCopies = false;
    o.copyBinaries = withBinaries;
    qvtest::Installation in = qvtest::LayOutInstallation(driveC, QV_BIN_DIR, o);
    fs::copy_file(PristineData(layout), in.dataDb, fs::copy_options::overwrite_existing);
    qvtest::SqlFile selection(in.tempDataDb);
    selection.exec(Series(layout.selected) + "insert into selectionsetDTC select i, 'A' || i from n");
    return in;
}

}  // namespace bench
