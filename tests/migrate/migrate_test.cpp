// qvmigrate on Jet files that no code of this project wrote: every cell against mdb-export (NULL and
// empty text told apart through libmdb's null mask), the billing-shaped files against what was written
// into them, files it cannot read; and an office's installation carried over and used by a clerk on
// the real windows (a read-date correction, --check naming the changed rows, a restore).
#include <QProcess>
#include <QSettings>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mdbtools.h>
#include <set>
#include <sqlite3.h>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "qvmigrate/jet.h"
#include "qvmigrate/jet_header.h"
#include "qvsample/sql_file.h"
#include "qvsample/temp_drive.h"
#include "support/e2e.h"

namespace qvtest {

inline const std::filesystem::path kJet = QV_SOURCE_DIR "/../shared/jet";
namespace fs = std::filesystem;

// Where scripts/setup puts the two Access files that Debian packages ship.
fs::path DebianJet() {
    const char *xdg = std::getenv("XDG_CACHE_HOME");
    const char *home = std::getenv("HOME");
    return (xdg && *xdg ? fs::path(xdg) : fs::path(home ? home : "/") / ".cache") / "qvutil/debian-jet";
}

struct QvRun {
    int status = -1;
    std::string out, err;
};

// The Windows drive of an office (S:, with the billing-shaped Jet files) and the Linux folder it
// becomes (C:).
struct MigrateEnv {
    TempDrives drives{"SC"};
    fs::path source = drives.folder('S'), target = drives.folder('C'), config = drives.root() / "xdg/quorvant/qvutil.conf";
    std::vector<std::pair<fs::path, fs::path>> copies;  // Jet file, converted file

    MigrateEnv() {
        fs::create_directories(source / "QVNWin32/AUDIT");
        for (const auto &[name, folder] : std::vector<std::pair<std::string, std::string>>{
                 {"global.mdb", "QVNWin32"}, {"BILLING.mdb", "QVData"}, {"BILLING1.mdb", "QVData/backup"},
                 {"tempdataDTC.mdb", "users/public/qv32tempdata"}}) {
            fs::create_directories(source / folder);
            fs::copy_file(kJet / "billing" / name, source / folder / name);
            copies.emplace_back(source / folder / name, target / folder / name);
        }
    }
    // Puts a Jet file into the data folder's backup folder, where every .mdb is converted.
    void AddCopy(const fs::path &jet) {
        const fs::path to = source / "QVData/backup" / jet.filename();
        fs::copy_file(jet, to, fs::copy_options::overwrite_existing);
        copies.emplace_back(to, target / "QVData/backup" / jet.filename());
    }
    // qvmigrate [args] --config CONFIG SOURCE TARGET
    QvRun Run(std::vector<std::string> args) const {
        args.insert(args.end(), {"--config", config.string(), source.string(), target.string()});
        Program p(fs::path(QV_BIN_DIR) / "qvmigrate", args, {});
        QvRun r;
        r.status = p.wait(120000).value_or(-1);
        r.out = p.output();
        r.err = p.errorOutput();
        return r;
    }
};

}  // namespace qvtest

namespace {

using namespace qvtest;
namespace fs = std::filesystem;

// The cells of one Jet table as mdb-export prints them (tab-separated, C escapes, "<NULL>" for NULL
// and for empty text alike), with libmdb's column types and each cell's null flag from the row's
// null mask.
struct JetTableDump {
    std::vector<int> types, scales;
    std::vector<std::vector<std::string>> exported;
    std::vector<std::vector<bool>> nulls;
};

JetTableDump Dump(const fs::path &file, const std::string &table) {
    JetTableDump d;
    QProcess p;
    p.start("mdb-export", {"-H", "-d", "\t", "-e", "-0", "<NULL>", "-T", "%Y-%m-%d %H:%M:%S", "-D", "%Y-%m-%d %H:%M:%S",
                           QString::fromStdString(file.string()), QString::fromStdString(table)});
    p.waitForFinished(60000);
    std::istringstream lines(p.readAllStandardOutput().toStdString());
    for (std::string line; std::getline(lines, line);) {
        d.exported.emplace_back();
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');) d.exported.back().push_back(cell);
    }
    MdbHandle *mdb = mdb_open(file.c_str(), MDB_NOFLAGS);
    mdb_read_catalog(mdb, MDB_TABLE);
    MdbTableDef *t = mdb_read_table_by_name(mdb, const_cast<gchar *>(table.c_str()), MDB_TABLE);
    mdb_read_columns(t);
    for (unsigned c = 0; c < t->num_cols; ++c) {
        auto *col = static_cast<MdbColumn *>(g_ptr_array_index(t->columns, c));
        d.types.push_back(col->col_type);
        d.scales.push_back(std::min(col->col_scale, col->col_prec));  // libmdb swaps precision and scale
    }
    std::vector<MdbField> fields(t->num_cols);
    mdb_rewind_table(t);
    while (mdb_fetch_row(t)) {
        int start = 0;
        size_t size = 0;
        mdb_find_row(mdb, static_cast<int>(t->cur_row) - 1, &start, &size);
        mdb_crack_row(t, start & 0x1fff, size, fields.data());
        d.nulls.emplace_back();
        for (auto &f : fields) d.nulls.back().push_back(f.is_null);
    }
    mdb_free_tabledef(t);
    mdb_close(mdb);
    return d;
}

// A converted cell as mdb-export would print the Jet cell it came from.
std::string AsExported(sqlite3_stmt *st, int c, int type, int scale) {
    if (sqlite3_column_type(st, c) == SQLITE_NULL) return "<NULL>";
    const std::string text = reinterpret_cast<const char *>(sqlite3_column_text(st, c));
    const double d = sqlite3_column_double(st, c);
    char buf[64];
    switch (type) {
    case MDB_DATETIME: return "\"" + (text.size() == 10 ? text + " 00:00:00" : text) + "\"";
    case MDB_TEXT: case MDB_MEMO: case MDB_REPID: {
        if (text.empty()) return "<NULL>";
        std::string out = "\"";
        for (char ch : text)
            out += ch == '\r' ? "\\r" : ch == '\n' ? "\\n" : ch == '\t' ? "\\t" : ch == '\\' ? "\\\\" : ch == '"' ? "\"\"" : std::string(1, ch);
        return out + "\"";
    }
    case MDB_FLOAT: std::snprintf(buf, sizeof buf, "%.8g", d); return buf;
    case MDB_DOUBLE: std::snprintf(buf, sizeof buf, "%.16g", d); return buf;
    case MDB_MONEY: std::snprintf(buf, sizeof buf, "%.4f", d); return buf;
    case MDB_NUMERIC: std::snprintf(buf, sizeof buf, "%.*f", scale, d); return buf;
    case MDB_BOOL: case MDB_BYTE: case MDB_INT: case MDB_LONGINT: return text;
    default: ADD_FAILURE() << "no comparison for Jet type " << type; return {};
    }
}

class Migration : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!fs::exists(kJet)) return;
        env_ = new MigrateEnv();
        for (const auto &dir : {kJet, DebianJet()})
            for (const auto &e : fs::directory_iterator(dir))
                if (e.path().extension() == ".mdb") env_->AddCopy(e.path());
        run_ = new QvRun(env_->Run({}));
    }
    static void TearDownTestSuite() {
        delete run_;
        delete env_;
    }
    void SetUp() override {
        if (!env_) GTEST_SKIP() << kJet << " is absent: the Jet test files are not laid out beside the checkout";
        ASSERT_EQ(run_->status, 0) << run_->out << run_->err;
    }
    static inline MigrateEnv *env_ = nullptr;
    static inline QvRun *run_ = nullptr;
};

TEST_F(Migration, EveryCellOfEveryJetFileIsWhatMdbExportReads) {
    if (!fs::exists(DebianJet() / "Monitor.mdb")) ADD_FAILURE() << "run scripts/setup: the Debian-packaged Jet files are missing";
    int files = 0;
    for (const auto &[jet, converted] : env_->copies) {
        ++files;
        qvmigrate::JetFile source(jet);
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(converted.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK) << converted;
        for (const auto &table : source.Tables()) {
            const JetTableDump dump = Dump(jet, table.name);
            sqlite3_stmt *st = nullptr;
            ASSERT_EQ(sqlite3_prepare_v2(db, ("select * from \"" + table.name + "\" order by rowid").c_str(), -1, &st, nullptr), SQLITE_OK);
            std::size_t row = 0;
            for (; sqlite3_step(st) == SQLITE_ROW; ++row) {
                ASSERT_LT(row, dump.exported.size()) << jet << " " << table.name;
                for (std::size_t c = 0; c < dump.types.size(); ++c) {
                    const auto where = jet.filename().string() + " [" + table.name + "] row " + std::to_string(row + 1) + " column " + std::to_string(c);
                    EXPECT_EQ(AsExported(st, static_cast<int>(c), dump.types[c], dump.scales[c]), dump.exported[row].at(c)) << where;
                    const bool null = sqlite3_column_type(st, static_cast<int>(c)) == SQLITE_NULL;
                    EXPECT_EQ(null, dump.types[c] != MDB_BOOL && dump.nulls[row][c]) << where;
                }
            }
            EXPECT_EQ(row, dump.exported.size()) << jet << " " << table.name;
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
    }
    EXPECT_EQ(files, 11);
}

// Every cell is compared with mdb-export above; these are the storage types, indexes and passwords
// that the tools' engine expects.
TEST_F(Migration, BillingFilesKeepTheTypesIndexesAndPasswordsTheToolsExpect) {
    const fs::path data = env_->target / "QVData/BILLING.mdb", backup = env_->target / "QVData/backup";
    const std::vector<std::tuple<fs::path, std::string, std::string>> facts = {
        {data, "select group_concat(type, ' ') from pragma_table_info('tbl reading')", "DATETIME DATETIME TEXT INTEGER"},
        {data, "select group_concat(type, ' ') from pragma_table_info('customer')", "INTEGER TEXT TEXT TEXT REAL INTEGER REAL"},
        {data, "select group_concat(\"unique\" || ':' || (select group_concat(name) from pragma_index_info(l.name)), ' ') "
               "from pragma_index_list('tbl reading') l", "0:lockey"},
        {data, "select group_concat(\"unique\" || ':' || (select group_concat(name) from pragma_index_info(l.name)), ' ') "
               "from pragma_index_list('customer') l", "1:lockey"},
        {env_->target / "QVNWin32/global.mdb", "select sha256 from db_password", Sha256Hex("Office-Pw7")},
        {backup / "V2000_with-password.mdb", "select sha256 from db_password", Sha256Hex("password")},
        {backup / "V2003_with-password.mdb", "select sha256 from db_password", Sha256Hex("password")},
        {backup / "V2003_no-password.mdb", "select count(*) from sqlite_master where name = 'db_password'", "0"},
        {data, "select count(*) from sqlite_master where name = 'db_password'", "0"},
    };
    for (const auto &[file, sql, expected] : facts) EXPECT_EQ(SqlFile(file).scalar(sql), expected) << file << ": " << sql;
}

TEST(JetDate, StorageTextToTheNearestSecond) {
    const std::vector<std::pair<double, std::string>> cases = {
        {0, "1899-12-30"},
        {45351, "2024-02-29"},                               // a leap day
        {45351 + 86399.0 / 86400, "2024-02-29 23:59:59"},
        {45351 + 86399.6 / 86400, "2024-03-01"},             // rounds up into the next day
        {-1.5, "1899-12-29 12:00:00"},                       // before day 0 the fraction still counts forward
        {-657434, "0100-01-01"},
        {2958465.5, "9999-12-31 12:00:00"},
        {-657435, ""},                                       // year 99: outside the storage range
        {2958466, ""},                                       // year 10000
    };
    for (const auto &[days, text] : cases) {
        std::string out;
        EXPECT_EQ(qvmigrate::JetDateText(days, out) ? out : "", text) << days;
    }
}

}  // namespace

// Files libmdb cannot read are named and the rest goes on; nothing of theirs reaches the target, no
// temporary file stays, the configuration is left alone, and a target file that exists is kept.
TEST(MigrationFailures, UnreadableFilesAreNamedAndTheRestGoesOn) {
    if (!fs::exists(kJet)) GTEST_SKIP() << kJet << " is absent";
    MigrateEnv env;
    const std::string jet = ReadFile(kJet / "billing/BILLING.mdb");
    std::string ace = jet, map = jet;
    ace[0x14] = 2;        // the version byte of an Access 2007 file
    map[0x21037] = 0x15;  // a byte of a table's page map on which libmdb crashes
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"EMPTY.mdb", ""}, {"CUT.mdb", jet.substr(0, 60000)}, {"TEXT.mdb", "not a database\n"}, {"ACE.mdb", ace}, {"MAP.mdb", map}};
    for (const auto &[name, bytes] : bad) WriteFile(env.source / "QVData/backup" / name, bytes);
    WriteFile(env.source / "QVNWin32/readme.txt", "theirs");
    WriteFile(env.target / "QVNWin32/readme.txt", "mine");
    WriteFile(env.target / "QVNWin32/.readme.txt.qvmigrate-Ab12Cd", "left by a killed run");
    fs::create_directory_symlink("/etc", env.source / "QVNWin32/etc");

    const QvRun r = env.Run({});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    for (const auto &[name, bytes] : bad) {
        EXPECT_NE(r.out.find("failed    C:\\QVData\\backup\\" + name + ": "), std::string::npos) << name << "\n" << r.out;
        EXPECT_FALSE(fs::exists(env.target / "QVData/backup" / name)) << name;
    }
    EXPECT_NE(r.out.find("failed    C:\\QVNWin32\\etc: not copied: it is a symbolic link"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("converted C:\\QVData\\backup\\BILLING1.mdb"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(env.target / "QVNWin32/readme.txt"), "mine");
    EXPECT_FALSE(fs::exists(env.config));
    for (const auto &e : fs::recursive_directory_iterator(env.target))
        EXPECT_EQ(e.path().filename().string().find(".qvmigrate-"), std::string::npos) << e.path();
}

// A run stopped in the middle of a file removes that file's temporary copy and names no half file.
TEST(MigrationFailures, AStoppedRunLeavesNoHalfFile) {
    if (!fs::exists(kJet)) GTEST_SKIP() << kJet << " is absent";
    MigrateEnv env;
    std::ofstream(env.source / "QVNWin32/big.bin").close();
    fs::resize_file(env.source / "QVNWin32/big.bin", std::uintmax_t{512} << 20);
    Program p(fs::path(QV_BIN_DIR) / "qvmigrate", {"--config", env.config.string(), env.source.string(), env.target.string()}, {});
    bool copying = false;
    for (int i = 0; i < 6000 && !copying && p.running(); ++i) {
        std::error_code ec;
        for (const auto &e : fs::directory_iterator(env.target / "QVNWin32", ec))
            copying |= e.path().filename().string().rfind(".big.bin.qvmigrate-", 0) == 0;
        if (!copying) QThread::msleep(5);
    }
    ASSERT_TRUE(copying) << p.output();
    p.terminate();
    EXPECT_EQ(p.wait(60000), std::optional<int>(130)) << p.errorOutput();
    EXPECT_EQ(std::distance(fs::directory_iterator(env.target / "QVNWin32"), {}), 2);  // global.mdb and AUDIT
    EXPECT_EQ(SqlFile(env.target / "QVData/BILLING.mdb").scalar("PRAGMA integrity_check"), "ok");
    EXPECT_FALSE(fs::exists(env.config));
}

namespace {

// Gives a Jet 4 file a database password (ASCII), written into its masked header as Access does.
void SetJetPassword(const fs::path &file, const std::string &password) {
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    std::string bytes = ReadFile(file);
    auto *page = reinterpret_cast<unsigned char *>(bytes.data());
    qvmigrate::ToggleHeaderMask(page, true);
    unsigned char mask[4];
    qvmigrate::PasswordMask(page, mask);
    for (std::size_t i = 0; i < 40; ++i) {
        const char plain = i % 2 == 0 && i / 2 < password.size() ? password[i / 2] : '\0';
        page[qvmigrate::kPasswordAt + i] = static_cast<unsigned char>(plain) ^ mask[i % 4];
    }
    qvmigrate::ToggleHeaderMask(page, true);
    WriteFile(file, bytes);
}

// "[table] row N" for each row of these tables that differs between two files or was added.
std::set<std::string> ChangedRows(const fs::path &before, const fs::path &after) {
    std::set<std::string> out;
    for (const std::string table : {"tbl reading", "LIDB", "customer"}) {
        const std::string sql = "select rowid, * from [" + table + "] order by rowid";
        std::map<std::string, std::vector<std::string>> old;
        for (auto &row : SqlFile(before).rows(sql)) old[row[0]] = row;
        for (auto &row : SqlFile(after).rows(sql))
            if (old[row[0]] != row) out.insert("[" + table + "] row " + row[0]);
    }
    return out;
}

TEST(MigrateE2E, TheToolsWorkOnAConvertedInstallation) {
    if (!fs::exists(kJet)) GTEST_SKIP() << kJet << " is absent";
    MigrateEnv env;
    // An office's settings database carries the product's own password.
    SetJetPassword(env.source / "QVNWin32/global.mdb", "tovan58");
    const QvRun run = env.Run({});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const QSettings conf(QString::fromStdString(env.config.string()), QSettings::IniFormat);
    EXPECT_EQ(conf.value("ProgramFolder").toString().toStdString(), "C:\\QVNWin32");
    // The tools find the installation through the configuration file alone: its drive map and program folder.
    const fs::path qvutil = fs::path(QV_BIN_DIR) / "qvutil";
    const fs::path data = env.target / "QVData/BILLING.mdb", before = env.target / "converted.db";
    fs::copy_file(data, before);

    XSession x;
    std::map<std::string, std::string> viaConfig = QvutilEnv(&x, "");
    viaConfig.erase("QUORVANT_DRIVES");
    viaConfig["XDG_CONFIG_HOME"] = env.config.parent_path().parent_path().string();
    {
        Program frd(qvutil, {"FRD"}, viaConfig, env.target);
        const std::string w = x.waitForWindow("Correct READ DATES for Meter Reading Records");
        ASSERT_FALSE(w.empty()) << frd.errorOutput();
        // Bill date 3/28/2024 holds 6 readings of the selected accounts 5001, 5003, 5004 and 5008.
        x.keys(w, {"Return"});
        x.type(w, "3/28/2024");
        x.keys(w, {"Return"});
        ASSERT_TRUE(x.answer("6 RECORDS FOUND"));
        x.type(w, "all");
        x.keys(w, {"Return"});
        ASSERT_TRUE(x.answer("6 RECORDS FOUND"));
        x.type(w, "3/20/2024");
        x.keys(w, {"Return"});
        ASSERT_TRUE(x.answer("NO RECORDS FOUND"));
        x.keys(w, {"alt+c"});
        ASSERT_TRUE(x.answer("FINISHED"));
        x.keys(w, {"alt+x"});
        ASSERT_EQ(frd.wait(), std::optional<int>(0)) << frd.errorOutput();
    }
    const std::set<std::string> changed = ChangedRows(before, data);
    EXPECT_EQ(changed.size(), 12u);  // 6 readings and their 6 audit rows

    const QvRun check = env.Run({"--check"});
    EXPECT_EQ(check.status, 1) << check.out << check.err;
    std::set<std::string> reported;
    std::istringstream lines(check.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("qvmigrate: ", 0) == 0) continue;
        const std::string file = "C:\\QVData\\BILLING.mdb: ";
        ASSERT_EQ(line.rfind(file, 0), 0u) << line;
        reported.insert(line.substr(file.size(), line.find(' ', line.find(" row ") + 5) - file.size()));
    }
    EXPECT_EQ(reported, changed) << check.out;

    {
        Program rac(qvutil, {"RAC"}, viaConfig, env.target);
        const std::string w = x.waitForWindow("Restore Auto-Copy Database Files");
        ASSERT_FALSE(w.empty()) << rac.errorOutput();
        x.keys(w, {"Tab", "space"});
        const std::string dialog = x.waitForWindow("Locate Auto-Copy Database File");
        ASSERT_FALSE(dialog.empty()) << rac.errorOutput();
        x.type(dialog, "BILLING1.mdb");
        x.keys(dialog, {"Return"});
        x.keys(w, {"alt+r"});
        ASSERT_TRUE(x.answer("FINISHED"));
        ASSERT_EQ(rac.wait(), std::optional<int>(0)) << rac.errorOutput();
    }
    const std::string readings = "select * from [tbl reading] order by rowid";
    EXPECT_EQ(SqlFile(data).rows(readings), SqlFile(env.target / "QVData/backup/BILLING1.mdb").rows(readings));
}

}  // namespace
