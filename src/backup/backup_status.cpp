// The record of the last backup: "key=value" lines in "<program folder>/.qvutil-last-backup".
#include "backup/backup_status.h"

#include <fcntl.h>

#include <sstream>
#include <system_error>

#include "platform/diagnostics.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/safe_file.h"

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
        platform::AtomicFile file(platform::MapPath(programFolder) / kName, platform::Access::LikeFolder);
        if (const int err = platform::WriteFully(file.fd(), text.data(), text.size()))
            throw std::system_error(err, std::generic_category());
        file.Commit();
    } catch (const std::exception &e) {
        platform::LogEvent("the record of the last backup could not be written in " + programFolder + ": " + e.what(),
                           true);
    }
}

std::optional<LastBackup> ReadLastBackup(const std::string &programFolder) {
    std::string text(kMaxBytes, '\0');
    try {
        const platform::Fd fd = platform::OpenFile(platform::MapPath(programFolder) / kName, O_RDONLY | O_NONBLOCK);
        const ssize_t n = fd ? platform::ReadFully(fd.get(), text.data(), text.size()) : -1;
        if (n <= 0) return std::nullopt;
        text.resize(static_cast<std::size_t>(n));
    } catch (const std::exception &) {
        return std::nullopt;
    }
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

std::string LastBackupText(const LastBackup &last, platform::DateTime now, bool &alarm) {
    const std::string kind = last.unattended ? "The nightly backup" : "The last backup";
    std::string text = kind + " into " + last.destination + " of " + Shown(last.ended) +
                       (last.good ? " was checked good." : " failed: " + last.reason);
    if (!last.good)
        text += last.lastGood ? " The last good backup is of " + Shown(*last.lastGood) + "." : " No backup was checked good yet.";
    const auto good = last.good ? last.ended : last.lastGood.value_or(platform::DateTime{});
    alarm = now - good > std::chrono::hours(48);
    return text;
}

}  // namespace backup
