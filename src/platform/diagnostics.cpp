// --help and --version, the system log line, and the start-up logging category.
#include "platform/diagnostics.h"

#include <syslog.h>

#include <QLoggingCategory>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <mutex>

Q_LOGGING_CATEGORY(lcStartup, "qvutil.startup", QtInfoMsg)

namespace platform {

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

void LogDetail(const std::string &text) { qCDebug(lcStartup).noquote() << text.c_str(); }

}  // namespace platform
