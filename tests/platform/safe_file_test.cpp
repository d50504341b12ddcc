// Link-safe file access: links planted by another login, the access of shared files, whole files
// written under temporaries.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <sstream>
#include <system_error>

#include "platform/error.h"
#include "platform/safe_file.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

class SafeFile : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/qvsafeXXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        top = name;
        shared = top / "shared";
        outside = top / "outside";
        fs::create_directories(shared);
        fs::create_directories(outside);
        fs::permissions(shared, fs::perms(01777));  // as a public folder is
        Write(outside / "secret", "root only");
        fs::permissions(outside / "secret", fs::perms(0600));
    }
    void TearDown() override { fs::remove_all(top); }

    static void Write(const fs::path &p, const std::string &text) { std::ofstream(p, std::ios::binary) << text; }
    static std::string Read(const fs::path &p) {
        std::ostringstream s;
        s << std::ifstream(p, std::ios::binary).rdbuf();
        return s.str();
    }
    // A symbolic link at `at` to `to`, made by `owner`.
    static void Link(const fs::path &at, const fs::path &to, uid_t owner) {
        fs::create_symlink(to, at);
        ASSERT_EQ(::lchown(at.c_str(), owner, owner), 0);
    }
    static unsigned ModeOf(const fs::path &p) {
        return static_cast<unsigned>(fs::status(p).permissions() & fs::perms::all);
    }

    fs::path top, shared, outside;
};

TEST_F(SafeFile, AnotherUsersLinkIsRefusedAndNamedWhereverItStands) {
    if (::geteuid() != 0) GTEST_SKIP() << "a link of another login needs root to make";
    Link(shared / "AUDIT.LOG", outside / "secret", kNobody);     // at the file's own name
    Link(shared / "dangling.ldb", outside / "made", kNobody);    // at a name to be created
    Link(shared / "AUDIT", outside, kNobody);                    // at a folder on the way
    const std::function<fs::path()> writes[] = {  // each gives the link it stopped at
        [&] { return OpenFile(shared / "AUDIT.LOG", O_WRONLY | O_APPEND | O_CREAT).refusedLink; },
        [&] { return OpenFile(shared / "dangling.ldb", O_RDWR | O_CREAT, 0666, Access::LikeFolder).refusedLink; },
        [&] { return OpenFile(shared / "AUDIT" / "x.LOG", O_WRONLY | O_CREAT).refusedLink; },
        [&] { return MakeFolders(shared / "AUDIT" / "sub" / "deeper").refusedLink; },
        [&] {
            try {
                AtomicFile f(shared / "AUDIT" / "secret");
                f.Write("x", 1);
                f.Commit();
            } catch (const Error &e) {
                if (e.refusedLink && e.number == 70) return e.file;
            }
            return fs::path();
        },
    };
    for (std::size_t i = 0; i < std::size(writes); ++i) EXPECT_EQ(writes[i]().parent_path(), shared) << i;
    EXPECT_FALSE(RemoveFile(shared / "AUDIT" / "secret"));
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(Read(outside / "secret"), "root only");
    EXPECT_EQ(ModeOf(outside / "secret"), 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), {}), 1);  // nothing made there

    // The same links made by root, or by the user running the tool, are followed.
    for (const char *name : {"AUDIT.LOG", "AUDIT"}) ASSERT_EQ(::lchown((shared / name).c_str(), 0, 0), 0);
    EXPECT_TRUE(OpenFile(shared / "AUDIT" / "x.LOG", O_WRONLY | O_CREAT));
    EXPECT_TRUE(MakeFolders(shared / "AUDIT" / "sub"));
    EXPECT_TRUE(fs::is_regular_file(outside / "x.LOG"));
    EXPECT_TRUE(fs::is_directory(outside / "sub"));
}

TEST_F(SafeFile, SharedFilesTakeTheWriteAccessOfTheirFolder) {
    const mode_t umaskWas = ::umask(077);  // a strict login's mask must not lock the others out
    struct Case {
        unsigned folder, file, made;
    } cases[] = {{0755, 0644, 0755}, {0775, 0664, 0775}, {0777, 0666, 0777}, {02770, 0664, 02775}};
    for (const Case &c : cases) {
        const fs::path folder = top / ("f" + std::to_string(&c - cases));
        fs::create_directory(folder);
        ::chmod(folder.c_str(), c.folder);
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(folder.c_str(), 0, 100), 0);
        }
        EXPECT_TRUE(OpenFile(folder / "AUDIT.LOG", O_WRONLY | O_CREAT | O_APPEND, 0666, Access::LikeFolder));
        EXPECT_TRUE(MakeFolders(folder / "AUDIT", Access::LikeFolder));
        EXPECT_EQ(ModeOf(folder / "AUDIT.LOG"), c.file) << std::oct << c.folder;
        struct stat made {};
        ::stat((folder / "AUDIT").c_str(), &made);
        EXPECT_EQ(made.st_mode & 07777, c.made) << std::oct << c.folder;
        if (::geteuid() == 0) {
            EXPECT_EQ(made.st_gid, 100u);
        }
    }
    // An existing file keeps its access: only what the call creates is given the folder's.
    ::chmod((top / "f0" / "AUDIT.LOG").c_str(), 0600);
    EXPECT_TRUE(OpenFile(top / "f0" / "AUDIT.LOG", O_WRONLY | O_APPEND | O_CREAT, 0666, Access::LikeFolder));
    EXPECT_EQ(ModeOf(top / "f0" / "AUDIT.LOG"), 0600u);
    ::umask(umaskWas);
}

TEST_F(SafeFile, AtomicFileShowsTheOldContentUntilCommitAndKilledRunsLeaveNothingForLong) {
    const fs::path target = shared / "global.mdb";
    Write(target, "old");
    {
        AtomicFile f(target, Access::Private, 0640);
        f.Write("new content", 11);
        EXPECT_EQ(Read(target), "old");
    }  // never committed
    EXPECT_EQ(Read(target), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(shared), {}), 1);
    {
        AtomicFile f(target, Access::Private, 0640);
        f.Write("new content", 11);
        f.Commit();
    }
    EXPECT_EQ(Read(target), "new content");

    // A run killed while it writes leaves its temporary; the next clean-up removes it, and leaves the
    // temporary of a run that is still writing, however old.
    const pid_t pid = ::fork();
    if (pid == 0) {
        auto *killed = new AtomicFile(target);  // never destroyed
        killed->Write("half", 4);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    AtomicFile running(target);
    const timespec old[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    for (const auto &entry : fs::directory_iterator(shared))
        ::utimensat(AT_FDCWD, entry.path().c_str(), old, AT_SYMLINK_NOFOLLOW);
    EXPECT_EQ(std::distance(fs::directory_iterator(shared), {}), 3);
    RemoveStaleTemporaries(shared);
    EXPECT_EQ(std::distance(fs::directory_iterator(shared), {}), 2);  // the target and the running one
    running.Commit();
    EXPECT_EQ(Read(target), "");
}

}  // namespace
