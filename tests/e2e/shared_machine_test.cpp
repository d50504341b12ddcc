// The tools run by root over folders that another login (nobody) can write, with a link that login
// planted at a lock file of the read-date window or in the program folder that the backup reads: the
// tool refuses the link, nothing outside those folders is created or changed, and nothing there is copied
// where nobody can read it. The same links at the other names a tool writes are refused where that name is
// tested, naming the link and changing nothing: the audit folder and file in RunFailure, the restore's
// journal in RestoreReliability.LinksAnotherUserPlanted..., the backup's destination in
// QbuE2E.FailedBackups..., a lock file's in RacRestore.ADatabaseInUse... and the copier's in CopierTest.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "qvsample/installation.h"
#include "qvsample/sql_file.h"
#include "qvsample/temp_drive.h"
#include "support/child.h"
#include "support/e2e.h"

namespace {

using namespace qvtest;
namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

// Every entry below a folder: its path, owner, mode, size and content.
std::map<std::string, std::string> Snapshot(const fs::path &root) {
    std::map<std::string, std::string> entries;
    for (const auto &e : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        entries[e.path().string()] = std::to_string(st.st_uid) + " " + std::to_string(st.st_mode) + " " +
                                     std::to_string(st.st_size) + " " + (e.is_regular_file() ? ReadFile(e.path()) : "");
    }
    return entries;
}

class SharedMachineE2E : public ::testing::Test {
protected:
    static inline std::unique_ptr<XSession> x;
    static void SetUpTestSuite() { x = std::make_unique<XSession>(); }
    static void TearDownTestSuite() { x.reset(); }

    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "root and a second login are needed";
        o.readingsPerBill = 20;
        inst = LayOutInstallation(drives.folder('C'), QV_BIN_DIR, o);
        // The installation and the backup drive are the other login's to write.
        for (const fs::path &top : {drives.folder('C'), drives.folder('E')}) {
            ASSERT_EQ(::chown(top.c_str(), kNobody, kNobody), 0);
            for (const auto &e : fs::recursive_directory_iterator(top))
                ASSERT_EQ(::lchown(e.path().c_str(), kNobody, kNobody), 0);
        }
        fs::permissions(drives.root(), fs::perms(0755));
        victim = drives.root() / "root-only";
        fs::create_directories(victim);
        fs::permissions(victim, fs::perms::owner_all);
        WriteFile(victim / "secret", "root's own");
        fs::permissions(victim / "secret", fs::perms(0600));
    }

    TempDrives drives{"CE"};
    InstallationOptions o;
    Installation inst;
    fs::path victim;
};

TEST_F(SharedMachineE2E, RootFollowsNoLinkThatAnotherLoginPlanted) {
    const fs::path data = inst.dataDir;
    // From the start of the tool to its refusal, naming the link, and its end.
    const auto loadRefused = [&](Program &) { EXPECT_TRUE(x->answer("Quorvant 32")); };
    const auto backupNotComplete = [&](Program &qvutil) {  // the link named in the box
        x->keys(x->window("Quorvant32 Complete Software Backup", qvutil), {"Return"});
        EXPECT_TRUE(x->answer("STEP 1"));
        EXPECT_TRUE(x->answer("BACKUP"));
    };
    const auto restoreRefused = [&](const char *copy) {
        return [&, copy](Program &qvutil) {
            const std::string w = ListAndRestore(*x, qvutil, copy);
            EXPECT_TRUE(x->answer("RESTORE"));
            x->keys(w, {"alt+F4"});
        };
    };
    SqlFile(victim / "secret.mdb").exec("create table secret (x); insert into secret values ('root only')");
    struct Case {
        std::string name;
        fs::path link, target;
        const char *keyword;
        std::function<void(Program &)> run;
    };
    const Case cases[] = {
        {"read-date lock", data / "BILLING.mdb.frd", victim / "secret", "FRD", loadRefused},
        {"database lock", data / "BILLING.ldb", victim / "made.ldb", "FRD", loadRefused},
        {"restore's chosen copy", data / "backup" / "BILLING9.mdb", victim / "secret.mdb", "RAC", restoreRefused("BILLING9.mdb")},
        {"a file in the program folder", inst.programDir / "notes.txt", victim / "secret", "QBU", backupNotComplete},
        {"a folder in the program folder", inst.programDir / "Reports", victim, "QBU", backupNotComplete},
    };
    const auto before = Snapshot(victim);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(AsNobody([&] {
            std::error_code ec;
            if (fs::is_directory(c.link, ec)) fs::rename(c.link, c.link.string() + ".old", ec);
            fs::remove(c.link, ec);  // a lock file that an earlier run left
            fs::create_symlink(c.target, c.link, ec);
            return ec ? 1 : 0;
        }), 0);
        auto qvutil = std::make_unique<Program>(inst.qvutil, std::vector<std::string>{c.keyword}, QvutilEnv(x.get(), drives.spec()),
                                                std::string(c.keyword) == "QBU" ? drives.folder('E') : drives.folder('C'));
        c.run(*qvutil);
        EXPECT_TRUE(qvutil->wait(20000).has_value()) << qvutil->errorOutput();
        // The read-date window's refusal, said on standard error too, names the link.
        const std::string said = qvutil->errorOutput(), link = "'C:\\QVNWin32\\DATA\\" + c.link.filename().string() + "' is a link";
        EXPECT_TRUE(!c.name.ends_with(" lock") || said.find(link) != std::string::npos) << said;
        EXPECT_FALSE(x->showing("FINISHED"));
        EXPECT_EQ(Snapshot(victim), before);
        fs::remove(c.link);
        std::error_code ec;
        fs::rename(c.link.string() + ".old", c.link, ec);
    }
    for (const auto &e : fs::recursive_directory_iterator(drives.folder('E')))  // nothing of root's copied
        EXPECT_FALSE(e.is_regular_file() && ReadFile(e.path()) == "root's own") << e.path();
}

// Root with another login's environment (su without "-"): that login's configuration, here its link to a
// file of root's in a folder that every login may write, is not read, nor its temporary folder written.
TEST_F(SharedMachineE2E, RootWithAnotherLoginsEnvironmentKeepsToItsOwnFolders) {
    const fs::path shared = drives.root() / "shared", theirs = shared / "quorvant", tmp = drives.root() / "tmp";
    fs::create_directories(theirs);
    fs::create_directories(tmp);
    fs::permissions(shared, fs::perms(01777));
    fs::create_symlink(victim / "secret", theirs / "qvutil.conf");
    for (const fs::path &p : {theirs, tmp, theirs / "qvutil.conf"}) ASSERT_EQ(::lchown(p.c_str(), kNobody, kNobody), 0);
    const auto tmpTime = fs::last_write_time(tmp);  // the copier's report made no folder there
    auto env = QvutilEnv(x.get(), drives.spec());
    env.insert({{"XDG_CONFIG_HOME", shared.string()}, {"TMPDIR", tmp.string()}});
    Program qvutil(inst.qvutil, {"QBU"}, env, drives.folder('E'));
    x->keys(x->waitForWindow("Quorvant32 Complete Software Backup"), {"Return"});
    EXPECT_TRUE(x->answer("STEP 1"));
    EXPECT_TRUE(x->answer("FINISHED"));
    EXPECT_EQ(qvutil.wait(), 0) << qvutil.errorOutput();
    EXPECT_EQ(fs::last_write_time(tmp), tmpTime);
}

}  // namespace
