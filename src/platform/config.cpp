// The configuration files and variables.
//
// QSettings reads each file. Its INI rules make a backslash an escape character, so a Windows path
// written by hand (ProgramFolder=C:\QVNWin32) would lose its backslashes; and it passes over any
// line it does not understand without a word. So every line is also read here, as written: that
// gives each setting its line for the messages, refuses what QSettings would drop, and takes an
// unquoted value as written (a doubled backslash, as QSettings writes one, counts once). A quoted
// value is QSettings' own.
#include "platform/config.h"
#include "platform/ascii.h"

#include <QLoggingCategory>
#include <QSettings>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>

#include "platform/error.h"

Q_LOGGING_CATEGORY(lcConfig, "qvutil.config", QtInfoMsg)

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr const char *kDrivesVariable = "QUORVANT_DRIVES";
constexpr const char *kProgramFolderVariable = "QUORVANT_PROGRAM_FOLDER";

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

// The folder a drive stands for, normalised and without a trailing "/"; refused unless absolute.
std::string DriveFolder(const std::string &letter, const std::string &text, const std::string &where) {
    if (text.empty() || text.front() != '/')
        Refuse(where, "drive " + letter + ": must stand for an absolute Linux folder (one that starts with \"/\"), not \"" +
                          text + "\"");
    std::string folder = fs::path(text).lexically_normal().string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

// A program folder: a drive letter, ":" and "\" (or "/"), as in C:\QVNWin32.
std::string ProgramFolder(const std::string &text, const std::string &where) {
    if (text.size() < 3 || !std::isalpha(static_cast<unsigned char>(text[0])) || text[1] != ':' ||
        (text[2] != '\\' && text[2] != '/'))
        Refuse(where, "the program folder must be a Windows folder with its drive letter, such as C:\\QVNWin32, not \"" +
                          text + "\"");
    return text;
}

// An unquoted value as written, up to a ";" that starts a comment; "\\" counts as one backslash.
std::string UnquotedValue(const std::string &raw) {
    std::string value = Trim(raw.substr(0, raw.find(';')));
    for (std::size_t at = 0; (at = value.find("\\\\", at)) != std::string::npos; ++at) value.erase(at, 1);
    return value;
}

struct FileSettings {
    std::map<char, Setting> drives;
    std::optional<Setting> programFolder;
};

void ReadFile(const fs::path &file, FileSettings &out) {
    std::ifstream in(file, std::ios::binary);
    if (!in) Refuse(file.string(), "cannot be read");
    const QSettings ini(QString::fromStdString(file.string()), QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) Refuse(file.string(), "cannot be read as an INI file");
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
        if (!drive && !EqualsNoCase(key, "ProgramFolder"))
            Refuse(where, "unknown setting \"" + key +
                              "\"; a line maps one drive letter (C=/srv/qv/c) or names the ProgramFolder");
        const std::string upper = Upper(key);
        if (const auto first = seen.find(upper); first != seen.end())
            Refuse(where, key + " is set a second time (first on line " + std::to_string(first->second) + ")");
        seen[upper] = number;

        const std::string raw = Trim(text.substr(equals + 1));
        std::string value;
        if (raw.starts_with('"')) {
            const QVariant v = ini.value(QString::fromStdString(key));
            if (v.typeId() != QMetaType::QString) Refuse(where, key + " must hold one value");
            value = Trim(v.toString().toStdString());
        } else {
            value = UnquotedValue(raw);
        }
        if (drive)
            out.drives[UpperChar(key[0])] = {DriveFolder(upper, value, where), where};
        else
            out.programFolder = Setting{ProgramFolder(value, where), where};
    }
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
        drives[l] = {DriveFolder(std::string(1, l), Trim(entry.substr(equals + 1)), kDrivesVariable), kDrivesVariable};
    }
    return drives;
}

}  // namespace

std::vector<fs::path> ConfigurationFiles() {
    std::vector<fs::path> files{"/etc/quorvant/qvutil.conf"};
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
        std::error_code ec;
        const bool exists = fs::exists(file, ec);
        if (ec) Refuse(file.string(), "cannot be read (" + ec.message() + ")");
        if (!exists) continue;
        if (!fs::is_regular_file(file, ec)) Refuse(file.string(), "is not a file");
        ReadFile(file, settings);
        config.files.push_back(file);
        qCDebug(lcConfig) << "configuration file read:" << file.c_str();
    }

    const std::string driveText = EnvText(kDrivesVariable);
    const std::map<char, Setting> drives = driveText.empty() ? settings.drives : ParseDriveVariable(driveText);
    for (const auto &[letter, setting] : drives) config.drives.push_back({letter, setting.value});
    if (config.drives.empty()) config.drives.push_back({'C', "/"});

    std::optional<Setting> program = settings.programFolder;
    if (const std::string text = EnvText(kProgramFolderVariable); !text.empty())
        program = Setting{ProgramFolder(text, kProgramFolderVariable), kProgramFolderVariable};
    if (program) {
        const char letter = UpperChar(program->value[0]);
        if (std::none_of(config.drives.begin(), config.drives.end(), [&](const Drive &d) { return d.letter == letter; }))
            Refuse(program->where, "the program folder " + program->value + " lies on drive " + letter +
                                       ":, which the drive map does not map");
        config.programFolder = program->value;
    }

    if (lcConfig().isDebugEnabled()) {
        std::string map;
        for (const auto &d : config.drives) map += std::string(map.empty() ? "" : ";") + d.letter + "=" + d.folder.string();
        qCDebug(lcConfig).noquote() << "drive map" << (driveText.empty() ? "" : "(from QUORVANT_DRIVES)") << map.c_str();
        qCDebug(lcConfig).noquote() << "program folder:"
                                    << (program ? program->value + " (" + program->where + ")"
                                                : std::string("not configured: the executable's folder"))
                                              .c_str();
    }
    return config;
}

}  // namespace platform
