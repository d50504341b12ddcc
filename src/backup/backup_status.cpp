// The record of the last backup: "key=value" lines in "<program folder>/.qvutil-last-backup".
#include "backup/backup_status.h"

#include <sstream>

#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace backup {

namespace {

constexpr const char *kName = ".qvutil-last-backup";
constexpr std::size_t kMaxBytes = 16 * 1024;

std::string Stamp(platform::DateTime t) { return platform::Format(t, "yyyy-mm-dd hh:nn:ss"); }
std::string Shown(platform::DateTime t) { return platform::Format(t, "mm/dd/yyyy hh:nn"); }

std::string OneLine(std::string text) {
    for (char &c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

void RecordLastBackup(const std::string &programFolder, LastBackup last) {
    try {
        if (last.good)
            last.lastGood = last.ended;
        else if (const auto earlier = ReadLastBackup(programFolder))
            last.lastGood = earlier->lastGood;
        std::string text = "ended=" + Stamp(last.ended) + "\ngood=" + (last.good ? "1" : "0") +
                           "\nunattended=" + (last.unattended ? "1" : "0") + "\ndestination=" +
                           OneLine(last.destination) + "\nreason=" + OneLine(last.reason) + "\n";
        if (last.lastGood) text += "lastgood=" + Stamp(*last.lastGood) + "\n";
        platform::WriteWholeFile(platform::JoinedPath(programFolder, kName), text);
    } catch (const platform::Error &e) {
        platform::LogEvent("the record of the last backup could not be written in " + programFolder + ": " +
                               platform::Message(e), true);
    }
}

std::optional<LastBackup> ReadLastBackup(const std::string &programFolder) {
    const std::optional<std::string> read = platform::ReadSmallFile(platform::JoinedPath(programFolder, kName), kMaxBytes);
    if (!read) return std::nullopt;
    const std::string &text = *read;
    LastBackup last;
    bool ended = false;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "ended" || key == "lastgood") {
            const auto when = platform::RecognizeDate(value);
            if (!when) continue;
            if (key == "ended") last.ended = *when, ended = true;
            else last.lastGood = *when;
        } else if (key == "good") {
            last.good = value == "1";
        } else if (key == "unattended") {
            last.unattended = value == "1";
        } else if (key == "destination") {
            last.destination = value;
        } else if (key == "reason") {
            last.reason = value;
        }
    }
    if (!ended) return std::nullopt;
    return last;
}

std::string LastBackupText(const LastBackup &last, platform::DateTime now, bool &alarm, std::size_t reasonAtMost) {
    const std::string kind = last.unattended ? "The nightly backup" : "The last backup";
    std::string reason = last.reason;
    if (reason.size() > reasonAtMost) {  // cut after a word, the rest told elsewhere
        const std::size_t blank = reason.rfind(' ', reasonAtMost);
        reason = reason.substr(0, blank == std::string::npos ? reasonAtMost : blank) + " ...";
    }
    std::string text = kind + " into " + last.destination + " of " + Shown(last.ended) +
                       (last.good ? " was checked good." : " failed: " + reason);
    if (!last.good)
        text += last.lastGood ? " The last good backup is of " + Shown(*last.lastGood) + "." : " No backup was checked good yet.";
    // Since the last good backup, or since this failed one when none was good.
    const auto since = last.good ? last.ended : last.lastGood.value_or(last.ended);
    alarm = now - since > std::chrono::hours(48);
    return text;
}

}  // namespace backup
