#pragma once
// Windows-style paths mapped onto Linux folders.
//
// The drive map and the program folder come from the configuration (config.h): the files
// /etc/quorvant/qvutil.conf and ~/.config/quorvant/qvutil.conf, QUORVANT_DRIVES ("C=/srv/qv/c;E=/media/backup")
// and QUORVANT_PROGRAM_FOLDER over them; nothing set means "C=/". It is read again whenever one of
// those variables changes, so tests may set them at any time. Every function here raises the
// configuration's error (5, naming the file and line) while it is malformed.
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/config.h"
#include "platform/error.h"

namespace platform {

// The mapped drives, in letter order.
std::vector<Drive> Drives();

// Maps a Windows path ("X:\a\b", "\a\b" on the current drive, "a\b" relative to the current folder;
// "\" and "/" both separate; doubled separators are harmless; trailing blanks and dots of each
// component are dropped; existing components are matched without regard to case when no exact match
// exists). Raises 68 (Device unavailable) for a drive that is not mapped, naming the drive letter.
std::filesystem::path MapPath(std::string_view windowsPath);

// Maps the part of a Windows path after its drive ("\a\b") below `folder` as MapPath maps it below a
// drive's folder: trailing blanks and dots dropped, existing components matched without regard to case.
std::filesystem::path MapBelow(const std::filesystem::path &folder, std::string_view pathBelowDrive);

// The reverse map: "X:\..." through the drive whose folder is the longest prefix of `linuxPath`
// ("X:\" for the drive's folder itself). Raises 76 (Path not found) when no drive holds it.
std::string WindowsPath(const std::filesystem::path &linuxPath);
// A path as messages name it: its Windows form, or the Linux path itself when no drive holds it.
std::string ShownPath(const std::filesystem::path &linuxPath);

// `folder` & "\" & `name` without a doubled separator where `folder` ends in one (a folder stored with
// a trailing "\", a drive root): "C:\Data\" and "x.mdb" give "C:\Data\x.mdb". An empty `name` gives
// the folder without its trailing separator, a drive root keeping its own ("C:\").
std::string JoinedPath(std::string_view folder, std::string_view name);

// `message` followed, when the drive that holds `linuxPath` stands for a folder that is missing (or
// cannot be reached), by a sentence that names that folder: "... Drive C: is mapped to the Linux
// folder /srv/qv/c, which does not exist." Messages about files that could not be found or used take it.
// When no configuration maps a drive, the note names the configuration file to edit and what it lacks.
std::string WithDriveNote(std::string message, const std::filesystem::path &linuxPath);

// The words of `e` as the tools show it (Error::Text): the file it concerns (Error::file) named in its
// Windows form (ShownPath), followed by WithDriveNote. Where the caller's own sentence names that file
// already (`named` holds the Windows names it shows), the name is left out ("Unrecognized database
// format (the file is empty)."); a refused link is always named.
std::string Message(const Error &e, std::initializer_list<std::string_view> named = {});

// The program folder: the configured one as it is spelt on disk, else the folder of the running
// executable; a Windows path without a trailing backslash ("X:\" for a drive's root).
std::string AppPath();
// How many earlier states a backup destination keeps (BackupGenerations= of the configuration).
int BackupGenerations();
// Where an unattended backup goes (BackupDestination=); empty when the configuration names none.
std::string BackupDestination();
// Tests: make AppPath() report this Windows path; empty restores the real one.
void SetAppPathForTests(const std::string &windowsPath);

// The current drive and folder of the process (Windows paths; "X:\" for a drive root).
char CurrentDrive();
// Whether the process's current folder lies on a mapped drive.
bool CurrentFolderOnADrive();
std::string CurDir();
// The current folder of one drive: the process's current folder when it lies on that drive,
// else the drive's root. Raises 68 when the drive is not mapped or its folder is missing.
std::string CurDir(char drive);

}  // namespace platform
