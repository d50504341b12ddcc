// An office's Windows installation carried over by qvmigrate and used by a clerk on the real windows:
// a read-date correction (audited) on the converted data database, through the drive map qvmigrate
// wrote; `qvmigrate --check` then names exactly the rows the correction changed; and the restore
// window puts the converted automatic copy in place.
#include <gtest/gtest.h>

#include <QSettings>

#include <map>
#include <set>

#include "migrate/migrate_env.h"
#include "qvmigrate/jet_header.h"
#include "support/e2e.h"
#include "support/sql_file.h"

namespace {

using namespace qvtest;
namespace fs = std::filesystem;

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
    auto answer = [&](const std::string &title) {
        const std::string box = x.waitForWindow(title);
        ASSERT_FALSE(box.empty()) << "no box " << title;
        x.keys(box, {"Return"});
    };
    {
        Program frd(qvutil, {"FRD"}, viaConfig, env.target);
        const std::string w = x.waitForWindow("Correct READ DATES for Meter Reading Records");
        ASSERT_FALSE(w.empty()) << frd.errorOutput();
        // Bill date 3/28/2024 holds 6 readings of the selected accounts 5001, 5003, 5004 and 5008.
        x.keys(w, {"Return"});
        x.type(w, "3/28/2024");
        x.keys(w, {"Return"});
        answer("6 RECORDS FOUND");
        x.type(w, "all");
        x.keys(w, {"Return"});
        answer("6 RECORDS FOUND");
        x.type(w, "3/20/2024");
        x.keys(w, {"Return"});
        answer("NO RECORDS FOUND");
        x.keys(w, {"alt+c"});
        answer("FINISHED");
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
        answer("FINISHED");
        ASSERT_EQ(rac.wait(), std::optional<int>(0)) << rac.errorOutput();
    }
    const std::string readings = "select * from [tbl reading] order by rowid";
    EXPECT_EQ(SqlFile(data).rows(readings), SqlFile(env.target / "QVData/backup/BILLING1.mdb").rows(readings));
}

}  // namespace
