// --help and --version, the system log line, and the sink of detail and warnings.
#include "platform/diagnostics.h"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>

namespace platform {

namespace {

bool NoDetail(const char *) { return false; }

void ToStandardError(const char *category, bool warning, const std::string &text) {
    if (warning) std::cerr << category << ": " << text << std::endl;
}

LogSink g_sink{NoDetail, ToStandardError};

}  // namespace

const char *Version() { return QVUTIL_VERSION; }

bool PrintHelpOrVersion(int argc, char **argv, const char *program, const char *usage) {
    if (argc != 2) return false;
    if (std::strcmp(argv[1], "--help") == 0)
        std::cout << usage << std::flush;
    else if (std::strcmp(argv[1], "--version") == 0)
        std::cout << program << ' ' << Version() << std::endl;
    else
        return false;
    return true;
}

void LogEvent(const std::string &text, bool problem) {
    static std::once_flag opened;
    std::call_once(opened, [] { ::openlog(program_invocation_short_name, LOG_PID, LOG_USER); });
    std::string line;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            if (!line.empty() && line.back() != ' ') line += ' ';
        } else {
            line += c;
        }
    }
    ::syslog(problem ? LOG_ERR : LOG_NOTICE, "%s", line.c_str());
}

bool StreamIsJournal(bool error) {
    const char *journal = std::getenv("JOURNAL_STREAM");
    struct stat st {};
    return journal && ::fstat(error ? STDERR_FILENO : STDOUT_FILENO, &st) == 0 &&
           journal == std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

void SetLogSink(const LogSink &sink) { g_sink = sink; }

bool DetailWanted(const char *category) { return g_sink.detailWanted(category); }

void LogDetail(const std::string &text, const char *category) {
    if (DetailWanted(category)) g_sink.write(category, false, text);
}

void LogWarning(const std::string &text, const char *category) { g_sink.write(category, true, text); }

}  // namespace platform
