// qvutil QBU --unattended [DESTINATION]: the backup without a window, for a timer. Each result is one
// line on standard output and in the system log; a backup that was refused or is not complete ends
// with its reason on standard error and exit status 2 (not started) or 1 (not complete).
#include <iostream>
#include <string>
#include <vector>

#include "backup/backup_run.h"
#include "backup/backup_status.h"
#include "backup/frmQuorDBBkUp.h"
#include "platform/clock.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "startup/shared.h"

namespace backup {

namespace {

// The paragraphs of a message, each on one line.
std::vector<std::string> Lines(const std::string &message) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at <= message.size();) {
        std::size_t end = message.find("\n\n", at);
        if (end == std::string::npos) end = message.size();
        std::string line = message.substr(at, end - at);
        for (char &c : line)
            if (c == '\n') c = ' ';
        if (!line.empty()) lines.push_back(line);
        at = end + 2;
    }
    return lines;
}

// Writes `line` to standard error (`problem`) or output, unless that is the journal, which has the
// system log's line already.
void Print(const std::string &line, bool problem) {
    if (!platform::StreamIsJournal(problem)) (problem ? std::cerr : std::cout) << line << std::endl;
}

// Told like a backup that was not started, and recorded for the window (backup_status.h).
int Refuse(const BackupRequest &request, const std::string &why) {
    try {
        RecordLastBackup(platform::AppPath(), {platform::Now(), false, true, request.destination, why, {}});
    } catch (const platform::Error &) {
        // no program folder to record in: the log and standard error tell
    }
    platform::LogEvent("backup not started: " + why, true);
    Print("qvutil QBU --unattended: " + why, true);
    return 2;
}

}  // namespace

int RunUnattended(const std::vector<std::string> &arguments) {
    BackupRequest request;
    request.unattended = true;
    for (const std::string &a : arguments) request.destination += (request.destination.empty() ? "" : " ") + a;
    try {
        if (request.destination.empty()) request.destination = platform::BackupDestination();
        if (request.destination.empty())
            return Refuse(request, "no destination: name one (qvutil QBU --unattended E:\\Backups) or add the line "
                          "BackupDestination=E:\\Backups to /etc/quorvant/qvutil.conf.");
        if (request.destination.size() < 2 || request.destination[1] != ':')
            return Refuse(request, "the destination " + request.destination +
                          " is no Windows folder with its drive letter, such as E:\\Backups.");
        request.programFolder = platform::AppPath();
        startup::ReadSettings();
        request.dataFile = startup::Shared().DataFilePath;
        (void)platform::MapPath(request.destination);  // a drive that is not mapped is refused here
    } catch (const platform::Error &e) {
        return Refuse(request, platform::Message(e));
    }
    const BackupOutcome outcome = RunBackup(request);
    const std::vector<std::string> lines = Lines(outcome.message);
    const bool finished = outcome.kind == BackupOutcome::Finished;
    for (const std::string &line : lines) {
        Print(line, !finished);
        platform::LogEvent("backup: " + line, !finished);
    }
    if (finished) return 0;
    return outcome.kind == BackupOutcome::Refused ? 2 : 1;
}

}  // namespace backup
