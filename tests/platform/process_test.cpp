#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "error_number.h"
#include "platform/error.h"
#include "platform/process.h"
#include "support/temp_drive.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

using qvtest::ErrorNumber;

// Waits for a file that a started process renames into place when it is done writing.
std::string AwaitFile(const fs::path &p) {
    for (int i = 0; i < 600 && !fs::exists(p); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return qvtest::ReadFile(p);
}

// Keeps DISPLAY away so that the copier runs without a terminal window.
struct NoDisplay {
    std::string saved;
    bool had = false;
    NoDisplay() {
        if (const char *d = std::getenv("DISPLAY")) saved = d, had = true;
        unsetenv("DISPLAY");
    }
    ~NoDisplay() {
        if (had) setenv("DISPLAY", saved.c_str(), 1);
    }
};

TEST(Shell, RecorderSeamTakesTheCommandLineAndStartsNothing) {
    std::vector<std::string> started;
    SetShellRecorderForTests([&](const std::string &line) { started.push_back(line); });
    Shell("xcopy C:\\QVNWin32\\*.* E:\\\\QVNWin32 /T/Y");
    Shell("nosuchprogram at all");
    SetShellRecorderForTests({});
    EXPECT_EQ(started, (std::vector<std::string>{"xcopy C:\\QVNWin32\\*.* E:\\\\QVNWin32 /T/Y", "nosuchprogram at all"}));
}

TEST(Shell, MissingProgramRaisesFileNotFound) {
    qvtest::TempDrives drives("C");
    EXPECT_EQ(ErrorNumber([] { Shell("C:\\no\\such.exe /x"); }), 53);
    EXPECT_EQ(ErrorNumber([] { Shell("qv-no-such-program-anywhere arg"); }), 53);
    EXPECT_EQ(ErrorNumber([] { Shell(""); }), 53);
    qvtest::WriteFile(drives.folder('C') / "notexec.sh", "#!/bin/sh\n");
    EXPECT_EQ(ErrorNumber([] { Shell("C:\\notexec.sh"); }), 53);
}

TEST(Shell, StartsADetachedProcessThatInheritsNoOpenFiles) {
    qvtest::TempDrives drives("C");
    const fs::path out = drives.folder('C') / "out";
    const int held = ::open((drives.folder('C') / "held").c_str(), O_CREAT | O_RDWR, 0644);
    ASSERT_GE(held, 3);
    unsetenv("QUORVANT_DRIVES");  // C is the root folder: the program is written as a Windows path
    const std::string script = "echo $PPID $(cut -d' ' -f6 /proc/$$/stat); if [ -e /proc/self/fd/" +
                               std::to_string(held) + " ]; then echo leaked; else echo clean; fi";
    Shell("C:\\bin\\sh -c \"(" + script + ") > " + out.string() + ".tmp; mv " + out.string() + ".tmp " +
          out.string() + "\"");
    // Nothing started is our child: no zombie can stay behind and nobody waits for it.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    std::istringstream text(AwaitFile(out));
    long parent = 0, session = 0;
    std::string fds;
    text >> parent >> session >> fds;
    ::close(held);
    ASSERT_GT(session, 0);
    EXPECT_NE(parent, static_cast<long>(::getpid()));
    EXPECT_NE(session, static_cast<long>(::getsid(0)));
    EXPECT_EQ(fds, "clean");
}

// One test case for both ways of starting the copier: it puts a stand-in copier beside the test program,
// which no other test case of this program may do at the same time.
TEST(Shell, XcopyStartsTheCopierBesideTheExecutableWithTheRawArgumentText) {
    NoDisplay noDisplay;
    qvtest::TempDrives drives("C");
    const fs::path copier = fs::read_symlink("/proc/self/exe").parent_path() / "qvxcopy";
    if (fs::exists(copier)) GTEST_SKIP() << "a real copier lies beside the test program";
    EXPECT_EQ(ErrorNumber([] { Shell("xcopy C:\\a\\*.* C:\\b /T/Y"); }), 53);

    // The stand-in copier and terminal program write down their arguments.
    const fs::path bin = drives.root() / "bin", out = drives.root() / "args";
    const std::string record = "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > " + out.string() + ".tmp; mv " +
                               out.string() + ".tmp " + out.string() + "\n";
    qvtest::WriteFile(copier, record);
    qvtest::WriteFile(bin / "x-terminal-emulator", record);
    fs::permissions(copier, fs::perms::owner_all);
    fs::permissions(bin / "x-terminal-emulator", fs::perms::owner_all);
    struct RemoveCopier {
        fs::path p;
        ~RemoveCopier() { fs::remove(p); }
    } remove{copier};

    // Without a desktop the copier runs by itself, with the argument text as one argument.
    Shell("XCOPY.EXE C:\\QV Win32\\*.* E:\\\\QVNWin32  /s/d/y");
    EXPECT_EQ(AwaitFile(out), "1|C:\\QV Win32\\*.* E:\\\\QVNWin32  /s/d/y|");
    fs::remove(out);

    // With a desktop it runs inside a terminal window, which stays open after a failure.
    const std::string path = std::getenv("PATH");
    setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
    setenv("DISPLAY", ":97", 1);
    Shell("xcopy C:\\a\\*.* D:\\b /T/Y");
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(AwaitFile(out), "4|-e|" + copier.string() + "|--pause-on-failure|C:\\a\\*.* D:\\b /T/Y|");
}

}  // namespace
