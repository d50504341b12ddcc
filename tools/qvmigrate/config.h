#pragma once
// The configuration file the tools read their drive map from: INI through QSettings, one top-level key
// per drive letter ("C=/srv/qv/c") and an optional ProgramFolder ("C:\QVNWin32").
#include <filesystem>
#include <optional>
#include <string>

namespace qvmigrate {

// $XDG_CONFIG_HOME/quorvant/qvutil.conf, else ~/.config/quorvant/qvutil.conf.
std::filesystem::path UserConfigFile();

// The folder a drive letter stands for in the file; nullopt when the file does not map it.
std::optional<std::filesystem::path> ConfiguredDrive(const std::filesystem::path &file, char letter);

// Maps `letter` to `folder` and sets the program folder, keeping every other key; the file is replaced
// atomically. Returns the folder the letter stood for before ("" when none). Throws on failure.
std::string UpdateConfig(const std::filesystem::path &file, char letter, const std::filesystem::path &folder,
                         const std::string &programFolder);

}  // namespace qvmigrate
