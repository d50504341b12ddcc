// Raw SQLite access for tests: statements run and rows read without the engine.
#include "qvsample/sql_file.h"

#include <sqlite3.h>

#include <stdexcept>

#include <QCryptographicHash>

namespace qvtest {

SqlFile::SqlFile(const std::filesystem::path &p) {
    if (sqlite3_open(p.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("open " + p.string());
    sqlite3_busy_timeout(db_, 5000);
}

SqlFile::~SqlFile() { sqlite3_close_v2(db_); }

void SqlFile::exec(const std::string &sql) {
    char *err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string m = err ? err : "?";
        sqlite3_free(err);
        throw std::runtime_error(m + " in: " + sql);
    }
}

std::vector<std::vector<std::string>> SqlFile::rows(const std::string &sql) {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string(sqlite3_errmsg(db_)) + " in: " + sql);
    std::vector<std::vector<std::string>> out;
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::vector<std::string> r;
        for (int i = 0; i < sqlite3_column_count(st); ++i) {
            auto t = sqlite3_column_text(st, i);
            r.push_back(sqlite3_column_type(st, i) == SQLITE_NULL ? "<null>" : reinterpret_cast<const char *>(t));
        }
        out.push_back(std::move(r));
    }
    sqlite3_finalize(st);
    return out;
}

std::string SqlFile::scalar(const std::string &sql) {
    auto r = rows(sql);
    if (r.empty() || r[0].empty() || r[0][0] == "<null>") return "";
    return r[0][0];
}

std::string Sha256Hex(const std::string &text) {
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Sha256).toHex().toStdString();
}

void SqlFile::setPassword(const std::string &password) {
    exec("create table if not exists db_password (sha256 TEXT)");
    exec("delete from db_password");
    exec("insert into db_password (sha256) values ('" + Sha256Hex(password) + "')");
}

}  // namespace qvtest
