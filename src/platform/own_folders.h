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
// XDG_STATE_HOME, TMPDIR and SQLITE_TMPDIR that names a folder another login may change is dropped
// (HOME becomes root's own home; the others fall back to their defaults below it, or to /tmp), and
// the system log says so. This process and the programs it starts then read no configuration or
// settings and make no temporary file in that login's folders. Nothing changes for another user.
void KeepRootToItsOwnFolders();

}  // namespace platform
