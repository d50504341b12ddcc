// The configuration files and variables.
//
// The files are INI files as QSettings writes them, and also as people write them by hand. QSettings'
// own reading would take a backslash as an escape character (so a hand-written C:\QVNWin32, quoted or
// not, would lose its backslashes) and pass over any line it does not understand without a word. So
// every line is read here: each setting keeps its line for the messages, what QSettings would drop is
// refused, and a value is taken as written: unquoted up to a ";" comment, or between double quotes,
// where a doubled backslash (as QSettings writes one) counts once and \" stands for a quote.
#include "platform/config.h"
#include "platform/ascii.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>

#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/own_folders.h"
#include "platform/safe_file.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr const char *kDrivesVariable = "QUORVANT_DRIVES";
constexpr const char *kProgramFolderVariable = "QUORVANT_PROGRAM_FOLDER";
constexpr const char *kSystemFileVariable = "QUORVANT_SYSTEM_CONFIG";

// A setting and where it was written ("<file>, line <n>", or the variable's name).
struct Setting {
    std::string value;
    std::string where;
};

[[noreturn]] void Refuse(const std::string &where, const std::string &problem) { Raise(5, where + ": " + problem); }

std::string Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return std::string(s);
}

bool IsDriveLetter(const std::string &key) {
    return key.size() == 1 && std::isalpha(static_cast<unsigned char>(key[0]));
}

std::string EnvText(const char *name) {
    const char *v = std::getenv(name);
    return v ? Trim(v) : std::string();
}

// The folder a drive stands for, normalised and without a trailing "/"; refused, quoting the value as
// `written`, unless absolute.
std::string DriveFolder(const std::string &letter, const std::string &text, const std::string &where,
                        const std::string &written) {
    if (text.empty() || text.front() != '/')
        Refuse(where, "drive " + letter + ": must stand for an absolute Linux folder (one that starts with \"/\"), not \"" +
                          written + "\"");
    std::string folder = fs::path(text).lexically_normal().string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

// A program folder: a drive letter, ":" and "\" (or "/"), as in C:\QVNWin32.
std::string ProgramFolder(const std::string &text, const std::string &where, const std::string &written) {
    if (text.size() < 3 || !std::isalpha(static_cast<unsigned char>(text[0])) || text[1] != ':' ||
        (text[2] != '\\' && text[2] != '/'))
        Refuse(where, "the program folder must be a Windows folder with its drive letter, such as C:\\QVNWin32, not \"" +
                          written + "\"");
    return text;
}

// A value and its text as written (without its quotes), which refusals quote.
struct Value {
    std::string text;
    std::string written;
};

// True when only blanks or a ";" comment follow `from`.
bool EndsLine(const std::string &raw, std::size_t from) {
    const std::string rest = Trim(std::string_view(raw).substr(std::min(from, raw.size())));
    return rest.empty() || rest.front() == ';';
}

// The value of a line, `raw` being its text after the "=". Unquoted: up to a ";" that starts a comment.
// Quoted: up to the closing quote, which only blanks or a comment may follow; inside, "\\" is one
// backslash and \" a quote, except that a backslash before the quote that ends the line is itself
// ("C:\" is C:\). Any other backslash is itself.
Value ValueOf(const std::string &key, const std::string &raw, const std::string &where) {
    if (!raw.starts_with('"')) {
        Value v{Trim(raw.substr(0, raw.find(';'))), {}};
        v.written = v.text;
        for (std::size_t at = 0; (at = v.text.find("\\\\", at)) != std::string::npos; ++at) v.text.erase(at, 1);
        return v;
    }
    Value v;
    for (std::size_t i = 1; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"') {
            if (!EndsLine(raw, i + 1))
                Refuse(where, key + " must hold one value; after its closing quote comes " + Trim(raw.substr(i + 1)));
            v.written = raw.substr(1, i - 1);
            v.text = Trim(v.text);
            return v;
        }
        if (c == '\\' && i + 1 < raw.size() && (raw[i + 1] == '\\' || (raw[i + 1] == '"' && !EndsLine(raw, i + 2))))
            ++i;
        v.text += raw[i];
    }
    Refuse(where, "the value of " + key + " opens a quote that it does not close: " + raw);
}

struct FileSettings {
    std::map<char, Setting> drives;
    std::optional<Setting> programFolder;
    std::optional<int> backupGenerations;
    std::optional<std::string> backupDestination;
};

// A configuration file holds a few lines; anything much larger is not one.
constexpr std::size_t kMaxFileBytes = 1024 * 1024;

// Why a configuration file is not the running user's to take (empty when it is): reached through a
// link of another login, or belonging to another login; run as root, also when another login may
// change it or a folder above it. Its content is not read then.
std::string NotOwn(const fs::path &file, const struct stat &st) {
    if (!MayFollowLink(st.st_uid)) return "it belongs to another login";
    if (::geteuid() == 0 && !OnlyOwnersMayChange(file)) return "another login may change it or a folder above it";
    return {};
}

// The whole text of a configuration file, read from one descriptor: a regular file of at most
// kMaxFileBytes (no device, no pipe that would keep the reading waiting). Nothing for a file that
// does not exist, and for one that is not the running user's own (NotOwn), which is said in the log.
std::optional<std::string> FileText(const fs::path &file) {
    const auto fail = [&](const std::string &problem) { Refuse(file.string(), problem); };
    const auto failErrno = [&] { fail(std::string("cannot be read (") + std::strerror(errno) + ")"); };
    const auto tooLarge = [&](std::uintmax_t bytes) {
        fail("is too large for a configuration file (" + std::to_string(bytes) +
             " bytes; at most 1 MB): is it the right file?");
    };
    const auto passOver = [&](const std::string &why) {
        const std::string text = "configuration file " + file.string() + " not read: " + why;
        LogWarning(text, kConfigLog);
        LogEvent(text);
        return std::nullopt;
    };
    struct stat named {};
    if (::lstat(file.c_str(), &named) == 0 && S_ISLNK(named.st_mode) && !MayFollowLink(named.st_uid))
        return passOver(LinkOfAnotherUser("it"));
    const Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd && (errno == ENOENT || errno == ENOTDIR)) return std::nullopt;
    if (!fd) failErrno();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) failErrno();
    if (const std::string why = NotOwn(file, st); !why.empty()) return passOver(why);
    if (!S_ISREG(st.st_mode)) fail("is not a file");
    if (static_cast<std::uintmax_t>(st.st_size) > kMaxFileBytes) tooLarge(static_cast<std::uintmax_t>(st.st_size));
    std::string text(kMaxFileBytes + 1, '\0');
    const ssize_t n = ReadFully(fd.get(), text.data(), text.size());
    if (n < 0) failErrno();
    if (static_cast<std::size_t>(n) > kMaxFileBytes) tooLarge(static_cast<std::uintmax_t>(n));  // it grew while it was read
    text.resize(static_cast<std::size_t>(n));
    return text;
}

// False when the file is not read (FileText).
bool ReadFile(const fs::path &file, FileSettings &out) {
    const std::optional<std::string> whole = FileText(file);
    if (!whole) return false;
    std::istringstream in(*whole);
    std::map<std::string, int> seen;  // upper-cased key -> its line
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        // A byte-order mark, as some Windows editors write at the start of a UTF-8 file, is no setting.
        if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        const std::string text = Trim(line);
        const std::string where = file.string() + ", line " + std::to_string(number);
        if (text.empty() || text.front() == ';' || text.front() == '#') continue;
        if (text.front() == '[') {
            if (text.back() != ']' || !EqualsNoCase(Trim(text.substr(1, text.size() - 2)), "General"))
                Refuse(where, "unknown section " + text + "; write the settings at the top of the file or under [General]");
            continue;
        }
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos)
            Refuse(where, "\"" + text + "\" is not a setting; write NAME=VALUE, for example C=/srv/qv/c");
        const std::string key = Trim(text.substr(0, equals));
        const bool drive = IsDriveLetter(key);
        const bool generations = EqualsNoCase(key, "BackupGenerations");
        const bool destination = EqualsNoCase(key, "BackupDestination");
        if (!drive && !generations && !destination && !EqualsNoCase(key, "ProgramFolder"))
            Refuse(where, "unknown setting \"" + key +
                              "\"; a line maps one drive letter (C=/srv/qv/c), names the ProgramFolder, the "
                              "BackupDestination or the number of BackupGenerations");
        const std::string upper = Upper(key);
        if (const auto first = seen.find(upper); first != seen.end())
            Refuse(where, key + " is set a second time (first on line " + std::to_string(first->second) + ")");
        seen[upper] = number;

        const Value value = ValueOf(key, Trim(text.substr(equals + 1)), where);
        if (destination) {
            if (value.text.size() < 2 || !std::isalpha(static_cast<unsigned char>(value.text[0])) || value.text[1] != ':')
                Refuse(where, "the backup destination must be a Windows folder with its drive letter, such as "
                              "E:\\Backups, not \"" + value.written + "\"");
            out.backupDestination = value.text;
        } else if (generations) {
            const std::string &n = value.text;
            if (n.empty() || n.size() > 3 || !std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
                std::stoi(n) < 1)
                Refuse(where, "BackupGenerations must be a number of earlier backups to keep, from 1 to 999, not \"" +
                                  value.written + "\"");
            out.backupGenerations = std::stoi(n);
        } else if (drive)
            out.drives[UpperChar(key[0])] = {DriveFolder(upper, value.text, where, value.written), where};
        else
            out.programFolder = Setting{ProgramFolder(value.text, where, value.written), where};
    }
    return true;
}

// "C=/srv/qv/c;E=/media/backup": empty entries are passed over; a later entry for a letter replaces
// an earlier one.
std::map<char, Setting> ParseDriveVariable(const std::string &text) {
    std::map<char, Setting> drives;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const std::string entry = Trim(std::string_view(text).substr(start, end - start));
        start = end + 1;
        if (entry.empty()) continue;
        const std::size_t equals = entry.find('=');
        const std::string letter = Trim(entry.substr(0, equals));
        if (equals == std::string::npos || !IsDriveLetter(letter))
            Refuse(kDrivesVariable, "\"" + entry +
                                        "\" is not a drive mapping; write LETTER=/folder entries separated by \";\", "
                                        "for example C=/srv/qv/c;E=/media/backup");
        const char l = UpperChar(letter[0]);
        const std::string folder = Trim(entry.substr(equals + 1));
        drives[l] = {DriveFolder(std::string(1, l), folder, kDrivesVariable, folder), kDrivesVariable};
    }
    return drives;
}

}  // namespace

std::vector<fs::path> ConfigurationFiles() {
    const std::string system = EnvText(kSystemFileVariable);
    std::vector<fs::path> files{system.empty() ? fs::path("/etc/quorvant/qvutil.conf") : fs::path(system)};
    const std::string xdg = EnvText("XDG_CONFIG_HOME"), home = EnvText("HOME");
    if (xdg.starts_with('/'))  // a relative XDG_CONFIG_HOME is invalid and ignored
        files.push_back(fs::path(xdg) / "quorvant" / "qvutil.conf");
    else if (!home.empty())
        files.push_back(fs::path(home) / ".config" / "quorvant" / "qvutil.conf");
    return files;
}

Configuration ReadConfiguration(const std::vector<fs::path> &files) {
    Configuration config;
    FileSettings settings;
    for (const auto &file : files) {
        if (!ReadFile(file, settings)) continue;
        config.files.push_back(file);
        LogDetail("configuration file read: " + file.string(), kConfigLog);
    }

    const std::string driveText = EnvText(kDrivesVariable);
    const std::map<char, Setting> drives = driveText.empty() ? settings.drives : ParseDriveVariable(driveText);
    for (const auto &[letter, setting] : drives) config.drives.push_back({letter, setting.value});
    config.driveMapped = !config.drives.empty();
    if (settings.backupGenerations) config.backupGenerations = *settings.backupGenerations;
    if (settings.backupDestination) config.backupDestination = *settings.backupDestination;
    if (config.drives.empty()) config.drives.push_back({'C', "/"});

    std::optional<Setting> program = settings.programFolder;
    if (const std::string text = EnvText(kProgramFolderVariable); !text.empty())
        program = Setting{ProgramFolder(text, kProgramFolderVariable, text), kProgramFolderVariable};
    if (program) {
        const char letter = UpperChar(program->value[0]);
        if (std::none_of(config.drives.begin(), config.drives.end(), [&](const Drive &d) { return d.letter == letter; }))
            Refuse(program->where, "the program folder " + program->value + " lies on drive " + letter +
                                       ":, which the drive map does not map");
        config.programFolder = program->value;
    }

    if (DetailWanted(kConfigLog)) {
        std::string map;
        for (const auto &d : config.drives) map += std::string(map.empty() ? "" : ";") + d.letter + "=" + d.folder.string();
        LogDetail(std::string("drive map ") + (driveText.empty() ? "" : "(from QUORVANT_DRIVES) ") + map, kConfigLog);
        LogDetail("program folder: " + (program ? program->value + " (" + program->where + ")"
                                                : std::string("not configured: the executable's folder")),
                  kConfigLog);
    }
    return config;
}

}  // namespace platform
