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
// Whether standard error (`error`) or output is the journal that a service's output goes to (systemd
// names it in JOURNAL_STREAM), which LogEvent's lines reach too.
bool StreamIsJournal(bool error);

// Detail and warnings for support staff, each under a category. They go to the sink that the program
// sets (qvutil: Qt's logging, where QT_LOGGING_RULES="qvutil.*=true" shows the detail); without one, a
// warning goes to standard error as "<category>: <text>" and detail nowhere.
inline constexpr const char *kStartupLog = "qvutil.startup";
inline constexpr const char *kConfigLog = "qvutil.config";
struct LogSink {
    bool (*detailWanted)(const char *category);
    void (*write)(const char *category, bool warning, const std::string &text);
};
void SetLogSink(const LogSink &sink);
// Whether detail of `category` is shown (a caller may then spend time on it).
bool DetailWanted(const char *category);
void LogDetail(const std::string &text, const char *category = kStartupLog);
void LogWarning(const std::string &text, const char *category);

}  // namespace platform
