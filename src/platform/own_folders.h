#pragma once
// What a process run as root takes from an environment that another login may have handed it (su
// without "-", sudo -E): folders named there are used only when no other login may change them.
#include <filesystem>

namespace platform {

// Whether no login but the running user and root may change what `path` names: it and each folder
// above it belong to one of them, a folder that its group or others may write has the sticky bit,
// and a file is written by its owner alone. A link on the way counts when it may be followed (safe_file.h)
// and then as what it names. The part of `path` that does not exist yet counts as its nearest existing
// folder. A relative path does not count.
bool OnlyOwnersMayChange(const std::filesystem::path &path);

// Run as root (effective user id 0): each of HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_DATA_HOME,
// XDG_STATE_HOME, XDG_RUNTIME_DIR, TMPDIR, SQLITE_TMPDIR, QT_QPA_FONTDIR and FONTCONFIG_FILE that names
// a folder (or file) that does not exist, or that another login may change, is dropped (HOME becomes
// root's own home; the others fall back to their defaults below it, or to /tmp); of the lists
// XDG_CONFIG_DIRS, XDG_DATA_DIRS, QT_PLUGIN_PATH, QT_QPA_PLATFORM_PLUGIN_PATH, FONTCONFIG_PATH,
// XCURSOR_PATH, GCONV_PATH and LOCPATH, each such entry (a list left empty is dropped). One line in the
// system log names what was dropped. This process and the programs it starts then read no
// configuration, settings, plugins or fonts and make no temporary file in that login's folders, nor in
// one that login makes later. Nothing changes for another user.
void KeepRootToItsOwnFolders();

}  // namespace platform
