#pragma once
// How the last backup of an installation went, kept for the backup window to show: the window's own
// backups and the unattended ones each leave it, in the program folder under a hidden name (so no
// backup copies it), with the access of that folder, so every login of the office reads what the
// nightly run of another login left.
#include <optional>
#include <string>

#include "platform/clock.h"

namespace backup {

struct LastBackup {
    platform::DateTime ended{};
    bool good = false;
    bool unattended = false;
    std::string destination;  // Windows path, as chosen
    std::string reason;       // of a backup that was not made or not complete, in one line
    std::optional<platform::DateTime> lastGood;  // the last backup that was checked good
};

// Records `last` for the program folder `programFolder` (a Windows path); the last good backup of an
// earlier record stays when this one failed. A record that cannot be written is passed over (the
// system log says so): it never changes the outcome of the backup.
void RecordLastBackup(const std::string &programFolder, LastBackup last);

// The record, or none when there is none that can be read.
std::optional<LastBackup> ReadLastBackup(const std::string &programFolder);

// The window's line about `last` at `now`; `alarm` set when the last good backup is older than two days.
// `reasonAtMost`: the characters of the reason shown (a longer one is cut after a word).
std::string LastBackupText(const LastBackup &last, platform::DateTime now, bool &alarm,
                           std::size_t reasonAtMost = std::string::npos);

}  // namespace backup
