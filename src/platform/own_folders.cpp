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
    const auto other = [](const char *variable) {
        const char *value = std::getenv(variable);
        if (!value || !*value || OnlyOwnersMayChange(value)) return false;
        LogEvent(std::string(variable) + "=" + value + " is not used: another login may change that folder");
        return true;
    };
    if (other("HOME")) {
        const struct passwd *pw = ::getpwuid(0);
        ::setenv("HOME", pw && pw->pw_dir && OnlyOwnersMayChange(pw->pw_dir) ? pw->pw_dir : "/", 1);
    }
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "TMPDIR", "SQLITE_TMPDIR"})
        if (other(variable)) ::unsetenv(variable);
}

}  // namespace platform
