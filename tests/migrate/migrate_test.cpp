// qvmigrate on Jet files that no code of this project wrote, and on copies of them that carry the faults
// that offices' files showed (bytes changed in place, where this project can make them): every cell and
// index against libmdb's command-line tools (NULL and empty text told apart through libmdb's null mask),
// --check against faults seeded into converted files, files it cannot read, a shared machine (another
// login's links and files), and an office's installation carried over as root, given to the office and
// used by a clerk's login on the real windows (a read-date correction, --check naming the changed rows,
// a restore).
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
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "platform/filelock.h"
#include "qvmigrate/jet.h"
#include "qvmigrate/jet_header.h"
#include "qvmigrate/jet_pages.h"
#include "qvsample/sql_file.h"
#include "qvsample/temp_drive.h"
#include "support/e2e.h"
#include "support/file_size_limit.h"

namespace qvtest {

inline const std::filesystem::path kJet = QV_SOURCE_DIR "/tests/migrate/jet";
namespace fs = std::filesystem;

// Where scripts/setup puts the two Access files that Debian packages ship.
fs::path DebianJet() {
    const char *xdg = std::getenv("XDG_CACHE_HOME");
    const char *home = std::getenv("HOME");
    return (xdg && *xdg ? fs::path(xdg) : fs::path(home ? home : "/") / ".cache") / "qvutil/debian-jet";
}

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
            AddCopy(kJet / "billing" / name, folder);
        }
    }
    // Puts a Jet file (or `bytes` under that name) into a folder of the source, by default the data
    // folder's backup folder, where every .mdb is converted.
    fs::path AddCopy(const fs::path &jet, const std::string &folder = "QVData/backup", const std::string &bytes = "") {
        const fs::path to = source / folder / jet.filename();
        WriteFile(to, bytes.empty() ? ReadFile(jet) : bytes);
        copies.emplace_back(to, target / folder / jet.filename());
        return copies.back().second;
    }
    // qvmigrate [args] --config CONFIG SOURCE TARGET (as the system's file: without --config); a
    // migration as root gives the files to root.
    Ran Run(std::vector<std::string> args, bool asNobody = false, bool systemFile = false) const {
        if (!asNobody && std::find(args.begin(), args.end(), "--owner") == args.end() &&
            std::find(args.begin(), args.end(), "--check") == args.end())
            args.insert(args.end(), {"--owner", "root:root"});
        if (!systemFile) args.insert(args.end(), {"--config", config.string()});
        args.insert(args.end(), {source.string(), target.string()});
        return RunToEnd(fs::path(QV_BIN_DIR) / "qvmigrate", args, asNobody ? "nobody" : "");
    }
};

// A real Jet file with bytes changed in place; the offsets are those of the files that
// tests/migrate/jet/README lists with their checksums.
std::string Edited(const fs::path &jet, const std::vector<std::pair<std::size_t, std::string>> &edits) {
    std::string bytes = ReadFile(jet);
    for (const auto &[at, with] : edits) bytes.replace(at, with.size(), with);
    return bytes;
}

// Jet 4 data page `page`: row `row` marked deleted, or moved (as Jet moves a row that outgrows its
// page) to a new place at the foot of the same page, a pointer to it left where it stood.
std::uint16_t &Slot(std::string &jet, std::size_t page, int row) {
    return *reinterpret_cast<std::uint16_t *>(jet.data() + page * 4096 + 14 + 2 * row);
}
void DeleteRow(std::string &jet, std::size_t page, int row) { Slot(jet, page, row) |= 0x8000; }
void MoveRow(std::string &jet, std::size_t page, int row) {
    auto &count = *reinterpret_cast<std::uint16_t *>(jet.data() + page * 4096 + 12);
    const std::size_t start = Slot(jet, page, row) & 0x1fff, end = row ? Slot(jet, page, row - 1) & 0x1fff : 4096;
    const std::size_t lowest = Slot(jet, page, count - 1) & 0x1fff, to = lowest - (end - start);
    jet.replace(page * 4096 + to, end - start, jet.substr(page * 4096 + start, end - start));
    Slot(jet, page, count) = static_cast<std::uint16_t>(to | 0x8000);
    const std::uint32_t pointer = static_cast<std::uint32_t>(page << 8 | count++);
    jet.replace(page * 4096 + start, 4, reinterpret_cast<const char *>(&pointer), 4);
    Slot(jet, page, row) |= 0x4000;
}

// A Jet file's bytes with `with` written at `at` of its masked header, as Access writes it there.
std::string HeaderEdited(std::string bytes, std::size_t at, const std::string &with) {
    auto *page = reinterpret_cast<unsigned char *>(bytes.data());
    qvmigrate::ToggleHeaderMask(page, page[0x14] == 1);
    bytes.replace(at, with.size(), with);
    qvmigrate::ToggleHeaderMask(page, page[0x14] == 1);
    return bytes;
}

// Gives a Jet 4 file a database password (ASCII), written into its masked header as Access does.
void SetJetPassword(const fs::path &file, const std::string &password) {
    std::string header = ReadFile(file).substr(0, 0x98), masked;
    qvmigrate::ToggleHeaderMask(reinterpret_cast<unsigned char *>(header.data()), true);
    unsigned char mask[4];
    qvmigrate::PasswordMask(reinterpret_cast<unsigned char *>(header.data()), mask);
    for (std::size_t i = 0; i < 40; ++i) masked += static_cast<char>((i % 2 == 0 && i / 2 < password.size() ? password[i / 2] : '\0') ^ mask[i % 4]);
    WriteFile(file, HeaderEdited(ReadFile(file), qvmigrate::kPasswordAt, masked));
}

// A Jet file encoded as Access's Encrypt/Decrypt Database command leaves it: a key in the header, every
// other page scrambled with it.
std::string Encoded(const fs::path &jet) {
    const std::uint32_t key = 0x2b7e1516;
    std::string bytes = HeaderEdited(ReadFile(jet), qvmigrate::kEncodingKeyAt, std::string(reinterpret_cast<const char *>(&key), 4));
    const std::size_t size = bytes[0x14] == 1 ? 4096 : 2048;
    for (std::size_t n = 1; n < bytes.size() / size; ++n)
        qvmigrate::TogglePageEncoding(reinterpret_cast<unsigned char *>(bytes.data() + n * size), size, key, static_cast<std::uint32_t>(n));
    return bytes;
}

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
    std::istringstream lines(RunToEnd("mdb-export", {"-H", "-d", "\t", "-e", "-0", "<NULL>", "-T", "%Y-%m-%d %H:%M:%S", "-D",
                                                       "%Y-%m-%d %H:%M:%S", file.string(), table}).out);
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
    std::string text = reinterpret_cast<const char *>(sqlite3_column_text(st, c));
    const double d = sqlite3_column_double(st, c);
    char buf[64];
    switch (type) {
    case MDB_DATETIME: return "\"" + (text.size() == 10 ? text + " 00:00:00" : text) + "\"";
    case MDB_REPID: text.erase(24, 1); [[fallthrough]];  // libmdb drops the fourth hyphen
    case MDB_TEXT: case MDB_MEMO: {
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

// The indexes of a table as mdb-schema's MySQL form states them ("PRIMARY KEY (a)", "INDEX b (b)"),
// and those of the converted table in the same words.
std::multiset<std::string> SchemaIndexes(const fs::path &jet, const std::string &table) {
    std::multiset<std::string> out;
    std::istringstream lines(RunToEnd("mdb-schema", {"-T", table, jet.string(), "mysql"}).out);
    const std::string head = "ALTER TABLE `" + table + "` ADD ";
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(head, 0) != 0 || line.find("FOREIGN KEY") != std::string::npos) continue;
        line = line.substr(head.size(), line.size() - head.size() - 1);
        line.erase(std::remove(line.begin(), line.end(), '`'), line.end());
        out.insert(line);
    }
    return out;
}
std::multiset<std::string> ConvertedIndexes(const fs::path &db, const std::string &table) {
    std::multiset<std::string> out;
    for (const auto &row : SqlFile(db).rows(
             "select l.name, l.\"unique\", m.sql like '%/* primary key */', (select group_concat(name || "
             "case when \"desc\" then ' DESC' else '' end, ', ') from pragma_index_xinfo(l.name) where key) "
             "from pragma_index_list('" + table + "') l join sqlite_master m on m.name = l.name"))
        out.insert(row[2] == "1" ? "PRIMARY KEY (" + row[3] + ")"
                                 : (row[1] == "1" ? "UNIQUE INDEX " : "INDEX ") + row[0].substr(table.size() + 1) + " (" + row[3] + ")");
    return out;
}

// One office migrated once per test program: the real Jet files, and copies of them with the faults
// libmdb and the earlier conversion got wrong (GUID.mdb, CP1252.mdb, ROWS.mdb).
class Migration : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        env_ = new MigrateEnv();
        SetJetPassword(env_->source / "QVNWin32/global.mdb", "tovan58");  // the password the tools open it with
        for (const auto &dir : {kJet, DebianJet()})
            for (const auto &e : fs::directory_iterator(dir))
                if (e.path().extension() == ".mdb") env_->AddCopy(e.path());
        env_->AddCopy("ENC4.mdb", "QVData/backup", Encoded(kJet / "billing/BILLING.mdb"));
        env_->AddCopy("ENC3.mdb", "QVData/backup", Encoded(DebianJet() / "testodbc.mdb"));
        real_ = env_->copies.size();
        // Column F (a Double beside the DateTime G) made a Replication ID of 16 bytes.
        env_->AddCopy("GUID.mdb", "QVData/backup", Edited(kJet / "V2003_test.mdb", {{98516, "\x0f"}, {98539, std::string("\x10\0", 2)}}));
        // "Florian" made the bytes that code page 1252 leaves undefined, and the euro sign.
        env_->AddCopy("CP1252.mdb", "QVData/backup", Edited(DebianJet() / "testodbc.mdb", {{81817, "\x81\x8d\x8f\x90\x9d\x80n"}}));
        // "Flori" made other bytes, in a file that names code page 1250 or 1251 in its header.
        for (const auto &[name, codePage] : std::map<std::string, std::string>{{"CP1250.mdb", "\xe2\x04"}, {"CP1251.mdb", "\xe3\x04"}})
            env_->AddCopy(name, "QVData/backup", HeaderEdited(Edited(DebianJet() / "testodbc.mdb", {{81817, "\xc8\xe2\xe0\xed\x8a"}}), 0x3c, codePage));
        // customer: a minus zero (row 4), and its primary key's logical number made 1 (physical 0),
        // which libmdb cannot match; tbl reading: row 10 deleted (the count 41 made 40), row 4 moved.
        std::string rows = Edited(kJet / "billing/BILLING.mdb", {{159449, std::string(7, '\0') + "\x80"}, {135580, "\x01"}, {98320, "\x28"}});
        DeleteRow(rows, 27, 9);
        MoveRow(rows, 27, 3);
        env_->AddCopy("ROWS.mdb", "QVData/backup", rows);
        run_ = new Ran(env_->Run({}));
    }
    static void TearDownTestSuite() {
        delete run_;
        delete env_;
    }
    void SetUp() override {
        ASSERT_EQ(run_->status, 0) << run_->out << run_->err;
    }
    static fs::path Converted(const std::string &name) { return env_->target / "QVData/backup" / name; }
    static inline MigrateEnv *env_ = nullptr;
    static inline Ran *run_ = nullptr;
    static inline std::size_t real_ = 0;
};

TEST_F(Migration, EveryCellAndIndexOfTheRealFilesIsWhatLibmdbsToolsRead) {
    if (!fs::exists(DebianJet() / "Monitor.mdb")) ADD_FAILURE() << "run scripts/setup: the Debian-packaged Jet files are missing";
    for (std::size_t i = 0; i < real_; ++i) {
        const auto &[jet, converted] = env_->copies[i];
        qvmigrate::JetFile source(jet);
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(converted.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK) << converted;
        for (const auto &table : source.Tables()) {
            EXPECT_EQ(ConvertedIndexes(converted, table.name), SchemaIndexes(jet, table.name)) << jet << " " << table.name;
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
    EXPECT_EQ(real_, 13u);
}

// Every cell and index is compared with libmdb's tools above; these are the storage types and passwords
// that the tools' engine expects.
TEST_F(Migration, BillingFilesKeepTheTypesIndexesAndPasswordsTheToolsExpect) {
    const fs::path data = env_->target / "QVData/BILLING.mdb";
    const std::vector<std::tuple<fs::path, std::string, std::string>> facts = {
        {data, "select group_concat(type, ' ') from pragma_table_info('tbl reading')", "DATETIME DATETIME TEXT INTEGER"},
        {data, "select group_concat(type, ' ') from pragma_table_info('customer')", "INTEGER TEXT TEXT TEXT REAL INTEGER REAL"},
        {env_->target / "QVNWin32/global.mdb", "select sha256 from db_password", Sha256Hex("tovan58")},
        {Converted("V2000_with-password.mdb"), "select sha256 from db_password", Sha256Hex("password")},
        {Converted("V2003_with-password.mdb"), "select sha256 from db_password", Sha256Hex("password")},
        {Converted("V2003_no-password.mdb"), "select count(*) from sqlite_master where name = 'db_password'", "0"},
        {data, "select count(*) from sqlite_master where name = 'db_password'", "0"},
    };
    for (const auto &[file, sql, expected] : facts) EXPECT_EQ(SqlFile(file).scalar(sql), expected) << file << ": " << sql;
}

// GUIDs, Jet 3 bytes without a character, Jet 3 texts of code pages 1250 and 1251, a primary key libmdb
// cannot match, deleted and moved rows, minus zero.
TEST_F(Migration, TheFaultsOfOfficesFilesAreMended) {
    // libmdb's text of each GUID, with the hyphen it drops.
    std::istringstream guids(RunToEnd("mdb-export", {"-H", "-d", "\t", env_->copies[real_].first.string(), "Table1"}).out);
    std::vector<std::vector<std::string>> expected;
    for (std::string line; std::getline(guids, line);) {
        std::istringstream cells(line);
        std::string f;
        for (int k = 0; k < 6; ++k) std::getline(cells, f, '\t');  // the sixth column, "{8-4-4-16}"
        expected.push_back({f.substr(1, 37).insert(24, "-")});
    }
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(SqlFile(Converted("GUID.mdb")).rows("select F from Table1 order by rowid"), expected);
    EXPECT_EQ(SqlFile(Converted("CP1252.mdb")).scalar("select UserName from FPdev where id = 2"), "\u0081\u008d\u008f\u0090\u009d\u20acn Klaempfl");
    EXPECT_EQ(SqlFile(Converted("CP1250.mdb")).scalar("select UserName from FPdev where id = 2"), "ČâŕíŠan Klaempfl");
    EXPECT_EQ(SqlFile(Converted("CP1251.mdb")).scalar("select UserName from FPdev where id = 2"), "ИванЉan Klaempfl");

    const fs::path rows = Converted("ROWS.mdb"), billing = env_->target / "QVData/BILLING.mdb";
    auto readings = SqlFile(billing).rows("select * from [tbl reading] order by rowid");
    readings.erase(readings.begin() + 9);
    EXPECT_EQ(SqlFile(rows).rows("select * from [tbl reading] order by rowid"), readings);
    EXPECT_EQ(SqlFile(rows).rows("select multiplier, typeof(multiplier) from customer where rowid = 4"),
              (std::vector<std::vector<std::string>>{{"0.0", "real"}}));
    EXPECT_EQ(ConvertedIndexes(rows, "customer"), std::multiset<std::string>{"PRIMARY KEY (lockey)"});
    EXPECT_TRUE(Holds(run_->out, "converted C:\\QVData\\backup\\ROWS.mdb: 3 tables, 48 rows, 2 indexes\n"
                                 "          note: [customer]: 1 cells of minus zero stored as 0"));
}

// --check reads the Jet files a second way (no call of libmdb's, whose way in fails here) and decodes
// every value anew: faults of the conversion, seeded into the converted files, each show as a difference.
TEST_F(Migration, CheckSeesFaultsOfTheConversion) {
    qputenv("LD_PRELOAD", QV_NO_LIBMDB);
    const Ran clean = env_->Run({"--check"});
    qunsetenv("LD_PRELOAD");
    EXPECT_EQ(clean.status, 0) << clean.out << clean.err;
    EXPECT_TRUE(Holds(clean.out, std::to_string(env_->copies.size()) + " databases compared, 0 differences\n"));
    const fs::path data = env_->target / "QVData/BILLING.mdb";
    const std::string read = SqlFile(data).scalar("select readdate from [tbl reading] where rowid = 2");
    const fs::path enc = Converted("ENC4.mdb");  // a declared type changed in place
    const std::string schema = "pragma writable_schema = on; update sqlite_master set sql = replace(sql, ";
    const std::vector<std::tuple<fs::path, std::string, std::string>> faults = {
        {data, "update [tbl reading] set readdate = substr(readdate, 1, 10) where rowid = 2",  // times of day dropped
         "BILLING.mdb: [tbl reading] row 2 changed: readdate '" + read + "' -> '" + read.substr(0, 10) + "'"},
        {data, "update customer set balance = balance * 10 where rowid = 1", "BILLING.mdb: [customer] row 1 changed: balance 1234.5678 -> 12345.678"},
        {Converted("GUID.mdb"), "update Table1 set F = substr(F, 1, 23) || substr(F, 25) where rowid = 1", "GUID.mdb: [Table1] row 1 changed: F '{"},
        {Converted("CP1252.mdb"), "update FPdev set UserName = '?????€n Klaempfl' where id = 2", "CP1252.mdb: [FPdev] row 2 changed: UserName"},
        {Converted("ROWS.mdb"), "delete from [tbl reading] where rowid = 40", "ROWS.mdb: [tbl reading] row 40 missing: "},
        {Converted("BILLING1.mdb"), "drop index [tbl reading_lockey]", "BILLING1.mdb: [tbl reading] index lockey is missing"},
        {Converted("V2003_test.mdb"), "update Table1 set H = 0.5 where rowid = 2", "V2003_test.mdb: [Table1] row 2 changed: H"},
        {enc, schema + "'\"readdate\" DATETIME', '\"readdate\" TEXT')", "ENC4.mdb: [tbl reading] column readdate is declared TEXT instead of DATETIME"},
        {enc, schema + "'\"accno\" TEXT', '\"accno\" INTEGER')", "ENC4.mdb: [customer] column accno is declared INTEGER instead of TEXT"},
        {enc, schema + "'\"paperless\" INTEGER', '\"paperless\" TEXT')", "ENC4.mdb: [customer] column paperless is declared TEXT instead of INTEGER"},
        {enc, "drop index customer_PrimaryKey; create unique index customer_PrimaryKey on customer (lockey collate nocase) /* primary key */",
         "ENC4.mdb: [customer] index PrimaryKey differs: (lockey) unique primary key -> (lockey COLLATE nocase) unique primary key\n"},
        {enc, "drop index [tbl reading_lockey]; create index [tbl reading_lockey] on [tbl reading] (lockey) where lockey > 5002",
         "ENC4.mdb: [tbl reading] index lockey differs: (lockey) -> (lockey) where lockey > 5002\n"},
        {Converted("V2000_with-password.mdb"), "insert into db_password select * from db_password", "V2000_with-password.mdb: db_password holds 2 rows instead of one"},
    };
    for (const auto &[file, sql, line] : faults) SqlFile(file).exec(sql);
    const Ran check = env_->Run({"--check"});
    EXPECT_EQ(check.status, 1);
    for (const auto &[file, sql, line] : faults) EXPECT_TRUE(Holds(check.out, line));
    EXPECT_TRUE(Holds(check.out, ", 13 differences\n"));
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

// The check's own reading of cells: a day number beyond every date is shown as such (no conversion
// overflows); a long value that claims more than its file holds is damage, read no further.
TEST(CheckReading, CellsBeyondWhatTheFileCanHoldAreNamed) {
    if (!fs::exists(kJet)) GTEST_SKIP() << kJet << " is absent";
    namespace pg = qvmigrate::pages;
    const pg::File jet(kJet / "V2003_test.mdb");
    pg::Column column;
    column.type = pg::kDateTime;
    const double far = 1e300;
    EXPECT_EQ(pg::CellValue(jet, column, {false, std::string(reinterpret_cast<const char *>(&far), sizeof far)}).s,
              "(the day number 1e+300)");
    // The memo "some data", kept in its row, made a value of 1 GB whose next piece is on the second page.
    qvtest::TempDrives drives("C");
    std::string bytes = ReadFile(kJet / "V2000_numeric.mdb");
    bytes.replace(bytes.find("\xff\xfesome data") - 12, 8, "\xff\xff\xff\x3f\x00\x01\x00\x00", 8);
    WriteFile(drives.root() / "long.mdb", bytes);
    const pg::File damaged(drives.root() / "long.mdb");
    pg::File::Rows rows(damaged, damaged.Tables().at(0));
    std::string error;
    try {
        for (std::vector<pg::Cell> cells; rows.Next(cells);) {
        }
    } catch (const std::exception &e) {
        error = e.what();
    }
    EXPECT_TRUE(error.ends_with("column 'col1': a long value is longer than its file")) << error;
}

}  // namespace

// Files that cannot be read are named, each in one line that holds what libmdb printed, and the rest
// goes on; nothing of theirs reaches the target, a temporary file that a killed run left goes (and is
// said to), the configuration is left alone, a target file that exists is kept (said older than its
// source when it is), names show no control character, and TMPDIR is never written.
TEST(MigrationFailures, UnreadableFilesAreNamedAndTheRestGoesOn) {
    MigrateEnv env;
    const std::string jet = ReadFile(kJet / "billing/BILLING.mdb");
    std::string ace = jet, map = jet, index = jet;
    ace[0x14] = 2;        // the version byte of an Access 2007 file; then a key in its header: Office encryption
    const std::string encrypted = HeaderEdited(ace, qvmigrate::kEncodingKeyAt, "\x01");
    map[0x21037] = 0x15;  // a byte of a table's page map on which libmdb crashes
    index[135584] = 7;    // the primary key of customer names physical index 7 of 1
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"EMPTY.mdb", "it is too short to be a Jet database"}, {"CUT.mdb", ""}, {"TEXT.mdb", "it is too short"},
        {"ACE.mdb", "an Access 2007 or later database (.accdb format); only"}, {"MAP.mdb", ""},
        {"OFFICE.mdb", "an Access 2007 or later database (.accdb format) encrypted with a password (Office encryption), which this"}, {"ZERO.mdb", "it is not a Jet database"},
        {"LATE.mdb", "[customer]: 0 rows read, but the table says it holds 5 (libmdb said: "},
        {"INDEX.mdb", "index 'PrimaryKey' of [customer] cannot be read: "}};
    const std::map<std::string, std::string> bytes = {{"CUT.mdb", jet.substr(0, 60000)}, {"TEXT.mdb", "not a database\n"}, {"ACE.mdb", ace}, {"OFFICE.mdb", encrypted},
                                                      {"MAP.mdb", map}, {"ZERO.mdb", std::string(8192, '\0')},
                                                      {"LATE.mdb", jet.substr(0, 150000)}, {"INDEX.mdb", index}};
    for (const auto &[name, why] : bad) WriteFile(env.source / "QVData/backup" / name, bytes.count(name) ? bytes.at(name) : "");
    WriteFile(env.source / "QVNWin32/readme.txt", "theirs");
    WriteFile(env.target / "QVNWin32/readme.txt", "mine");
    fs::last_write_time(env.source / "QVNWin32/readme.txt", fs::file_time_type::clock::now() + std::chrono::hours(1));
    const fs::path left = env.target / "QVNWin32/.readme.txt.0123456789abcdef.qvtmp";
    WriteFile(left, "left by a killed run a moment ago");
    fs::create_directory_symlink("/etc", env.source / "QVNWin32/etc");
    WriteFile(env.source / "QVData/BILLING.ldb", "");
    WriteFile(env.source / "QVNWin32/a\nfailed    C:\\fake", "");
    WriteFile(env.source / "QVNWin32/\x1b[31mred", "");

    const bool tmpSet = qEnvironmentVariableIsSet("TMPDIR");
    const QByteArray tmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QByteArray::fromStdString((env.drives.root() / "no-such-folder").string()));
    const Ran r = env.Run({});
    tmpSet ? qputenv("TMPDIR", tmp) : qunsetenv("TMPDIR");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    for (const auto &[name, why] : bad) {
        EXPECT_TRUE(Holds(r.out, "failed    C:\\QVData\\backup\\" + name + ": " + why));
        EXPECT_FALSE(fs::exists(env.target / "QVData/backup" / name)) << name;
    }
    for (const std::string &line : std::vector<std::string>{"failed    C:\\QVNWin32\\etc: not copied: it is a symbolic link (to /etc): put a copy of what it names",
                                   "kept      C:\\QVNWin32\\readme.txt (the source is newer; use --replace to copy it again)\n",
                                   "qvmigrate: removed " + left.string() + ", a temporary file that a stopped run left\n",
                                   "copied    C:\\QVData\\BILLING.ldb\n          note: a Jet lock file: C:\\QVData\\BILLING.mdb may have been open",
                                   "copied    C:\\QVNWin32\\a<0A>failed    C:\\fake\n", "copied    C:\\QVNWin32\\<1B>[31mred\n",
                                   "converted C:\\QVData\\backup\\BILLING1.mdb", "qvutil.conf not changed: mend each failure above"})
        EXPECT_TRUE(Holds(r.out, line));
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.rfind("converted ", 0) == 0 || line.rfind("copied    ", 0) == 0 || line.rfind("kept      ", 0) == 0 ||
                    line.rfind("failed    ", 0) == 0 || line.rfind("qvmigrate: ", 0) == 0 || line.rfind("          note: ", 0) == 0) << line;
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(env.target / "QVNWin32/readme.txt"), "mine");
    EXPECT_FALSE(fs::exists(env.config));
    for (const auto &e : fs::recursive_directory_iterator(env.target)) EXPECT_FALSE(e.path().string().ends_with(".qvtmp")) << e.path();
    // --version and --help as the other programs answer them; a mistake in the command line in one line.
    const fs::path qvmigrate = fs::path(QV_BIN_DIR) / "qvmigrate";
    const Ran version = RunToEnd(qvmigrate, {"--version"}), qvutil = RunToEnd(fs::path(QV_BIN_DIR) / "qvutil", {"--version"});
    EXPECT_EQ(version.out, "qvmigrate" + qvutil.out.substr(6));
    EXPECT_EQ(RunToEnd(qvmigrate, {"--help"}).out.rfind("Usage: qvmigrate ", 0), 0u);
    EXPECT_EQ(RunToEnd(qvmigrate, {"--bogus"}).err, "qvmigrate: unknown option --bogus\nTry 'qvmigrate --help' for more information.\n");
    // A command-line program: it needs no window system's libraries where it runs.
    const Ran libraries = RunToEnd("/usr/bin/ldd", {qvmigrate.string()});
    EXPECT_EQ(libraries.status, 0);
    EXPECT_EQ(libraries.out.find("libQt"), std::string::npos) << libraries.out;
}

// A run stopped in the middle of a file removes that file's temporary copy and names no half file; a
// second run into the target while the first writes it is refused at once, and so is a --replace of a
// database that a read-date window holds; a file that finds the disk full is named.
TEST(MigrationFailures, AStoppedRunLeavesNoHalfFileAndASecondRunIsRefused) {
    MigrateEnv env;
    std::ofstream(env.source / "QVNWin32/big.bin").close();
    fs::resize_file(env.source / "QVNWin32/big.bin", std::uintmax_t{512} << 20);
    Program p(fs::path(QV_BIN_DIR) / "qvmigrate",
              {"--owner", "root:root", "--config", env.config.string(), env.source.string(), env.target.string()}, {});
    bool copying = false;
    for (int i = 0; i < 6000 && !copying && p.running(); ++i) {
        std::error_code ec;
        for (const auto &e : fs::directory_iterator(env.target / "QVNWin32", ec)) copying |= e.path().filename().string().rfind(".big.bin.", 0) == 0;
        if (!copying) QThread::msleep(5);
    }
    ASSERT_TRUE(copying) << p.output();
    const Ran second = env.Run({});
    EXPECT_EQ(second.status, 2);
    EXPECT_EQ(second.err, "qvmigrate: another qvmigrate run is writing " + env.target.string() + "; nothing was done\n");
    p.terminate();
    EXPECT_EQ(p.wait(60000), std::optional<int>(130)) << p.errorOutput();
    EXPECT_EQ(std::distance(fs::directory_iterator(env.target / "QVNWin32"), {}), 2);  // global.mdb and AUDIT
    EXPECT_EQ(SqlFile(env.target / "QVData/BILLING.mdb").scalar("PRAGMA integrity_check"), "ok");
    EXPECT_FALSE(fs::exists(env.config));
    fs::remove(env.source / "QVNWin32/big.bin");
    const auto window = platform::FileLock::TryTake(env.target / "QVData/BILLING.mdb.frd");  // a read-date window is open
    EXPECT_TRUE(Holds(env.Run({"--replace"}).out, "failed    C:\\QVData\\BILLING.mdb: a read-date window is open on the database"));

    MigrateEnv full;  // a full disk is named by the file that did not fit
    Ran r;
    {
        const FileSizeLimit limit(16384);
        r = full.Run({});
    }
    EXPECT_TRUE(Holds(r.out, "failed    C:\\QVData\\BILLING.mdb: cannot write " + (full.target / "QVData/BILLING.mdb").string() + ": File too large"));
}

// On a machine that several logins share: root follows no link that another login planted in the
// target or at TARGET itself, nor does --check (which writes nothing beside what it reads); a file the
// running login may not read is named with the system's reason; a kept data database that the login
// may not write fails the tools' trial opening.
TEST(MigrationFailures, OtherLoginsLinksAreNotFollowedAndUnreadableFilesSaySo) {
    MigrateEnv env;
    const fs::path rootOnly = env.drives.root() / "root-only", shared = env.drives.root() / "shared";
    fs::create_directories(rootOnly);
    fs::permissions(rootOnly, fs::perms::owner_all);
    SqlFile(rootOnly / "secret.db").exec("pragma journal_mode = wal; create table t (x); insert into t values ('root only')");
    for (const fs::path &open : {env.target / "QVData", shared}) {
        fs::create_directories(open);
        fs::permissions(open, fs::perms::all | fs::perms::sticky_bit);
    }
    const std::vector<std::pair<fs::path, fs::path>> links = {{rootOnly, env.target / "QVData/backup"},
                                                              {rootOnly / "secret.db", env.target / "QVData/BILLING.mdb"},
                                                              {rootOnly, shared / "target"}};
    for (const auto &[to, link] : links) ASSERT_EQ(RunToEnd("/bin/ln", {"-s", to.string(), link.string()}, "nobody").status, 0);
    const Ran root = env.Run({}), check = env.Run({"--check"});
    EXPECT_EQ(root.status, 1);
    const std::string nothing = " is a link made by another user; nothing was ";
    EXPECT_TRUE(Holds(root.out, "failed    C:\\QVData\\backup\\BILLING1.mdb: " + links[0].second.string() + nothing + "written"));
    EXPECT_TRUE(Holds(root.out, "failed    C:\\QVData\\BILLING.mdb: " + links[1].second.string() + nothing + "written"));
    EXPECT_TRUE(Holds(check.out, "C:\\QVData\\BILLING.mdb: cannot be compared: " + links[1].second.string() + nothing + "read"));
    const Ran linked = RunToEnd(fs::path(QV_BIN_DIR) / "qvmigrate", {"--owner", "root:root", "--config", env.config.string(),
                                                                         env.source.string(), links[2].second.string()});
    EXPECT_EQ(linked.err, "qvmigrate: " + links[2].second.string() + nothing + "written\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(rootOnly), {}), 1);  // secret.db alone: no -shm, no -wal

    MigrateEnv own;  // the same office migrated by nobody, into a folder of nobody's
    SetJetPassword(own.source / "QVNWin32/global.mdb", "tovan58");
    fs::permissions(own.source / "QVData/backup/BILLING1.mdb", fs::perms::none);
    fs::permissions(own.drives.root(), fs::perms::all);
    ASSERT_EQ(RunToEnd("/bin/chown", {"nobody:nogroup", own.target.string()}).status, 0);
    const Ran nobody = own.Run({}, true);
    EXPECT_TRUE(Holds(nobody.out, "failed    C:\\QVData\\backup\\BILLING1.mdb: it cannot be read: Permission denied\n"));
    EXPECT_TRUE(Holds(nobody.out, "converted C:\\QVData\\BILLING.mdb"));
    fs::permissions(own.source / "QVData/backup/BILLING1.mdb", fs::perms::owner_read | fs::perms::others_read);
    ASSERT_EQ(RunToEnd("/bin/chown", {"root:root", (own.target / "QVData/BILLING.mdb").string()}).status, 0);
    const Ran kept = own.Run({}, true);
    EXPECT_EQ(kept.status, 1);
    EXPECT_TRUE(Holds(kept.out, "failed    C:\\QVData\\BILLING.mdb: the tools will refuse it, so no read date can be corrected: "));
}

namespace {

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

// Run as root as the README says: the installation is given to the office's login, the drive map goes
// to the system's configuration file (here the one QUORVANT_SYSTEM_CONFIG names), and a clerk's login
// uses it on the real windows.
TEST(MigrateE2E, TheToolsWorkOnAConvertedInstallation) {
    MigrateEnv env;
    qputenv("QUORVANT_SYSTEM_CONFIG", QByteArray::fromStdString(env.config.string()));
    // The office's lines are kept, the keys it sets replaced whatever their case; a line the tools refuse
    // fails the run, naming it, and the file is put back.
    const std::string notes = "; the office's notes\n[General]\nc = /old/place ; old\nprogramfolder=C:\\QVWin32\nE=/media/backup\n";
    WriteFile(env.config, notes + "Colour=blue\n");
    WriteFile(env.source / "QVNWin32/readme.txt", "read me");
    const Ran badLine = env.Run({"--owner", "root:root"}, false, true);
    EXPECT_TRUE(Holds(badLine.out, env.config.string() + ", line 6: unknown setting \"Colour\""));
    EXPECT_EQ(ReadFile(env.config), notes + "Colour=blue\n");
    WriteFile(env.config, notes);
    // The fixture's settings database has a password of its own, which the tools refuse; it is no file that failed.
    const Ran refused = env.Run({"--owner", "root:root"}, false, true);
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(Holds(refused.out, ", 0 failed\nfailed    C:\\QVNWin32\\global.mdb: the tools will refuse it, so they will not "
                                   "start: Run-time error '3031': Not a valid password."));
    EXPECT_EQ(ReadFile(env.config), notes);
    SetJetPassword(env.source / "QVNWin32/global.mdb", "tovan58");
    fs::remove(env.target / "QVNWin32/global.mdb");
    // A clerk of the office's group who is not its owner is tried too: here the folder above TARGET
    // lets in its owner alone.
    ASSERT_EQ(RunToEnd("/bin/chown", {"nobody", env.drives.root().string()}).status, 0);
    fs::permissions(env.drives.root(), fs::perms::owner_all);
    const Ran locked = env.Run({"--owner", "65534:65534"}, false, true);
    EXPECT_EQ(locked.status, 1);
    EXPECT_TRUE(Holds(locked.out, " (of group nogroup), the tools will refuse it, so they will not start: "));
    EXPECT_TRUE(Holds(locked.out, "the office's group must also be able to enter each folder above it"));
    fs::permissions(env.drives.root(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    // Given to the office (numeric ids): what earlier runs wrote as root and kept now, TARGET itself too.
    const Ran run = env.Run({"--owner", "65534:65534"}, false, true);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Holds(run.out, "qvmigrate: every login's tools read " + env.config.string()));
    std::vector<fs::path> given{env.target};
    for (const auto &e : fs::recursive_directory_iterator(env.target)) given.push_back(e.path());
    for (const auto &path : given) {
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, S_ISDIR(st.st_mode) ? 02775u : 0664u) << path;
        EXPECT_EQ(RunToEnd("/usr/bin/stat", {"-c", "%U:%G", path.string()}).out, "nobody:nogroup\n") << path;
    }
    EXPECT_EQ(ReadFile(env.config), "; the office's notes\n[General]\nC=" + env.target.string() +
                                        "\nProgramFolder=C:\\QVNWin32\nE=/media/backup\n");
    EXPECT_EQ(fs::status(env.config).permissions(), static_cast<fs::perms>(0644));
    // Root's files that the office linked or moved in place of a kept file and of a database are not given to it.
    const fs::path readme = env.target / "QVNWin32/readme.txt";
    for (const auto &[kept, why] : {std::pair{readme, "it has 2 names"},
                                    {env.target / "users/public/qv32tempdata/tempdataDTC.mdb", "it has 2 names"},
                                    {readme, "it belongs to root and no run of qvmigrate made it"}}) {
        fs::copy_file(kept, env.drives.root() / kept.filename(), fs::copy_options::overwrite_existing);
        fs::permissions(env.drives.root() / kept.filename(), fs::perms::owner_read);
        fs::remove(kept);
        if (why[3] == 'b') fs::rename(env.drives.root() / kept.filename(), kept);
        else fs::create_hard_link(env.drives.root() / kept.filename(), kept);
        const Ran linked = env.Run({"--owner", "nobody:nogroup"}, false, true);
        EXPECT_EQ(linked.status, 1);
        EXPECT_TRUE(Holds(linked.out, std::string(": left as it is, not given to the office: ") + why));
        EXPECT_EQ(RunToEnd("/usr/bin/stat", {"-c", "%U %a", kept.string()}).out, "root 400\n");
        fs::remove(kept);
    }
    // A source changed after its file was kept: said so, and the run is not plain success.
    fs::last_write_time(env.source / "QVData/backup/BILLING1.mdb", fs::file_time_type::clock::now() + std::chrono::hours(1));
    const Ran older = env.Run({"--owner", "nobody:nogroup"}, false, true);
    EXPECT_EQ(older.status, 3);
    EXPECT_TRUE(Holds(older.out, "kept      C:\\QVData\\backup\\BILLING1.mdb (the source is newer; use --replace to convert it again)\n"));
    // The tools find the installation through the configuration file alone: its drive map and program folder.
    const fs::path data = env.target / "QVData/BILLING.mdb", before = env.drives.root() / "converted.db";
    fs::copy_file(data, before);

    XSession x;
    const std::map<std::string, std::string> viaConfig = QvutilEnv(&x, "");  // QUORVANT_DRIVES empty: no map of its own
    auto asClerk = [&](const std::string &keyword) {
        return std::make_unique<Program>("setpriv", std::vector<std::string>{"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                                                           QV_BIN_DIR "/qvutil", keyword},
                                         viaConfig, env.target);
    };
    {
        auto frd = asClerk("FRD");
        const std::string w = x.window("Correct READ DATES for Meter Reading Records", *frd);
        // Bill date 3/28/2024 holds 6 readings of the selected accounts 5001, 5003, 5004 and 5008.
        StartCorrection(x, w, "3/28/2024", "6 RECORDS FOUND", "3/20/2024");
        FinishAndExit(x, *frd, w);
    }
    std::set<std::string> changed = ChangedRows(before, data);
    EXPECT_EQ(changed.size(), 12u);  // 6 readings and their 6 audit rows
    // ... and the run's record, in tables that the Jet file never had
    changed.insert({"[FRDCHG] is only in the converted file", "[FRDRUN] is only in the converted file"});

    const Ran check = env.Run({"--check"}, false, true);
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
        auto rac = asClerk("RAC");
        const std::string w = ListAndRestore(x, *rac, "BILLING1.mdb");
        FinishAndExit(x, *rac, w);  // the window stays open after a restore: Exit ends it
    }
    const std::string readings = "select * from [tbl reading] order by rowid";
    EXPECT_EQ(SqlFile(data).rows(readings), SqlFile(env.target / "QVData/backup/BILLING1.mdb").rows(readings));
}

}  // namespace
