#include "qvmigrate/tools_open.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/safe_file.h"
#include "qvmigrate/config.h"
#include "startup/shared.h"
#include "startup/startup.h"

namespace qvmigrate {

namespace fs = std::filesystem;

namespace {

constexpr const char *kTempData = "C:\\users\\public\\qv32tempdata\\tempdataDTC.mdb";

std::string Refusal(const std::string &file, const std::exception &e, const std::string &passwordReason) {
    const auto *error = dynamic_cast<const platform::Error *>(&e);
    std::string line = file + ": the tools will refuse it: ";
    line += error ? "Run-time error '" + std::to_string(error->number) + "': " + error->description : std::string(e.what());
    if (error && error->number == 3031) line += " (" + passwordReason + ")";
    return line + "\n";
}

}  // namespace

std::string ToolsWillRefuse(const Plan &plan, const Options &o) {
    std::string drives = std::string(1, o.drive) + "=" + plan.trees.front().target.string();
    for (std::size_t i = 1; i < plan.trees.size(); ++i) {
        const char letter = plan.trees[i].windows[0];
        if (const auto folder = ConfiguredDrive(o.config, letter)) drives += ";" + std::string(1, letter) + "=" + folder->string();
    }
    ::setenv("QUORVANT_DRIVES", drives.c_str(), 1);
    ::setenv("QUORVANT_PROGRAM_FOLDER", plan.programFolder.c_str(), 1);
    // The engine leaves the .ldb lock files it creates: those of this trial go again.
    std::vector<fs::path> locks;
    auto lockOf = [&](const std::string &file) {
        try {
            fs::path ldb = platform::MapPath(file);
            ldb.replace_extension(".ldb");
            std::error_code ec;
            if (!fs::exists(fs::symlink_status(ldb, ec))) locks.push_back(ldb);
        } catch (const std::exception &) {
        }
    };
    struct Tidy {
        std::vector<fs::path> &locks;
        ~Tidy() {
            for (const auto &ldb : locks) platform::RemoveFile(ldb);
        }
    } tidy{locks};
    const std::string global = plan.programFolder + "\\global.mdb";
    lockOf(global);
    try {
        startup::ReadSettings();
    } catch (const std::exception &e) {
        return Refusal(global, e, "its database password is not the one the tools open it with");
    }
    const startup::SharedState &st = startup::Shared();
    if (st.DataFolder.empty() || st.DataFileName.empty())
        return global + ": the tools will refuse it: the first record of its current table names no data database\n";
    std::string out;
    auto open = [&](const std::string &file) {
        lockOf(file);
        try {
            platform::dao::DBEngine().OpenDatabase(file, false, true).Close();
        } catch (const std::exception &e) {
            out += Refusal(file, e, "it has a database password, and the tools open it without one");
        }
    };
    open(st.DataFilePath);
    for (const auto &db : plan.databases)
        if (db.windows == kTempData) open(kTempData);
    return out;
}

}  // namespace qvmigrate
