#pragma once
// The configuration file the tools read their drive map from (platform/config.h): one top-level key per
// drive letter ("C=/srv/qv/c") and an optional ProgramFolder ("C:\QVNWin32"), read line by line.
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace qvmigrate {

// The system's configuration file, which every login's tools read (/etc/quorvant/qvutil.conf, or
// what QUORVANT_SYSTEM_CONFIG names), and the user's own, as the tools find them.
std::filesystem::path SystemConfigFile();
std::filesystem::path UserConfigFile();

// Where a migration maps the drive: the system's file when run as root, else the user's own.
std::filesystem::path DefaultConfigFile();

// Whose tools read the file, and how the clerks' logins get the drive map when they do not.
std::string WhoReadsConfig(const std::filesystem::path &file);

// The folder the file maps a drive letter to, read as the tools read the file; nullopt when it does not
// map it. Raises platform::Error (5, naming the file and line) for a file the tools refuse.
std::optional<std::filesystem::path> ConfiguredDrive(const std::filesystem::path &file, char letter);

// `text` with `letter` mapped to `folder` and ProgramFolder set to `programFolder`: the first line of
// each of these keys (its name matched without regard to case, as the tools match it) replaced, a later
// one (which the tools would refuse) made a comment, a missing one added at the end; every other line
// kept as written. A value that unquoted would read otherwise is written quoted.
std::string EditedConfig(const std::string &text, char letter, const std::string &folder, const std::string &programFolder);

// What a configuration file held before a run wrote it, to put back when the run fails.
struct ConfigBefore {
    bool existed = false;
    std::string text;
    mode_t mode = 0644;
    uid_t uid = 0;
    gid_t gid = 0;
};

// Writes EditedConfig of the file atomically (its folder made when missing; no link of another user
// followed), with the mode, owner and group it had (a new one 0644; as root, readable by every login).
// Returns what it held. Raises Failure (Run) naming the file and the reason.
ConfigBefore UpdateConfig(const std::filesystem::path &file, char letter, const std::filesystem::path &folder,
                          const std::string &programFolder);

// Puts the file back as it was (removes it when there was none). Throws as UpdateConfig.
void RestoreConfig(const std::filesystem::path &file, const ConfigBefore &before);

}  // namespace qvmigrate
