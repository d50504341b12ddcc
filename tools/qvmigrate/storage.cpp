#include "qvmigrate/storage.h"

#include <sqlite3.h>

#include "platform/dao/connection.h"

namespace qvmigrate {

namespace fs = std::filesystem;

namespace {

// What ends the index of a Jet table's primary key.
constexpr const char *kPrimaryKeyMark = " /* primary key */";

}  // namespace

std::string QuoteName(const std::string &name) {
    std::string out = "\"";
    for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::unique_ptr<StorageFile> StorageFile::CreateForLoad(const fs::path &file) {
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<StorageFile> f(new StorageFile(db));
    if (rc != SQLITE_OK) f->Fail("cannot create " + file.string());
    f->Exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA locking_mode = EXCLUSIVE; "
            "PRAGMA cache_size = -65536; BEGIN");
    return f;
}

std::unique_ptr<StorageFile> StorageFile::OpenReadOnly(const fs::path &file) {
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<StorageFile> f(new StorageFile(db));
    if (rc != SQLITE_OK) f->Fail("cannot open " + file.string());
    sqlite3_busy_timeout(db, 5000);
    f->Exec("SELECT count(*) FROM sqlite_master");  // proves it is a database SQLite can read
    return f;
}

StorageFile::~StorageFile() {
    sqlite3_finalize(insert_);
    sqlite3_close_v2(db_);
}

void StorageFile::Fail(const std::string &what) const {
    throw StorageError(what + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory"));
}

void StorageFile::Exec(const std::string &sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
}

sqlite3_stmt *StorageFile::Prepare(const std::string &sql) {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) Fail(sql);
    return st;
}

void StorageFile::CreateTable(const JetTable &t) {
    std::string sql = "CREATE TABLE " + QuoteName(t.name) + " (", values;
    for (std::size_t c = 0; c < t.columns.size(); ++c) {
        sql += (c ? ", " : "") + QuoteName(t.columns[c].name) + " " + t.columns[c].storageType;
        values += c ? ",?" : "?";
    }
    Exec(sql + ")");
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    insert_ = Prepare("INSERT INTO " + QuoteName(t.name) + " VALUES (" + values + ")");
}

void StorageFile::Insert(const Row &row) {
    for (std::size_t c = 0; c < row.size(); ++c) {
        const Value &v = row[c];
        const int at = static_cast<int>(c + 1);
        switch (v.kind) {
        case Value::Kind::Null: sqlite3_bind_null(insert_, at); break;
        case Value::Kind::Integer: sqlite3_bind_int64(insert_, at, v.i); break;
        case Value::Kind::Real: sqlite3_bind_double(insert_, at, v.d); break;
        case Value::Kind::Text: sqlite3_bind_text(insert_, at, v.s.data(), static_cast<int>(v.s.size()), SQLITE_STATIC); break;
        case Value::Kind::Blob: sqlite3_bind_blob(insert_, at, v.s.data(), static_cast<int>(v.s.size()), SQLITE_STATIC); break;
        }
    }
    const int rc = sqlite3_step(insert_);
    sqlite3_reset(insert_);
    if (rc != SQLITE_DONE) Fail("insert");
}

std::vector<std::string> StorageFile::CreateIndexes(const JetTable &t) {
    std::vector<std::string> notes;
    for (const auto &idx : t.indexes) {
        std::string keys;
        for (std::size_t k = 0; k < idx.columns.size(); ++k)
            keys += (k ? ", " : "") + QuoteName(t.columns[idx.columns[k]].name) + (idx.descending[k] ? " DESC" : "");
        // SQLite cannot give a table a primary key after the fact (and an INTEGER one would take the
        // rowid, the row's number): the key's index says what it was.
        const std::string rest = "INDEX " + QuoteName(t.name + "_" + idx.name) + " ON " + QuoteName(t.name) + " (" + keys + ")" +
                                 (idx.primary ? kPrimaryKeyMark : "");
        if (idx.unique && sqlite3_exec(db_, ("CREATE UNIQUE " + rest).c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) continue;
        if (idx.unique) notes.push_back("index " + idx.name + " of [" + t.name + "] is not unique over the rows: made without UNIQUE");
        Exec("CREATE " + rest);
    }
    return notes;
}

void StorageFile::SetPassword(const std::string &password) {
    Exec("CREATE TABLE db_password (sha256 TEXT)");
    Exec("INSERT INTO db_password (sha256) VALUES ('" + platform::dao::Sha256Hex(password) + "')");
}

void StorageFile::Finish(const std::vector<std::pair<std::string, unsigned long>> &tables) {
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    Exec("COMMIT");
    for (const auto &[name, rows] : tables) {
        sqlite3_stmt *st = Prepare("SELECT count(*) FROM " + QuoteName(name));
        const long long n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
        sqlite3_finalize(st);
        if (n != static_cast<long long>(rows))
            throw StorageError("[" + name + "] holds " + std::to_string(n) + " rows after the copy instead of " + std::to_string(rows));
    }
    sqlite3_stmt *st = Prepare("PRAGMA quick_check");
    const std::string check = sqlite3_step(st) == SQLITE_ROW ? reinterpret_cast<const char *>(sqlite3_column_text(st, 0)) : "";
    sqlite3_finalize(st);
    if (check != "ok") throw StorageError("the written database fails its check: " + check);
    if (sqlite3_close(db_) != SQLITE_OK) Fail("close");
    db_ = nullptr;
}

std::vector<std::string> StorageFile::TableNames() {
    std::vector<std::string> out;
    sqlite3_stmt *st = Prepare("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid");
    while (sqlite3_step(st) == SQLITE_ROW) out.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    return out;
}

std::vector<std::string> StorageFile::ColumnNames(const std::string &table) {
    std::vector<std::string> out;
    sqlite3_stmt *st = Prepare("SELECT name FROM pragma_table_info(?)");
    sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) out.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    return out;
}

std::string StorageFile::PasswordHash() {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT sha256 FROM db_password LIMIT 1", -1, &st, nullptr) != SQLITE_OK) return {};
    std::string out;
    if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
        out = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    return out;
}

std::vector<StorageIndex> StorageFile::Indexes(const std::string &table) {
    std::vector<StorageIndex> out;
    sqlite3_stmt *st = Prepare("SELECT l.name, l.\"unique\", coalesce(m.sql, '') FROM pragma_index_list(?) l "
                               "LEFT JOIN sqlite_master m ON m.name = l.name ORDER BY l.name");
    sqlite3_stmt *keys = Prepare("SELECT name, \"desc\" FROM pragma_index_xinfo(?) WHERE key ORDER BY seqno");
    sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) {
        StorageIndex idx;
        idx.name = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
        idx.unique = sqlite3_column_int(st, 1) != 0;
        idx.primary = std::string(reinterpret_cast<const char *>(sqlite3_column_text(st, 2))).ends_with(kPrimaryKeyMark);
        sqlite3_reset(keys);
        sqlite3_bind_text(keys, 1, idx.name.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(keys) == SQLITE_ROW) {
            const auto *column = reinterpret_cast<const char *>(sqlite3_column_text(keys, 0));
            idx.keys += (idx.keys.empty() ? "" : ", ") + std::string(column ? column : "?") + (sqlite3_column_int(keys, 1) ? " DESC" : "");
        }
        out.push_back(std::move(idx));
    }
    sqlite3_finalize(keys);
    sqlite3_finalize(st);
    return out;
}

StorageFile::Scan::Scan(StorageFile &file, const std::string &table, const std::vector<std::string> &columns)
    : file_(file) {
    std::string sql = "SELECT rowid";
    for (const auto &c : columns) sql += ", " + QuoteName(c);
    st_ = file.Prepare(sql + " FROM " + QuoteName(table) + " ORDER BY rowid");
}

StorageFile::Scan::~Scan() { sqlite3_finalize(st_); }

bool StorageFile::Scan::Next(long long &rowid, Row &row) {
    const int rc = sqlite3_step(st_);
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) file_.Fail("read");
    rowid = sqlite3_column_int64(st_, 0);
    row.resize(static_cast<std::size_t>(sqlite3_column_count(st_) - 1));
    for (std::size_t c = 0; c < row.size(); ++c) {
        const int at = static_cast<int>(c + 1);
        Value &v = row[c];
        switch (sqlite3_column_type(st_, at)) {
        case SQLITE_NULL: v.SetNull(); break;
        case SQLITE_INTEGER: v.SetInteger(sqlite3_column_int64(st_, at)); break;
        case SQLITE_FLOAT: v.SetReal(sqlite3_column_double(st_, at)); break;
        default: {
            v.kind = sqlite3_column_type(st_, at) == SQLITE_BLOB ? Value::Kind::Blob : Value::Kind::Text;
            const auto *p = static_cast<const char *>(sqlite3_column_blob(st_, at));
            v.s.assign(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st_, at)));
        }
        }
    }
    return true;
}

}  // namespace qvmigrate
