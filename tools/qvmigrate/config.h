#pragma once
// The configuration file the tools read their drive map from: INI through QSettings, one top-level key
// per drive letter ("C=/srv/qv/c") and an optional ProgramFolder ("C:\QVNWin32").
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

// The folder a drive letter stands for in the file; nullopt when the file does not map it.
std::optional<std::filesystem::path> ConfiguredDrive(const std::filesystem::path &file, char letter);

// Maps `letter` to `folder` and sets the program folder, keeping every other key; the file is replaced
// atomically. As root it is left readable by every login (0644). Returns the folder the letter stood
// for before ("" when none). Throws on failure.
std::string UpdateConfig(const std::filesystem::path &file, char letter, const std::filesystem::path &folder,
                         const std::string &programFolder);

}  // namespace qvmigrate
