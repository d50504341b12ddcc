#pragma once
// Databases in temporary folders mapped as drive C, made and inspected with raw SQLite.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "support/sql_file.h"
#include "support/temp_drive.h"

namespace daotest {

using namespace platform::dao;

class DaoTest : public ::testing::Test {
protected:
    qvtest::TempDrives drives{"C"};

    std::filesystem::path Linux(const std::string &windowsPath) const { return drives.linux(windowsPath); }

    // Creates the database file with the given statements run by raw SQLite.
    void Make(const std::string &windowsPath, const std::vector<std::string> &sql) {
        std::filesystem::create_directories(Linux(windowsPath).parent_path());
        qvtest::SqlFile f(Linux(windowsPath));
        f.exec("begin");
        for (const auto &s : sql) f.exec(s);
        f.exec("commit");
    }

    // The standard data database: tbl reading (20 rows) and FRDLK.
    void MakeData(const std::string &windowsPath = "C:\\data\\billing.mdb") {
        std::vector<std::string> sql = {
            "create table [tbl reading] (lockey INTEGER, code TEXT, billdate DATETIME, readdate DATETIME, usage REAL)",
            "create table FRDLK (lockey INTEGER, accno TEXT)",
            "create table LIDB (\"When\" TEXT, ByWhom TEXT, What TEXT)"};
        for (int i = 1; i <= 20; ++i) {
            const std::string code = i % 2 ? "W" : "E";
            const std::string read = i <= 5 ? "2021-04-28" : "2021-04-29 10:15:00";
            sql.push_back("insert into [tbl reading] values (" + std::to_string(i) + ",'" + code + "','2021-05-01','" +
                          read + "'," + std::to_string(i) + ".5)");
            if (i % 4 == 1) sql.push_back("insert into FRDLK values (" + std::to_string(i) + ",'A-" + std::to_string(i) + "')");
        }
        Make(windowsPath, sql);
    }

    std::string Scalar(const std::string &windowsPath, const std::string &sql) {
        qvtest::SqlFile f(Linux(windowsPath));
        return f.scalar(sql);
    }

    void TearDown() override {
        Workspace &ws = DBEngine().Workspaces(0);
        while (ws.InTransaction()) ws.Rollback();
        for (int i = ws.DatabasesCount() - 1; i >= 0; --i) ws.Databases(i).Close();
    }
};

// Runs `f` and returns the number of the platform::Error it raises (0 when none).
template <class F>
int ErrorOf(F &&f) {
    try {
        f();
    } catch (const platform::Error &e) {
        return e.number;
    }
    return 0;
}

template <class F>
std::string DescriptionOf(F &&f) {
    try {
        f();
    } catch (const platform::Error &e) {
        return e.description;
    }
    return {};
}

}  // namespace daotest
