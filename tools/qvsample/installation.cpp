// Laying out a generated installation: its folders, databases, configuration and programs.
#include "qvsample/installation.h"

#include <random>
#include <stdexcept>

#include "qvsample/sql_file.h"

namespace qvtest {

namespace fs = std::filesystem;

namespace {

std::string Iso(int y, int m, int d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    return buf;
}

void MakeDataDatabase(const fs::path &file, const InstallationOptions &o, unsigned variant) {
    SqlFile db(file);
    db.exec("create table [tbl reading] (billdate DATETIME, readdate DATETIME, code TEXT, lockey INTEGER, "
            "reading INTEGER)");
    db.exec("create index billdate_idx on [tbl reading] (billdate)");
    db.exec("create table LIDB ([When] TEXT, ByWhom TEXT, What TEXT)");
    std::mt19937 rng(7 + variant);
    const char *codes[] = {"W", "E", "G"};
    const int months[] = {4, 5, 6};
    db.exec("begin");
    for (int mi = 0; mi < 3; ++mi) {
        const int m = months[mi];
        for (int i = 0; i < o.readingsPerBill; ++i) {
            const int lockey = 1 + static_cast<int>(rng() % static_cast<unsigned>(o.accounts));
            // Most readings were read a few days before the bill date; some carry a time of day.
            const int day = 24 + static_cast<int>(rng() % 5);
            std::string read = Iso(2026, m - 1, day);
            if (i % 10 == 3) read += " 10:30:00";
            db.exec("insert into [tbl reading] values ('" + Iso(2026, m, 1) + "','" + read + "','" +
                    codes[i % 3] + "'," + std::to_string(lockey) + "," + std::to_string(1000 + i + variant) + ")");
        }
    }
    db.exec("commit");
}

void MakeSelection(const fs::path &file, const InstallationOptions &o) {
    SqlFile db(file);
    db.exec("create table selectionsetDTC (lockey INTEGER, accno TEXT)");
    db.exec("begin");
    for (int k = 1; k <= o.selected && k <= o.accounts; ++k)
        db.exec("insert into selectionsetDTC values (" + std::to_string(k) + ",'" +
                std::to_string(1002000 + k) + "')");
    db.exec("commit");
}

void CopyBinary(const fs::path &binDir, const fs::path &programDir, const char *name) {
    fs::path from = binDir / name;
    if (!fs::exists(from)) return;  // not built yet: the caller decides whether it needs it
    fs::copy_file(from, programDir / name, fs::copy_options::overwrite_existing);
}

}  // namespace

Installation LayOutInstallation(const fs::path &driveC, const fs::path &binDir, const InstallationOptions &o) {
    Installation in;
    in.driveC = driveC;
    in.programDir = driveC / "QVNWin32";
    in.globalDb = in.programDir / "global.mdb";
    in.auditDir = in.programDir / "AUDIT";
    in.qvutil = in.programDir / "qvutil";
    in.dataDir = in.programDir / "DATA";
    in.dataDb = in.dataDir / "BILLING.mdb";
    in.backupDir = in.dataDir / "backup";
    in.tempDataDb = driveC / "users" / "public" / "qv32tempdata" / "tempdataDTC.mdb";
    for (const fs::path &folder : {in.auditDir, in.backupDir, in.tempDataDb.parent_path()}) fs::create_directories(folder);
    for (const fs::path &made : {in.globalDb, in.dataDb, in.tempDataDb}) fs::remove(made);

    {
        SqlFile g(in.globalDb);
        g.exec("create table current (databasepath TEXT, DatabaseFileName TEXT, version TEXT)");
        if (!o.emptyCurrent) g.exec("insert into current values ('C:\\QVNWin32\\DATA','BILLING.mdb','3.2')");
        g.setPassword("tovan58");
    }
    MakeDataDatabase(in.dataDb, o, 0);
    if (o.automaticCopies) {
        for (unsigned n = 1; n <= 3; ++n) {
            const fs::path copy = in.backupDir / ("BILLING" + std::to_string(n) + ".mdb");
            fs::remove(copy);
            MakeDataDatabase(copy, o, n);
        }
        fs::copy_file(in.globalDb, in.backupDir / "GLOBAL1.mdb", fs::copy_options::overwrite_existing);
        fs::copy_file(in.dataDb, in.backupDir / "BILLING.ZIP", fs::copy_options::overwrite_existing);
    }
    MakeSelection(in.tempDataDb, o);

    if (o.copyBinaries) {
        CopyBinary(binDir, in.programDir, "qvutil");
        CopyBinary(binDir, in.programDir, "qvxcopy");
    }
    return in;
}

}  // namespace qvtest
