// The drive map read from the configuration, and Windows paths turned into Linux ones and back
// (components found without regard to case, trailing blanks and dots dropped).
#include "platform/paths.h"
#include "platform/ascii.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/config.h"
#include "platform/error.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

std::mutex mapMutex;
std::string configKey;  // the variables' texts the cached configuration was read with
bool configRead = false;
std::shared_ptr<const Configuration> config;
std::optional<Error> configError;
std::string appPathOverride;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool Exists(const fs::path &p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0;
}

bool IsFolder(const fs::path &p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The entry of `folder` whose name equals `name` without regard to case (the first in byte order when
// several do); empty when there is none.
std::string FindNoCase(const fs::path &folder, const std::string &name) {
    DIR *dir = ::opendir(folder.c_str());
    if (!dir) return {};
    std::string found;
    while (const dirent *e = ::readdir(dir)) {
        const std::string_view entry = e->d_name;
        if (EqualsNoCase(entry, name) && (found.empty() || entry < found)) found = entry;
    }
    ::closedir(dir);
    return found;
}

// As Windows does: the trailing blanks and dots of a component are dropped.
std::string CleanComponent(std::string_view c) {
    while (!c.empty() && (c.back() == ' ' || c.back() == '.')) c.remove_suffix(1);
    return std::string(c);
}

// The components of a path's text after its root, with "." dropped and ".." applied (never above the root).
std::vector<std::string> Components(std::string_view rest) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < rest.size()) {
        size_t j = i;
        while (j < rest.size() && !IsSeparator(rest[j])) ++j;
        const std::string_view raw = rest.substr(i, j - i);
        i = j + 1;
        if (raw == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        std::string c = CleanComponent(raw);
        if (!c.empty()) parts.push_back(std::move(c));
    }
    return parts;
}

// Joins components to a base folder; when the exact path does not exist, each missing component is
// looked up without regard to case among the entries of the folder above it.
fs::path Resolve(const fs::path &base, const std::vector<std::string> &parts) {
    fs::path exact = base;
    for (const auto &c : parts) exact /= c;
    if (parts.empty() || Exists(exact)) return exact;
    fs::path p = base;
    bool searching = true;
    for (const auto &c : parts) {
        if (searching && !Exists(p / c)) {
            const std::string match = FindNoCase(p, c);
            if (match.empty())
                searching = false;  // nothing below a missing component can exist
            else {
                p /= match;
                continue;
            }
        }
        p /= c;
    }
    return p;
}

const Drive *FindDrive(const std::vector<Drive> &drives, char letter) {
    for (const auto &d : drives)
        if (d.letter == UpperChar(letter)) return &d;
    return nullptr;
}

// The drive whose folder is the longest prefix of an absolute, normal path, and the rest after it.
const Drive *DriveOf(const std::vector<Drive> &drives, const fs::path &p, fs::path &rest) {
    const Drive *best = nullptr;
    size_t bestLength = 0;
    for (const auto &d : drives) {
        const fs::path rel = p.lexically_relative(d.folder);
        if (rel.empty() || *rel.begin() == "..") continue;
        const size_t length = d.folder.native().size();
        if (!best || length > bestLength) {
            best = &d;
            bestLength = length;
            rest = rel;
        }
    }
    return best;
}

std::string WindowsText(char letter, const fs::path &rest) {
    std::string out = std::string(1, letter) + ":\\";
    bool first = true;
    for (const auto &c : rest) {
        if (c == ".") continue;
        if (!first) out += '\\';
        out += c.string();
        first = false;
    }
    return out;
}

[[noreturn]] void RaiseUnmapped(char letter) {
    Raise(68, ErrorDescription(68) + ": drive " + std::string(1, UpperChar(letter)) +
                  ": is not mapped (a line such as " + std::string(1, UpperChar(letter)) +
                  "=/media/backup in qvutil.conf, or in QUORVANT_DRIVES, maps it)");
}

fs::path CurrentFolder() {
    std::error_code ec;
    fs::path p = fs::current_path(ec);
    return ec ? fs::path("/") : p;
}

std::string EnvText(const char *name) {
    const char *v = std::getenv(name);
    return v ? v : "";
}

// The configuration in force, read again only when a variable that it depends on has changed (so
// tests may set them at any time). A configuration that cannot be read fails every use.
std::shared_ptr<const Configuration> CurrentConfiguration() {
    std::string key;
    for (const char *name :
         {"QUORVANT_DRIVES", "QUORVANT_PROGRAM_FOLDER", "QUORVANT_SYSTEM_CONFIG", "XDG_CONFIG_HOME", "HOME"})
        key += EnvText(name) + '\n';
    std::lock_guard<std::mutex> lock(mapMutex);
    if (!configRead || key != configKey) {
        configKey = key;
        configRead = true;
        try {
            config = std::make_shared<const Configuration>(ReadConfiguration(ConfigurationFiles()));
            configError.reset();
        } catch (const Error &e) {
            config.reset();
            configError = e;
        }
    }
    if (configError) throw *configError;
    return config;
}

std::shared_ptr<const std::vector<Drive>> DriveMap() {
    auto c = CurrentConfiguration();
    return {c, &c->drives};
}

}  // namespace

std::vector<Drive> Drives() { return *DriveMap(); }

int BackupGenerations() { return CurrentConfiguration()->backupGenerations; }

std::string BackupDestination() { return CurrentConfiguration()->backupDestination; }

fs::path MapPath(std::string_view windowsPath) {
    const auto map = DriveMap();
    const std::vector<Drive> &drives = *map;
    std::string_view s = windowsPath;
    if (s.size() >= 2 && s[1] == ':' && std::isalpha(static_cast<unsigned char>(s[0]))) {
        const Drive *d = FindDrive(drives, s[0]);
        if (!d) RaiseUnmapped(s[0]);
        std::string_view rest = s.substr(2);
        if (!rest.empty() && IsSeparator(rest.front())) return Resolve(d->folder, Components(rest));
        // "X:a\b" is relative to the drive's current folder.
        return MapPath(CurDir(d->letter) + "\\" + std::string(rest));
    }
    if (!s.empty() && IsSeparator(s.front())) {
        const Drive *d = FindDrive(drives, CurrentDrive());
        if (!d) RaiseUnmapped(CurrentDrive());
        return Resolve(d->folder, Components(s));
    }
    // Relative to the current folder; ".." may climb up to the drive's root (or "/" off the drives).
    const fs::path cwd = CurrentFolder();
    fs::path rest;
    const Drive *d = DriveOf(drives, cwd, rest);
    const fs::path root = d ? d->folder : fs::path("/");
    std::string text = d ? rest.string() : cwd.relative_path().string();
    return Resolve(root, Components(text + "/" + std::string(s)));
}

fs::path MapBelow(const fs::path &folder, std::string_view pathBelowDrive) {
    return Resolve(folder, Components(pathBelowDrive));
}

std::string WindowsPath(const fs::path &linuxPath) {
    const auto map = DriveMap();
    const std::vector<Drive> &drives = *map;
    const fs::path p = fs::absolute(linuxPath).lexically_normal();
    fs::path rest;
    if (const Drive *d = DriveOf(drives, p, rest)) return WindowsText(d->letter, rest);
    // Drive folders given through symbolic links: compare the real paths.
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(p, ec);
    if (!ec) {
        const Drive *best = nullptr;
        size_t bestLength = 0;
        fs::path bestRest;
        for (const auto &d : drives) {
            const fs::path folder = fs::weakly_canonical(d.folder, ec);
            if (ec) continue;
            const fs::path rel = real.lexically_relative(folder);
            if (rel.empty() || *rel.begin() == "..") continue;
            if (!best || folder.native().size() > bestLength) {
                best = &d;
                bestLength = folder.native().size();
                bestRest = rel;
            }
        }
        if (best) return WindowsText(best->letter, bestRest);
    }
    Raise(76, ErrorDescription(76) + ": '" + p.string() + "' lies on no drive that the drive map (qvutil.conf or QUORVANT_DRIVES) maps");
}

std::string ShownPath(const fs::path &linuxPath) {
    try {
        return WindowsPath(linuxPath);
    } catch (const Error &) {
        return linuxPath.string();
    }
}

std::string Message(const Error &e, std::initializer_list<std::string_view> named) {
    if (e.file.empty()) return e.Text({});
    const auto isTheFile = [&](std::string_view windowsName) {  // however the sentence spells it
        try {
            return (MapPath(windowsName) / "").lexically_normal() == (e.file / "").lexically_normal();
        } catch (const Error &) {
            return false;
        }
    };
    const bool namedAlready = !e.refusedLink && std::any_of(named.begin(), named.end(), isTheFile);
    return WithDriveNote(e.Text(namedAlready ? std::string() : ShownPath(e.file)), e.file);
}

std::string JoinedPath(std::string_view folder, std::string_view name) {
    std::string joined(folder);
    while (!joined.empty() && (joined.back() == '\\' || joined.back() == '/')) joined.pop_back();
    if (!name.empty()) return joined + "\\" + std::string(name);
    return joined.size() == 2 && joined[1] == ':' ? joined + "\\" : joined;
}

std::string WithDriveNote(std::string message, const fs::path &linuxPath) {
    std::shared_ptr<const Configuration> c;
    try {
        c = CurrentConfiguration();
    } catch (const Error &) {
        return message;
    }
    std::error_code ec;
    const fs::path p = fs::absolute(linuxPath, ec).lexically_normal();
    if (!c->driveMapped) {  // nobody configured the installation: its files are looked for below "/"
        const auto files = ConfigurationFiles();
        std::string where = files.front().string() + (fs::exists(files.front(), ec) ? "" : ", which does not exist");
        if (files.size() > 1) where += ", nor in " + files.back().string();
        return "qvutil is not configured: no drive is mapped" +
               std::string(c->programFolder.empty() ? " and no program folder is named" : "") + " in " + where +
               ". An administrator adds to " + files.front().string() +
               " lines such as C=/srv/qv/c (the Linux folder that stands for drive C:) and ProgramFolder=C:\\QVNWin32 "
               "(the folder of global.mdb).\n\nWithout them the program looked in its own folder: " + message;
    }
    fs::path rest;
    const Drive *d = ec ? nullptr : DriveOf(c->drives, p, rest);
    if (!d) return message;
    struct stat st {};
    std::string state;
    if (::stat(d->folder.c_str(), &st) != 0)
        state = errno == ENOENT || errno == ENOTDIR ? std::string("which does not exist")
                                                    : "which cannot be reached (" + std::string(std::strerror(errno)) + ")";
    else if (!S_ISDIR(st.st_mode))
        state = "which is not a folder";
    else
        return message;
    if (!message.empty() && message.back() != '.') message += '.';
    return message + " Drive " + std::string(1, d->letter) + ": is mapped to the Linux folder " + d->folder.string() + ", " +
           state + ".";
}

std::string AppPath() {
    {
        std::lock_guard<std::mutex> lock(mapMutex);
        if (!appPathOverride.empty()) return appPathOverride;
    }
    if (const auto c = CurrentConfiguration(); !c->programFolder.empty())
        return WindowsPath(MapPath(c->programFolder));  // as the folder is spelt on disk
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) Raise(76);
    const auto c = CurrentConfiguration();
    fs::path rest;
    if (!c->driveMapped || DriveOf(c->drives, exe.parent_path(), rest)) return WindowsPath(exe.parent_path());
    // Drives are mapped, but not the one of the executable's folder (a packaged install under /usr), and
    // no program folder is named: which line is missing, and in which file, as for an unconfigured one.
    const auto files = ConfigurationFiles();
    std::string where = files.front().string() + (fs::exists(files.front(), ec) ? "" : ", which does not exist");
    if (files.size() > 1) where += ", nor in " + files.back().string();
    std::string letters;
    for (const Drive &d : c->drives) letters += std::string(letters.empty() ? "" : ", ") + d.letter + ":";
    Raise(76, "qvutil is not fully configured: no program folder is named in " + where + ", and the folder of this "
              "program, " + exe.parent_path().string() + ", lies on none of the drives mapped (" + letters +
              "). An administrator adds to " + files.front().string() + " the line ProgramFolder=C:\\QVNWin32 (the "
              "folder of global.mdb) and, when its drive is not mapped yet, that drive's line, such as C=/srv/qv/c.");
}

void SetAppPathForTests(const std::string &windowsPath) {
    std::lock_guard<std::mutex> lock(mapMutex);
    appPathOverride = windowsPath;
}

char CurrentDrive() {
    const auto map = DriveMap();
    const std::vector<Drive> &drives = *map;
    fs::path rest;
    if (const Drive *d = DriveOf(drives, CurrentFolder(), rest)) return d->letter;
    if (FindDrive(drives, 'C') || drives.empty()) return 'C';
    return drives.front().letter;
}

bool CurrentFolderOnADrive() {
    const auto map = DriveMap();
    fs::path rest;
    return DriveOf(*map, CurrentFolder(), rest) != nullptr;
}

std::string CurDir() {
    try {
        return WindowsPath(CurrentFolder());
    } catch (const Error &) {
        return std::string(1, CurrentDrive()) + ":\\";
    }
}

std::string CurDir(char drive) {
    const auto map = DriveMap();
    const std::vector<Drive> &drives = *map;
    const Drive *d = FindDrive(drives, drive);
    if (!d) RaiseUnmapped(drive);
    if (!IsFolder(d->folder)) Raise(68, WithDriveNote(ErrorDescription(68), d->folder));
    fs::path rest;
    const Drive *current = DriveOf(drives, CurrentFolder(), rest);
    if (current && current->letter == d->letter) return WindowsText(d->letter, rest);
    return std::string(1, d->letter) + ":\\";
}

}  // namespace platform
