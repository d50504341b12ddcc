#pragma once
// Raw SQLite access for setting up and inspecting test databases, independent of the engine under test.
#include <filesystem>
#include <string>
#include <vector>

struct sqlite3;

namespace qvtest {

class SqlFile {
public:
    explicit SqlFile(const std::filesystem::path &p);  // creates the file when missing
    ~SqlFile();
    SqlFile(const SqlFile &) = delete;
    SqlFile &operator=(const SqlFile &) = delete;
    void exec(const std::string &sql);                  // throws std::runtime_error on failure
    std::string scalar(const std::string &sql);         // first column of the first row ("" for NULL / none)
    long long count(const std::string &sql) { return std::stoll(scalar(sql)); }
    std::vector<std::vector<std::string>> rows(const std::string &sql);  // NULL as "<null>"
    // Protects the database with a password as the engine expects (table db_password, sha256 column).
    void setPassword(const std::string &password);

private:
    sqlite3 *db_ = nullptr;
};

std::string Sha256Hex(const std::string &text);

}  // namespace qvtest
