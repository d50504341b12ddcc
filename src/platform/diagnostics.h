#pragma once
// Diagnostics for support staff: the version, the system log, start-up detail.
#include <string>

namespace platform {

// The utility's version ("1.0.0").
const char *Version();

// When the whole command line is "--help" or "--version": prints `usage`, or the program's name and
// version, on standard output and returns true (the program then exits with status 0). Needs no
// display and reads no settings.
bool PrintHelpOrVersion(int argc, char **argv, const char *program, const char *usage);

// Writes one line to the system log through syslog(3), under the program's name as its ident (so
// `journalctl -t qvutil` shows it); line breaks in `text` become blanks. `problem` logs it as an
// error, else as a notice.
void LogEvent(const std::string &text, bool problem = false);

// Start-up detail under the Qt logging category "qvutil.startup", shown only when enabled, for
// example with QT_LOGGING_RULES="qvutil.*=true".
void LogDetail(const std::string &text);

}  // namespace platform
