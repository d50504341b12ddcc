// Folders that only the running user and root may change, and root's environment kept to them.
#include "platform/own_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/safe_file.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

// Each path component is looked at without following links; a link that may be followed is walked
// through, to the depth the kernel allows.
bool OnlyOwnersMayChange(const fs::path &path, int links) {
    if (!path.is_absolute() || links > 40) return false;
    const fs::path relative = path.relative_path();
    const std::vector<fs::path> parts(relative.begin(), relative.end());
    fs::path at = "/";
    for (std::size_t i = 0;; ++i) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0) return errno == ENOENT;  // what is missing the running user will make
        if (!MayFollowLink(st.st_uid)) return false;
        if (S_ISLNK(st.st_mode)) {
            std::error_code ec;
            const fs::path to = fs::read_symlink(at, ec);
            if (ec) return false;
            fs::path rest = to.is_absolute() ? to : at.parent_path() / to;
            for (std::size_t j = i; j < parts.size(); ++j) rest /= parts[j];
            return OnlyOwnersMayChange(rest, links + 1);
        }
        const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        if (othersWrite && !(S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX))) return false;
        // Past the folder, step by step; ".." is the parent of the folder reached, links already followed.
        while (i < parts.size() && (parts[i] == "." || parts[i].empty())) ++i;
        if (i == parts.size()) return true;
        at = parts[i] == ".." ? at.parent_path() : at / parts[i];
    }
}

}  // namespace

bool OnlyOwnersMayChange(const fs::path &path) { return OnlyOwnersMayChange(path, 0); }

void KeepRootToItsOwnFolders() {
    if (::geteuid() != 0) return;
    std::string dropped;  // said once, when anything was
    // Whether root may use `folder`: it exists (a missing one another login could make later) and only
    // its owners may change it.
    const auto own = [&](const char *variable, const std::string &folder) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) == 0 && OnlyOwnersMayChange(folder)) return true;
        dropped += (dropped.empty() ? "" : " ") + std::string(variable) + "=" + folder;
        return false;
    };
    const auto single = [&](const char *variable) {
        const char *value = std::getenv(variable);
        return value && *value && !own(variable, value);
    };
    if (single("HOME")) {
        const struct passwd *pw = ::getpwuid(0);
        ::setenv("HOME", pw && pw->pw_dir && OnlyOwnersMayChange(pw->pw_dir) ? pw->pw_dir : "/", 1);
    }
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR",
                                 "TMPDIR", "SQLITE_TMPDIR", "QT_QPA_FONTDIR", "FONTCONFIG_FILE"})
        if (single(variable)) ::unsetenv(variable);
    // Lists of folders (configuration, data, plugins, fonts, cursors, character sets, locales): each
    // entry by the same rule; a list left empty falls back to its default.
    for (const char *variable : {"XDG_CONFIG_DIRS", "XDG_DATA_DIRS", "QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH",
                                 "FONTCONFIG_PATH", "XCURSOR_PATH", "GCONV_PATH", "LOCPATH"}) {
        const char *value = std::getenv(variable);
        if (!value || !*value) continue;
        std::string kept, list = value;
        for (std::size_t from = 0; from <= list.size();) {
            std::size_t to = list.find(':', from);
            if (to == std::string::npos) to = list.size();
            const std::string entry = list.substr(from, to - from);
            if (!entry.empty() && own(variable, entry)) kept += (kept.empty() ? "" : ":") + entry;
            from = to + 1;
        }
        if (kept == list) continue;
        kept.empty() ? ::unsetenv(variable) : ::setenv(variable, kept.c_str(), 1);
    }
    if (!dropped.empty())
        LogEvent("not used, as they do not exist yet or another login may change them: " + dropped);
}

}  // namespace platform
