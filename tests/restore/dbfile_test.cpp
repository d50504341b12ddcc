// Whole-file database work of the restore: checking a chosen copy, the safety copy, the replacement,
// the hold; and the same under kills, write failures and other programs holding the database.
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <random>
#include <sys/file.h>
#include <thread>

#include "restore_fixture.h"
#include "support/error_number.h"
#include "platform/dao/connection.h"
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

    // The tool's steps: a hold of the database, then the replacement. Returns the safety copy.
    static fs::path Replace(const fs::path &chosen, const fs::path &database, const fs::path &safety) {
        ReplaceStage stage{};
        return ExclusiveHold::Acquire(database)->ReplaceContent(chosen, safety, stage);
    }
    // The error number of a replacement of the live database by `copy` that failed at the check (-1
    // for a failure elsewhere, 0 for none), the live database unchanged.
    int CheckFailure(const fs::path &copy) {
        const std::string before = qvtest::ReadFile(live);
        ReplaceStage stage{};
        int number = 0;
        try {
            ExclusiveHold::Acquire(live)->ReplaceContent(copy, dir / "safety.mdb", stage);
        } catch (const platform::Error &e) {
            number = stage == ReplaceStage::Checking ? e.number : -1;
        }
        EXPECT_TRUE(qvtest::ReadFile(live) == before);
        return number;
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

// A missing copy, an empty one or one of garbage: RacRestore.ACopyTheToolsCannotUse..., with the words.
TEST_F(DbFile, CheckRefusesDamagedDatabases) {
    // Garbage over an inner page of a good database: the header still reads, the check finds it.
    fs::path damaged = dir / "damaged.mdb";
    fs::copy_file(chosen, damaged);
    {
        std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(1024 * 5);
        f << std::string(1024, '\x5a');
    }
    EXPECT_EQ(CheckFailure(damaged), 3343);

    fs::resize_file(chosen, fs::file_size(chosen) / 2);
    EXPECT_EQ(CheckFailure(chosen), 3343);
    for (auto &e : fs::directory_iterator(dir)) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
    EXPECT_FALSE(fs::exists(dir / "safety.mdb"));
    EXPECT_FALSE(fs::exists(qvtest::JournalOf(live)));
}

// A missing live database: RacRestore.MissingLiveDatabaseIsNamed...
TEST_F(DbFile, SafetyCopyNeverOverwrites) {
    fs::path target = dir / "BILLINGreplacedbyautocopy120426223705.mdb";
    EXPECT_EQ(Replace(chosen, live, target), target);
    qvtest::SqlFile(live).exec("UPDATE t SET tag = 'second'");
    EXPECT_EQ(Replace(chosen, live, target), dir / "BILLINGreplacedbyautocopy120426223705-2.mdb");
    qvtest::SqlFile(live).exec("UPDATE t SET tag = 'third'");
    EXPECT_EQ(Replace(chosen, live, target), dir / "BILLINGreplacedbyautocopy120426223705-3.mdb");

    EXPECT_EQ(qvtest::Digest(target).substr(0, 4), "old ");
    EXPECT_EQ(qvtest::Digest(dir / "BILLINGreplacedbyautocopy120426223705-2.mdb").substr(0, 7), "second ");
    EXPECT_EQ(qvtest::Digest(dir / "BILLINGreplacedbyautocopy120426223705-3.mdb").substr(0, 6), "third ");
    EXPECT_EQ(qvtest::IntegrityOf(dir / "BILLINGreplacedbyautocopy120426223705-3.mdb"), "ok");
}

// A live file that is no database (empty, cut short, garbage) is held like one and replaced whole, keeping
// its mode; the safety copy holds the damaged bytes; a new file not written whole leaves the damaged one.
TEST_F(DbFile, ADamagedDatabaseIsReplacedWholeAndKeptAsTheSafetyCopy) {
    const std::string sound = qvtest::ReadFile(live), wanted = qvtest::ReadFile(chosen);
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    for (const std::string &damaged : {std::string(), sound.substr(0, sound.size() / 2), std::string(8192, 'x')}) {
        SCOPED_TRACE(damaged.size());
        qvtest::WriteFile(live, damaged);
        fs::permissions(live, mode);
        const int other = ::open(qvtest::LockFileOf(live).c_str(), O_RDWR | O_CREAT, 0666);
        ASSERT_EQ(::flock(other, LOCK_SH), 0);
        EXPECT_EQ(ExclusiveHold::Acquire(live), nullptr);
        ::close(other);
        {
            qvtest::FileSizeLimit full(damaged.size() + 4096);
            EXPECT_EQ(qvtest::ErrorNumber([&] { Replace(chosen, live, dir / "safety.mdb"); }), 61);
        }
        EXPECT_TRUE(qvtest::ReadFile(live) == damaged);
        for (auto &e : fs::directory_iterator(dir)) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
        const fs::path safety = Replace(chosen, live, dir / "safety.mdb");
        EXPECT_TRUE(qvtest::ReadFile(live) == wanted);
        EXPECT_TRUE(qvtest::ReadFile(safety) == damaged);
        EXPECT_EQ(fs::status(live).permissions(), mode);
        fs::remove(safety);
    }
}

TEST_F(DbFile, ReplacementTakesTheChosenContentWhateverItsPageSize) {
    std::string wanted = qvtest::Digest(chosen);
    std::string chosenBytes = qvtest::ReadFile(chosen);
    Replace(chosen, live, dir / "safety.mdb");
    EXPECT_EQ(qvtest::Digest(live), wanted);
    EXPECT_EQ(qvtest::IntegrityOf(live), "ok");
    EXPECT_EQ(qvtest::ReadFile(chosen), chosenBytes);
    EXPECT_EQ(qvtest::SqlFile(live).scalar("PRAGMA page_size"), "1024");

    // A smaller copy shrinks the file: no pages of the old content stay behind.
    qvtest::MakeTaggedDatabase(dir / "small.mdb", "small", 20);
    Replace(dir / "small.mdb", live, dir / "safety.mdb");
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
    Replace(same, live, dir / "safety.mdb");
    EXPECT_EQ(qvtest::Digest(keptOpen), qvtest::Digest(same));
}

// A journal left by a dead writer is rolled back before the safety copy reads the file, so neither the
// copy nor the next open replays it onto the new pages.
TEST_F(DbFile, AJournalLeftByADeadWriterIsSettledFirst) {
    const std::string before = qvtest::Digest(live);
    LeaveHotJournal(live);
    EXPECT_EQ(qvtest::Digest(Replace(chosen, live, dir / "safety.mdb")), before);
    EXPECT_FALSE(fs::exists(qvtest::JournalOf(live)));
    EXPECT_EQ(qvtest::Digest(live), qvtest::Digest(chosen));
    EXPECT_EQ(qvtest::IntegrityOf(live), "ok");
}

class RestoreReliability : public ::testing::Test {
protected:
    qvtest::TempDrives drives{"C"};
    fs::path dataDir = drives.folder('C') / "QVData";
    fs::path live = dataDir / "BILLING.mdb";
    fs::path chosen = dataDir / "backup" / "BILLING1.mdb";
    fs::path safety = dataDir / "BILLINGreplacedbyautocopy010224101500.mdb";
    fs::path pristine = drives.folder('C') / "pristine.mdb";
    std::string oldDigest, newDigest, oldBytes;

    void SetUp() override {
        fs::create_directories(dataDir / "backup");
        qvtest::MakeTaggedDatabase(pristine, "old", 3000);
        qvtest::MakeTaggedDatabase(chosen, "new", 4500, 1024);  // another page size than the live one
        oldDigest = qvtest::Digest(pristine);
        newDigest = qvtest::Digest(chosen);
        oldBytes = qvtest::ReadFile(pristine);
        ResetLive();
    }

    void ResetLive() {
        for (auto &e : fs::directory_iterator(dataDir))
            if (e.is_regular_file()) fs::remove(e.path());
        fs::copy_file(pristine, live);
    }

    std::string failure;  // the description of Restore's last failure
    ReplaceStage stage{};  // how far it came

    // The tool's sequence: exclusive hold, safety copy, replacement. 0 when done, else the error number.
    int Restore() {
        try {
            auto hold = ExclusiveHold::Acquire(live);
            if (!hold) return 1;
            hold->RemoveLeftovers("BILLINGreplacedbyautocopy");
            stage = {};
            hold->ReplaceContent(chosen, safety, stage);
            return 0;
        } catch (const platform::Error &e) {
            failure = platform::Message(e);
            return e.number % 256;
        }
    }
};

TEST_F(RestoreReliability, KilledAtRandomPointsLeavesOldOrNewContent) {
    // How long an undisturbed restore takes, to spread the kills over it.
    auto start = std::chrono::steady_clock::now();
    {
        qvtest::Child whole([&] { return Restore(); });
        ASSERT_EQ(whole.Wait(), 0);
    }
    auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_EQ(qvtest::Digest(live), newDigest);

    unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<long> delay(0, span.count() * 12 / 10);
    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < 40; ++round) {
        ResetLive();
        long at = delay(rng);
        SCOPED_TRACE("killed after " + std::to_string(at) + " us");
        qvtest::Child restoring([&] { return Restore(); });
        std::this_thread::sleep_for(std::chrono::microseconds(at));
        restoring.Kill();
        restoring.Wait();

        // The tools open it (rolling back an interrupted replacement), and what they see is whole.
        ASSERT_NO_THROW((void)Connection::Open(live, false, false));
        ASSERT_EQ(qvtest::IntegrityOf(live), "ok");
        std::string now = qvtest::Digest(live);
        ASSERT_TRUE(now == oldDigest || now == newDigest) << now;
        (now == oldDigest ? sawOld : sawNew)++;
        // A safety copy that got its name is complete.
        if (fs::exists(safety)) {
            EXPECT_EQ(qvtest::Digest(safety), oldDigest);
        }
    }
    RecordProperty("old", sawOld);
    RecordProperty("new", sawNew);
}

// A safety copy, journal or replacement that cannot be written for a full disk: RacRestore.ASafetyCopyOr...,
// which finds the live file's bytes and the data folder as they were.
TEST_F(RestoreReliability, KilledWhileWritingLeavesTheOldContentAndTheNextRestoreCleansUp) {
    const auto oldSize = static_cast<rlim_t>(oldBytes.size());
    struct Case {
        const char *what;
        rlim_t limit;      // the process is killed when a file it writes passes this size
        bool overwriting;  // killed with the live file half overwritten (else in the safety copy)
    } cases[] = {
        {"killed during the safety copy and the journal", oldSize / 3, false},
        {"killed while the live file grows (its journal is whole)", oldSize + oldSize / 4, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ResetLive();
        qvtest::Child killed([&] {
            std::signal(SIGXFSZ, [](int) { ::raise(SIGKILL); });
            rlimit limit{c.limit, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            return Restore();
        });
        ASSERT_EQ(killed.Wait(), 128 + SIGKILL);
        EXPECT_NE(qvtest::Listing(dataDir), "BILLING.mdb\nbackup\n");  // something half made
        EXPECT_FALSE(fs::exists(safety));  // nothing was replaced
        const std::string halfDone = qvtest::ReadFile(live);
        EXPECT_EQ(halfDone != oldBytes, c.overwriting);
        EXPECT_TRUE(!c.overwriting || fs::exists(qvtest::JournalOf(live)));
        // A read-only open of the engine refuses it and writes nothing, as SQLite does; an open that
        // may write rolls the journal back before it looks at the header (whose page count is the
        // new one while the file is still short).
        if (c.overwriting) {
            EXPECT_EQ(qvtest::ErrorNumber([&] { Connection::Open(live, false, true); }), 70);
            EXPECT_TRUE(qvtest::ReadFile(live) == halfDone);
        }
        ASSERT_NO_THROW((void)Connection::Open(live, false, false));
        EXPECT_TRUE(qvtest::ReadFile(live) == oldBytes);
        // The next restore, seconds after the kill, leaves nothing of it (a window's open: frd_window_test).
        ASSERT_EQ(Restore(), 0);
        EXPECT_EQ(qvtest::Listing(dataDir), "BILLING.mdb\n" + safety.filename().string() + "\nbackup\n");
        EXPECT_EQ(qvtest::Digest(live), newDigest);
    }
}

// A copy that differs from the live database in short runs of pages here and there, the first and the
// last page among them: every changed page is written, and no other.
TEST_F(RestoreReliability, ScatteredRunsOfChangedPagesAreAllReplaced) {
    // The changes go into the unused room of b-tree pages (between the cell pointers and the cells),
    // which the check does not read, so the copy stays a sound database.
    std::string bytes = oldBytes;
    const std::size_t pageSize = 4096, pages = bytes.size() / pageSize;
    auto scribble = [&](std::size_t page) {
        auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[(page - 1) * pageSize + i]); };
        const std::size_t header = page == 1 ? 100 : 0, type = at(header);
        const std::size_t cells = at(header + 3) << 8 | at(header + 4), content = at(header + 5) << 8 | at(header + 6);
        const std::size_t from = header + (type == 2 || type == 5 ? 12 : 8) + 2 * cells;
        ASSERT_LT(from, content) << "no room on page " << page;
        for (std::size_t i = from; i < content; ++i) bytes[(page - 1) * pageSize + i] = static_cast<char>(page + i);
    };
    scribble(1);
    scribble(pages);
    std::mt19937 rng(static_cast<unsigned>(pages));
    for (std::size_t page = 3; page + 3 < pages; page += 2 + rng() % 20)
        for (std::size_t n = 1 + rng() % 3; n > 0; --n, ++page) scribble(page);
    qvtest::WriteFile(chosen, bytes);

    ASSERT_EQ(Restore(), 0);
    std::string result = qvtest::ReadFile(live);
    for (std::size_t at : {24, 40, 92}) result.replace(at, 4, bytes, at, 4);  // the header's counters move on
    const auto differs = std::mismatch(bytes.begin(), bytes.end(), result.begin(), result.end()).first;
    EXPECT_TRUE(differs == bytes.end()) << "page " << (differs - bytes.begin()) / 4096 + 1 << " differs";
}

// Another program cuts or writes a file while the restore reads or writes it (stopped at that moment):
// no signal ends the restore, it fails naming the file, nothing says it replaced anything, and the
// live database holds its old content (as far as the other program left it).
TEST_F(RestoreReliability, AFileChangedByAnotherProgramMeanwhileFailsTheRestore) {
    // The chosen copy: a large one, so the check reads it for a while; else one that differs in a few
    // pages, so the replacement writes them at once and the file cut is the old content's.
    fs::remove(chosen);
    qvtest::MakeTaggedDatabase(chosen, "new", 40000);
    const std::string large = qvtest::ReadFile(chosen);
    fs::copy_file(pristine, chosen, fs::copy_options::overwrite_existing);
    qvtest::SqlFile(chosen).exec("UPDATE t SET tag = 'new' WHERE id % 700 = 0");
    const std::string near = qvtest::ReadFile(chosen);
    auto mapped = [&](pid_t pid) {  // the check reads the chosen copy through a mapping
        return qvtest::ReadFile("/proc/" + std::to_string(pid) + "/maps").find(chosen.string()) != std::string::npos;
    };
    auto journal = [&](bool counted) {  // the journal is there, counting (its magic written) or not yet
        char head[8] = {};
        const int fd = ::open(qvtest::JournalOf(live).c_str(), O_RDONLY);
        const bool counts = fd >= 0 && ::pread(fd, head, 8, 0) == 8 && std::memcmp(head, "\xd9\xd5\x05\xf9\x20\xa1\x63\xd7", 8) == 0;
        ::close(fd);
        return fd >= 0 && counts == counted;
    };
    // The journal counts and the last changed page is not yet written: the last check is ahead.
    std::size_t last = near.size() - 4096;
    while (near.compare(last, 4096, oldBytes, last, 4096) == 0) last -= 4096;
    auto replacing = [&, last](pid_t) {
        char page[4096] = {};
        const int fd = journal(true) ? ::open(live.c_str(), O_RDONLY) : -1;
        const bool old = fd >= 0 && ::pread(fd, page, sizeof page, static_cast<off_t>(last)) == 4096 &&
                         near.compare(last, 4096, page, 4096) != 0;
        ::close(fd);
        return old;
    };
    auto copying = [&](pid_t pid) {  // the check reads the chosen copy while the safety copy is being written
        std::error_code gone;
        for (auto &e : fs::directory_iterator(dataDir))
            if (e.path().extension() == ".qvtmp") return mapped(pid) && fs::file_size(e.path(), gone) - 1 < large.size() / 2;
        return false;
    };
    struct Case {
        const char *what;
        std::function<bool(pid_t)> when;
        fs::path file;
        bool cut;      // else a page header in the middle written over
        bool liveCut;  // the live file is left as the other program cut it
        const std::string &copy, &before;
    } cases[] = {
        {"chosen copy cut during the check", mapped, chosen, true, false, large, oldBytes},
        {"chosen copy written during the check", mapped, chosen, false, false, large, oldBytes},
        {"live file cut during the check and the safety copy", copying, live, true, true, large, large},
        {"live file cut during the safety copy", [&](pid_t) { return journal(false); }, live, true, true, near, oldBytes},
        {"live file cut during the replacement", replacing, live, true, false, near, oldBytes},
        {"live file written during the replacement", replacing, live, false, false, near, oldBytes},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        bool caught = false;
        for (int attempt = 0; attempt < 20 && !caught; ++attempt) {
            ResetLive();
            qvtest::WriteFile(live, c.before);
            qvtest::WriteFile(chosen, c.copy);
            qvtest::Child restoring([&] {  // 75: failed naming the file, the live one not as the chosen copy's check
                return Restore() && failure.find(platform::ShownPath(c.file)) != std::string::npos &&
                               (c.file == chosen || stage != ReplaceStage::Checking) ? 75 : 1;
            });
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!c.when(restoring.Pid()) && std::chrono::steady_clock::now() < until) {
            }
            restoring.Stop();
            caught = c.when(restoring.Pid());
            if (caught && c.cut) fs::resize_file(c.file, fs::file_size(c.file) / 3);
            if (caught && !c.cut) std::fstream(c.file, std::ios::in | std::ios::out).seekp(fs::file_size(c.file) / 2 / 1024 * 1024) << "garbage";
            restoring.Continue();
            const int status = restoring.Wait();
            if (!caught) continue;
            EXPECT_EQ(status, 75);
            EXPECT_FALSE(fs::exists(safety));
            EXPECT_FALSE(fs::exists(qvtest::JournalOf(live)));
            const std::string now = qvtest::ReadFile(live);
            EXPECT_TRUE(c.liveCut ? now == c.before.substr(0, now.size()) : now == c.before);
        }
        EXPECT_TRUE(caught) << "the moment never came";
    }
}

// Run by root in a data folder that other logins can write: a link another login planted at the
// journal's, the safety copy's, the live database's or the chosen copy's name (to a database of root's
// alone) is refused and named, and nothing is written, there or where it points.
TEST_F(RestoreReliability, LinksAnotherUserPlantedAreRefusedAndNothingIsWritten) {
    if (::geteuid() != 0) GTEST_SKIP() << "a link of another login needs root to make";
    fs::permissions(dataDir, fs::perms::all);
    const fs::path outside = drives.folder('C') / "outside";
    fs::create_directory(outside);
    // A journal's link that names a file is met as the engine opens the database, else as it is created.
    const std::pair<fs::path, bool> cases[] = {
        {qvtest::JournalOf(live), false}, {qvtest::JournalOf(live), true}, {safety, false}, {live, false},
        {chosen, false}};
    for (const auto &[at, named] : cases) {
        SCOPED_TRACE(at.string() + (named ? " naming a file" : ""));
        ResetLive();
        const fs::path planted = at == live ? dataDir / "moved.mdb" : outside / "made";
        if (at == live || at == chosen) fs::rename(at, planted), fs::permissions(planted, fs::perms::owner_read);
        if (named) qvtest::WriteFile(planted, "journal");
        fs::create_symlink(planted, at);
        ASSERT_EQ(::lchown(at.c_str(), 65534, 65534), 0);
        const std::string before = qvtest::Listing(dataDir);
        EXPECT_EQ(Restore(), 70);
        EXPECT_EQ(failure, "'C:\\QVData\\" + std::string(at == chosen ? "backup\\" : "") + at.filename().string() + "' is a link made by another user; nothing was written");
        EXPECT_EQ(qvtest::Listing(dataDir), before);
        EXPECT_TRUE(named ? qvtest::ReadFile(planted) == "journal" : fs::is_empty(outside) || at == chosen);
        EXPECT_TRUE(qvtest::ReadFile(at == live ? planted : live) == oldBytes);
        fs::remove(at);
        if (named) fs::remove(planted);
        if (at == chosen) fs::rename(planted, chosen);
    }
}

TEST_F(RestoreReliability, AReadOnlyDatabaseOrFileSystemIsRefusedWithTheRealReason) {
    for (const fs::path &readOnly : {dataDir, live}) {
        for (bool lockFileLeft : {false, true}) {
            SCOPED_TRACE(readOnly.string() + (lockFileLeft ? " with" : " without") + " a lock file");
            ResetLive();
            if (lockFileLeft) qvtest::WriteFile(qvtest::LockFileOf(live), "");
            qvtest::Child restoring([&] {
                if (!qvtest::MountReadOnly(readOnly)) return 77;
                try {
                    ExclusiveHold::Acquire(live);
                    return 1;
                } catch (const platform::Error &e) {
                    const std::string d = platform::Message(e);
                    std::cerr << d << "\n";
                    return e.number == 70 && d.find(std::strerror(EROFS)) != std::string::npos &&
                                   d.find("C:\\QVData\\BILLING.") != std::string::npos ? 0 : 2;
                }
            });
            const int status = restoring.Wait();
            if (status == 77) GTEST_SKIP() << "no read-only mounts here";
            EXPECT_EQ(status, 0);
        }
    }
}

TEST_F(RestoreReliability, AnotherProgramHoldingTheDatabaseIsRefused) {
    struct Holder {
        const char *what;
        std::function<void()> hold;  // runs in the child until it signals
    };
    fs::path lockFile = qvtest::LockFileOf(live);
    std::vector<Holder> holders = {
        {"shared open through the engine",
         [&] { new auto(Connection::Open(live, /*exclusive=*/false, /*readOnly=*/false)); }},
        {"bare .ldb lock of another engine",
         [&] {
             int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0666);
             ::flock(fd, LOCK_SH);
         }},
        {"writer inside BEGIN IMMEDIATE",
         [&] {
             auto *db = new qvtest::SqlFile(live);
             db->exec("BEGIN IMMEDIATE");
             db->exec("UPDATE t SET tag = 'pending' WHERE id = 1");
         }},
        {"reader inside a transaction",
         [&] {
             auto *db = new qvtest::SqlFile(live);
             db->exec("BEGIN");
             db->scalar("SELECT count(*) FROM t");
         }},
    };
    for (const Holder &h : holders) {
        SCOPED_TRACE(h.what);
        qvtest::Signal holding, release;
        {
            qvtest::Child other([&] {
                h.hold();
                holding.Post();
                release.Await();
                return 0;
            });
            holding.Await();
            EXPECT_EQ(ExclusiveHold::Acquire(live), nullptr);
            release.Post();
            EXPECT_EQ(other.Wait(), 0);
        }
        EXPECT_NE(ExclusiveHold::Acquire(live), nullptr);
        EXPECT_EQ(qvtest::Digest(live), oldDigest);
    }
}

TEST_F(RestoreReliability, TheHoldKeepsOthersOutUntilReleased) {
    auto hold = ExclusiveHold::Acquire(live);
    ASSERT_NE(hold, nullptr);
    qvtest::Child other([&] {
        int fd = ::open(qvtest::LockFileOf(live).c_str(), O_RDWR);
        return ::flock(fd, LOCK_SH | LOCK_NB) == 0 ? 0 : 1;
    });
    EXPECT_EQ(other.Wait(), 1);
    hold.reset();
    EXPECT_NE(ExclusiveHold::Acquire(live), nullptr);
}

}  // namespace
