#pragma once
// Restore test support: databases with recognisable content, forked helper processes, and the restore
// window on a small installation on temporary drives.
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sched.h>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "qvsample/sql_file.h"
#include "qvsample/temp_drive.h"
#include "restore/frmRestAutoCopy.h"
#include "support/child.h"
#include "support/file_size_limit.h"
#include "support/modal.h"

namespace qvtest {

// A database whose rows all carry `tag`: `rows` rows of about 1000 bytes each.
inline void MakeTaggedDatabase(const std::filesystem::path &p, const std::string &tag, int rows,
                               int pageSize = 4096) {
    std::filesystem::create_directories(p.parent_path());
    SqlFile db(p);
    db.exec("PRAGMA page_size=" + std::to_string(pageSize));
    db.exec("CREATE TABLE t (id INTEGER PRIMARY KEY, tag TEXT, v TEXT)");
    db.exec("CREATE INDEX t_tag ON t (tag, id)");
    db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(rows) +
            ") INSERT INTO t SELECT i, '" + tag + "', printf('%.*c', 1000, char(65 + i % 26)) FROM n");
}

// What the rows hold, in a few numbers; equal for equal content, whatever the file's bytes.
inline std::string Digest(SqlFile &db) {
    return db.scalar("SELECT group_concat(DISTINCT tag) || ' ' || count(*) || ' ' || sum(length(v)) || ' ' || "
                     "total(id * unicode(v)) FROM t");
}
inline std::string Digest(const std::filesystem::path &p) {
    SqlFile db(p);
    return Digest(db);
}

inline std::string IntegrityOf(const std::filesystem::path &p) { return SqlFile(p).scalar("PRAGMA integrity_check"); }

inline std::filesystem::path JournalOf(const std::filesystem::path &p) { return p.string() + "-journal"; }
inline std::filesystem::path LockFileOf(const std::filesystem::path &p) { return std::filesystem::path(p).replace_extension(".ldb"); }

// The names in a folder, sorted, one a line: for checking that nothing was left behind.
inline std::string Listing(const std::filesystem::path &folder) {
    std::set<std::string> sorted;
    for (auto &e : std::filesystem::directory_iterator(folder)) sorted.insert(e.path().filename().string());
    std::string names;
    for (auto &n : sorted) names += n + "\n";
    return names;
}

// A one-way signal between processes: Post() in one, Await() in the other.
class Signal {
public:
    Signal() { (void)!::pipe(fds_); }
    ~Signal() { ::close(fds_[0]); ::close(fds_[1]); }
    void Post() { (void)!::write(fds_[1], "x", 1); }
    void Await() { char c; (void)!::read(fds_[0], &c, 1); }

private:
    int fds_[2] = {-1, -1};
};

// Makes a folder or file read-only for this process alone (a read-only bind mount in a mount
// namespace of its own; in a user namespace when not privileged). False when the system allows
// neither.
inline bool MountReadOnly(const std::filesystem::path &p) {
    if (::unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        WriteFile("/proc/self/setgroups", "deny");
        WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount(p.c_str(), p.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           ::mount(nullptr, p.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

}  // namespace qvtest

namespace ractest {

inline constexpr const char *kStamp = "120426223705";

class RacEnv : public ::testing::Test {
protected:
    qvtest::TempDrives drives{"C"};
    std::filesystem::path dataDir = drives.linux("C:\\QVData");
    std::filesystem::path live = dataDir / "BILLING.mdb";
    std::filesystem::path copy1 = dataDir / "backup" / "BILLING1.mdb";
    std::string oldDigest, newDigest;

    qvtest::BoxRecorder recorder;
    std::vector<platform::ui::MsgBoxRecord> &boxes = recorder.boxes();
    std::string choice;               // the dialog's answer: a full Windows path, "" for Cancel
    std::string dialogTitle, dialogInitDir;
    std::unique_ptr<restore::frmRestAutoCopy> form;

    void SetUp() override {
        platform::SetAppPathForTests("C:\\QVNWin32");
        SetDatabasePath("C:\\QVData");
        qvtest::MakeTaggedDatabase(live, "old", 200);
        qvtest::MakeTaggedDatabase(copy1, "new", 300);
        oldDigest = qvtest::Digest(live);
        newDigest = qvtest::Digest(copy1);
        platform::SetClockForTests([] { return platform::MakeDateTime(2026, 12, 4, 22, 37, 5); });
        platform::ui::SetFileDialogChooserForTests([this](const std::string &title, const std::string &initDir) {
            dialogTitle = title;
            dialogInitDir = initDir;
            return choice;
        });
    }

    void TearDown() override {
        if (form && form->IsLoaded()) form->Unload();
        form.reset();
        platform::ui::SetFileDialogChooserForTests({});
        platform::SetClockForTests({});
        platform::SetAppPathForTests({});
        platform::ui::ResetEndingForTests();
    }

    void SetDatabasePath(const std::string &databasepath) {
        auto global = drives.linux("C:\\QVNWin32\\global.mdb");
        std::filesystem::create_directories(global.parent_path());
        qvtest::SqlFile g(global);
        g.exec("DROP TABLE IF EXISTS current");
        g.exec("CREATE TABLE current (databasepath TEXT, DatabaseFileName TEXT)");
        g.exec("INSERT INTO current VALUES ('" + databasepath + "', 'BILLING.mdb')");
        if (g.scalar("SELECT count(*) FROM sqlite_master WHERE name = 'db_password'") == "0") g.setPassword("tovan58");
    }

    restore::frmRestAutoCopy &Open() {
        form = std::make_unique<restore::frmRestAutoCopy>();
        form->Show();
        return *form;
    }

    // Lists `windowsPath` through the dialog and returns the boxes it showed.
    void List(const std::string &windowsPath) {
        choice = windowsPath;
        form->cmdList->Press();
    }

    std::string LastPrompt() const { return boxes.empty() ? std::string() : boxes.back().prompt; }

    // Messages name files in their Windows form: no Linux path, no hidden temporary name.
    void ExpectWindowsPathsOnly(const std::string &prompt) {
        EXPECT_EQ(prompt.find(drives.root().string()), std::string::npos) << prompt;
        EXPECT_EQ(prompt.find("\\."), std::string::npos) << prompt;
    }

    // One box, with this title and style, naming files in their Windows form; the window still open.
    void ExpectOneBox(const std::string &title, int style) {
        ASSERT_EQ(boxes.size(), 1u);
        ExpectWindowsPathsOnly(boxes[0].prompt);
        EXPECT_EQ(boxes[0].title + " " + std::to_string(boxes[0].style), title + " " + std::to_string(style));
        EXPECT_TRUE(!platform::ui::Ending() && form->IsVisible());
    }
};

}  // namespace ractest
