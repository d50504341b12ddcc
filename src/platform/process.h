#pragma once
// Starting programs.
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// Starts a program by a Windows command line, detached, and never waits for it.
// A command line whose program is "xcopy" starts qvutil's own copier, qvxcopy, installed beside
// the running executable, with the same arguments text. Raises 53 when the program cannot be found.
void Shell(std::string_view commandLine);

// Tests: record started command lines instead of starting them; an empty function restores Shell.
void SetShellRecorderForTests(std::function<void(const std::string &commandLine)> recorder);

}  // namespace platform
