// Whole-file database work: checking a chosen copy, the safety copy, the replacement, the in-use probe.
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "db_fixture.h"
#include "platform/dao/dbfile.h"
#include "platform/error.h"

namespace fs = std::filesystem;
using namespace platform::dao;

namespace {

class DbFile : public ::testing::Test {
protected:
    qvtest::TempDrives drives{"C"};
    fs::path dir = drives.folder('C');
    fs::path live = dir / "BILLING.mdb";
    fs::path chosen = dir / "BILLING1.mdb";

    void SetUp() override {
        qvtest::MakeTaggedDatabase(live, "old", 300);
        qvtest::MakeTaggedDatabase(chosen, "new", 500, 1024);
    }

    int ErrorNumberOf(const std::function<void()> &f) {
        try {
            f();
        } catch (const platform::Error &e) {
            return e.number;
        }
        return 0;
    }

    // The tool's steps under a hold of the database.
    static fs::path CopyOf(const fs::path &database, const fs::path &target) {
        return ExclusiveHold::Acquire(database)->CopyToNewFile(target);
    }
    static void Replace(const fs::path &chosen, const fs::path &database) {
        const auto sound = SoundDatabase::Check(chosen);
        fs::path safety;
        ExclusiveHold::Acquire(database)->ReplaceContent(*sound, database.string() + ".safety", safety);
    }

    // Leaves a hot journal on `db`: a writer rewrites every row and dies before committing.
    void LeaveHotJournal(const fs::path &db) {
        qvtest::Child writer([&] {
            qvtest::SqlFile w(db);
            w.exec("PRAGMA cache_size=10");
            w.exec("BEGIN");
            w.exec("UPDATE t SET tag = 'torn', v = v || v");
            ::raise(SIGKILL);
            return 0;
        });
        ASSERT_EQ(writer.Wait(), 128 + SIGKILL);
        ASSERT_TRUE(fs::exists(qvtest::JournalOf(db)));
    }
};

TEST_F(DbFile, CheckAcceptsDatabasesAndRefusesOtherFiles) {
    EXPECT_NO_THROW(SoundDatabase::Check(chosen));
    EXPECT_EQ(ErrorNumberOf([&] { SoundDatabase::Check(dir / "none.mdb"); }), 3024);

    qvtest::WriteFile(dir / "notes.mdb", std::string(8192, 'x'));
    EXPECT_EQ(ErrorNumberOf([&] { SoundDatabase::Check(dir / "notes.mdb"); }), 3343);

    // Garbage over an inner page of a good database: the header still reads, the check finds it.
    fs::path damaged = dir / "damaged.mdb";
    fs::copy_file(chosen, damaged);
    {
        std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(1024 * 5);
        f << std::string(1024, '\x5a');
    }
    EXPECT_EQ(ErrorNumberOf([&] { SoundDatabase::Check(damaged); }), 3343);

    fs::resize_file(chosen, fs::file_size(chosen) / 2);
    EXPECT_EQ(ErrorNumberOf([&] { SoundDatabase::Check(chosen); }), 3343);
}

TEST_F(DbFile, SafetyCopyNeverOverwritesAndLeavesNoTemporaryFile) {
    fs::path target = dir / "BILLINGreplacedbyautocopy120426223705.mdb";
    EXPECT_EQ(CopyOf(live, target), target);
    qvtest::SqlFile(live).exec("UPDATE t SET tag = 'second'");
    EXPECT_EQ(CopyOf(live, target), dir / "BILLINGreplacedbyautocopy120426223705-2.mdb");
    qvtest::SqlFile(live).exec("UPDATE t SET tag = 'third'");
    EXPECT_EQ(CopyOf(live, target), dir / "BILLINGreplacedbyautocopy120426223705-3.mdb");

    EXPECT_EQ(qvtest::Digest(target).substr(0, 4), "old ");
    EXPECT_EQ(qvtest::Digest(dir / "BILLINGreplacedbyautocopy120426223705-2.mdb").substr(0, 7), "second ");
    EXPECT_EQ(qvtest::Digest(dir / "BILLINGreplacedbyautocopy120426223705-3.mdb"), qvtest::Digest(live));
    EXPECT_EQ(qvtest::IntegrityOf(dir / "BILLINGreplacedbyautocopy120426223705-3.mdb"), "ok");
    for (auto &e : fs::directory_iterator(dir)) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}

TEST_F(DbFile, SafetyCopySettlesAJournalLeftByADeadWriter) {
    std::string before = qvtest::Digest(live);
    LeaveHotJournal(live);
    fs::path copy = CopyOf(live, dir / "safety.mdb");
    EXPECT_EQ(qvtest::Digest(copy), before);
    EXPECT_FALSE(fs::exists(qvtest::JournalOf(live)));
}

TEST_F(DbFile, SafetyCopyOfAMissingOrForeignFileFailsCleanly) {
    EXPECT_EQ(ErrorNumberOf([&] { CopyOf(dir / "BILLIN.mdb", dir / "x.mdb"); }), 3024);
    qvtest::WriteFile(dir / "text.mdb", std::string(4096, 't'));
    EXPECT_EQ(ErrorNumberOf([&] { CopyOf(dir / "text.mdb", dir / "y.mdb"); }), 3343);
    EXPECT_FALSE(fs::exists(dir / "x.mdb"));
    EXPECT_FALSE(fs::exists(dir / "y.mdb"));
    for (auto &e : fs::directory_iterator(dir)) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}

TEST_F(DbFile, ReplacementTakesTheChosenContentWhateverItsPageSize) {
    std::string wanted = qvtest::Digest(chosen);
    std::string chosenBytes = qvtest::ReadFile(chosen);
    Replace(chosen, live);
    EXPECT_EQ(qvtest::Digest(live), wanted);
    EXPECT_EQ(qvtest::IntegrityOf(live), "ok");
    EXPECT_EQ(qvtest::ReadFile(chosen), chosenBytes);
    EXPECT_EQ(qvtest::SqlFile(live).scalar("PRAGMA page_size"), "1024");

    // A smaller copy shrinks the file: no pages of the old content stay behind.
    qvtest::MakeTaggedDatabase(dir / "small.mdb", "small", 20);
    Replace(dir / "small.mdb", live);
    EXPECT_EQ(qvtest::Digest(live), qvtest::Digest(dir / "small.mdb"));
    EXPECT_EQ(fs::file_size(live), fs::file_size(dir / "small.mdb"));
}

TEST_F(DbFile, AProgramThatKeepsTheDatabaseOpenSeesTheNewContent) {
    // A copy that differs from the live database only in its rows, down to the header's counters.
    const fs::path same = dir / "same.mdb";
    fs::copy_file(live, same);
    qvtest::SqlFile(same).exec("UPDATE t SET tag = 'new'");
    std::fstream(same, std::ios::in | std::ios::out | std::ios::binary).seekp(24) << qvtest::ReadFile(live).substr(24, 4);
    qvtest::SqlFile keptOpen(live);
    ASSERT_EQ(qvtest::Digest(keptOpen).substr(0, 4), "old ");  // its cache holds the old pages
    Replace(same, live);
    EXPECT_EQ(qvtest::Digest(keptOpen), qvtest::Digest(same));
}

TEST_F(DbFile, ReplacementOverALeftoverJournalIsNotUndoneByIt) {
    // A plain file copy over the live file would let the next open replay this journal onto the new
    // pages; the replacement settles it first.
    LeaveHotJournal(live);
    Replace(chosen, live);
    EXPECT_FALSE(fs::exists(qvtest::JournalOf(live)));
    EXPECT_EQ(qvtest::Digest(live), qvtest::Digest(chosen));
    EXPECT_EQ(qvtest::IntegrityOf(live), "ok");
}

TEST_F(DbFile, ReplacementNeedsAnExistingLiveDatabase) {
    EXPECT_EQ(ErrorNumberOf([&] { Replace(chosen, dir / "BILLIN.mdb"); }), 3024);
    EXPECT_FALSE(fs::exists(dir / "BILLIN.mdb"));
}

}  // namespace
