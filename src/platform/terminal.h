#pragma once
// The process's terminal.

namespace platform {

// True when standard output is a terminal (the process runs in a terminal window).
bool StdoutIsTerminal();

}  // namespace platform
