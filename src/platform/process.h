#pragma once
// Starting programs.
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// The copier's first argument when it runs in a terminal window of its own: after a failure it waits
// for Enter before it ends, so that its window stays open with the error.
inline constexpr const char *kCopierPauseOnFailure = "--pause-on-failure";

// Starts a program by a Windows command line, detached, and never waits for it.
// A command line whose program is "xcopy" starts qvutil's own copier, qvxcopy, installed beside
// the running executable, with the same arguments text; in a terminal window (when a desktop is
// there), with kCopierPauseOnFailure before the text. Raises 53 when the program cannot be found.
void Shell(std::string_view commandLine);

// Tests: record started command lines instead of starting them; an empty function restores Shell.
void SetShellRecorderForTests(std::function<void(const std::string &commandLine)> recorder);

}  // namespace platform
