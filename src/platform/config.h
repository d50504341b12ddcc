#pragma once
// The utility's configuration: the drive map and the program folder.
//
// Read from the configuration files, each in QSettings INI form, the later file over the earlier
// one key by key: /etc/quorvant/qvutil.conf, then $XDG_CONFIG_HOME/quorvant/qvutil.conf (~/.config
// when XDG_CONFIG_HOME is unset). The settings stand at the top of a file or under [General]:
//
//   C=/srv/qv/c                  one key per drive letter: the Linux folder the drive stands for
//   ProgramFolder=C:\QVNWin32    the program folder as a Windows path (optional)
//   BackupGenerations=7          how many earlier states a backup destination keeps (1 to 999)
//   BackupDestination=E:\Backups where an unattended backup goes (qvutil QBU --unattended)
//
// A file is taken only when it is the running user's own (or root's) and not reached through a link
// of another login; run as root, also only when no other login may change it or a folder above it
// (own_folders.h). Another file is passed over, which the system log says, and nothing of its
// content is read.
//
// A value may stand between double quotes (C="/srv/qv c"); backslashes are taken as written, a doubled
// one (as QSettings writes it) counting once. A file larger than 1 MB is no configuration file and is
// refused.
//
// QUORVANT_DRIVES ("C=/srv/qv/c;E=/media/backup") replaces the drive map of the files and
// QUORVANT_PROGRAM_FOLDER their program folder. With no drive mapped anywhere, C: is "/".
// QUORVANT_SYSTEM_CONFIG names another file in place of /etc/quorvant/qvutil.conf: the tests point it
// at none, so that the machine's own configuration never reaches them.
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

struct Drive {
    char letter;                  // upper case
    std::filesystem::path folder; // the Linux folder the drive stands for
};

struct Configuration {
    std::vector<Drive> drives;                 // in letter order
    std::string programFolder;                 // Windows path as written; empty when not configured
    bool driveMapped = false;                  // a drive is mapped (else C: is "/")
    int backupGenerations = 7;                 // earlier states that a backup destination keeps
    std::string backupDestination;             // Windows path; empty when not configured
    std::vector<std::filesystem::path> files;  // the configuration files that were read
};

// The configuration files in reading order (whether they exist or not).
std::vector<std::filesystem::path> ConfigurationFiles();

// Reads the existing ones of `files` and the two variables. A file that cannot be read, a malformed
// line or entry, or a program folder on a drive that the map lacks raises Error 5 whose description
// names the file and line (or the variable) and says what is wrong.
Configuration ReadConfiguration(const std::vector<std::filesystem::path> &files);

}  // namespace platform
