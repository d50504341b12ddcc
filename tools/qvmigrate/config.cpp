// Reading and editing the configuration file line by line, as the tools read it.
#include "qvmigrate/config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "platform/ascii.h"
#include "platform/config.h"
#include "platform/error.h"
#include "platform/safe_file.h"
#include "qvmigrate/errors.h"
#include "qvmigrate/place.h"

namespace qvmigrate {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxFileBytes = 1024 * 1024;  // the tools refuse a larger file

// A line of a configuration file: its text and the line break it ends with.
struct Line {
    std::string text, end;
};

std::vector<Line> Lines(const std::string &text) {
    std::vector<Line> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t next = text.find('\n', at);
        next = next == std::string::npos ? text.size() : next + 1;
        Line line{text.substr(at, next - at), {}};
        for (const char *end : {"\r\n", "\n"})
            if (line.end.empty() && line.text.ends_with(end)) {
                line.end = end;
                line.text.resize(line.text.size() - line.end.size());
            }
        lines.push_back(std::move(line));
        at = next;
    }
    return lines;
}

std::string Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return std::string(s);
}

// The key a line sets ("" for a comment, a section or a blank line), as the tools read it.
std::string KeyOf(std::string text, bool first) {
    if (first && text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    text = Trim(text);
    if (text.empty() || text.front() == ';' || text.front() == '#' || text.front() == '[') return {};
    const std::size_t equals = text.find('=');
    return equals == std::string::npos ? std::string() : Trim(text.substr(0, equals));
}

// A value as the tools read it back: as it is, or between quotes with \ and " escaped.
std::string Written(const std::string &value) {
    const bool plain = !value.empty() && value.find_first_of(";\"") == std::string::npos &&
                       value.find("\\\\") == std::string::npos && Trim(value) == value;
    if (plain) return value;
    std::string out = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

[[noreturn]] void Refuse(const fs::path &file, const std::string &what, int err, const fs::path &refusedLink = {}) {
    if (!refusedLink.empty()) throw Failure(Failure::Run, platform::LinkOfAnotherUser(refusedLink.string(), "written"));
    throw Failure(Failure::Run, "cannot " + what + " the configuration file " + file.string() + ": " +
                             WriteFailure(err, file.parent_path()));
}

ConfigBefore ReadBefore(const fs::path &file) {
    ConfigBefore before;
    before.uid = ::geteuid();
    before.gid = ::getegid();
    const platform::Opened fd = platform::OpenFile(file, O_RDONLY | O_NONBLOCK);
    if (!fd && errno == ENOENT) return before;
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) Refuse(file, "read", errno, fd.refusedLink);
    if (!S_ISREG(st.st_mode)) throw Failure(Failure::Run, "the configuration file " + file.string() + " is not a file");
    if (static_cast<std::size_t>(st.st_size) > kMaxFileBytes)
        throw Failure(Failure::Run, "the configuration file " + file.string() + " is too large (" + std::to_string(st.st_size) +
                                 " bytes; the tools read at most 1 MB): is it the right file?");
    before = {true, {}, st.st_mode & 07777, st.st_uid, st.st_gid};
    char buf[16384];
    for (ssize_t n; (n = ::read(fd.get(), buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Refuse(file, "read", errno);
        before.text.append(buf, static_cast<std::size_t>(n));
    }
    return before;
}

void Write(const fs::path &file, const std::string &text, const ConfigBefore &like) {
    if (const platform::Opened folder = platform::MakeFolders(file.parent_path()); !folder)
        Refuse(file, "write", errno, folder.refusedLink);
    try {
        platform::AtomicFile out(file, platform::Access::Private, 0600);
        out.Write(text.data(), text.size());
        // As root: readable by every login's tools, whatever the mode it had.
        const mode_t mode = like.mode | (::geteuid() == 0 ? 0444 : 0);
        if ((::geteuid() == 0 && ::fchown(out.fd(), like.uid, like.gid) != 0) || ::fchmod(out.fd(), mode) != 0)
            Refuse(file, "write", errno);
        out.Commit();
    } catch (const std::system_error &e) {
        Refuse(file, "write", e.code().value());
    }
}

}  // namespace

fs::path SystemConfigFile() { return platform::ConfigurationFiles().front(); }

fs::path UserConfigFile() {
    const auto files = platform::ConfigurationFiles();
    return files.size() > 1 ? files[1] : fs::path("/") / ".config/quorvant/qvutil.conf";
}

fs::path DefaultConfigFile() { return ::geteuid() == 0 ? SystemConfigFile() : UserConfigFile(); }

std::string WhoReadsConfig(const fs::path &file) {
    auto same = [&](const fs::path &other) { return fs::absolute(file).lexically_normal() == fs::absolute(other).lexically_normal(); };
    if (same(SystemConfigFile()))
        return "every login's tools read " + file.string() + " (a login's own ~/.config/quorvant/qvutil.conf may map a drive anew)";
    const std::string lines = "the clerks' logins need these lines in " + SystemConfigFile().string() +
                              " (qvmigrate run as root writes them there) or in their own ~/.config/quorvant/qvutil.conf";
    if (same(UserConfigFile())) return "only this login's tools read " + file.string() + ": " + lines;
    return "the tools do not read " + file.string() + " by themselves: " + lines;
}

std::optional<fs::path> ConfiguredDrive(const fs::path &file, char letter) {
    const platform::Configuration config = platform::ReadConfiguration({file});
    // Without a line for the letter the reading's own default (C: as "/") is no mapping of the file's.
    const auto lines = Lines(ReadBefore(file).text);
    bool written = false;
    for (std::size_t i = 0; i < lines.size(); ++i) written |= platform::EqualsNoCase(KeyOf(lines[i].text, i == 0), std::string(1, letter));
    for (const auto &drive : config.drives)
        if (written && drive.letter == platform::UpperChar(letter)) return drive.folder;
    return std::nullopt;
}

std::string EditedConfig(const std::string &text, char letter, const std::string &folder, const std::string &programFolder) {
    std::vector<Line> lines = Lines(text);
    const std::vector<std::pair<std::string, std::string>> settings = {{std::string(1, letter), folder},
                                                                       {"ProgramFolder", programFolder}};
    for (const auto &[key, value] : settings) {
        bool set = false;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (!platform::EqualsNoCase(KeyOf(lines[i].text, i == 0), key)) continue;
            const bool bom = i == 0 && lines[i].text.starts_with("\xEF\xBB\xBF");
            lines[i].text = set ? "; " + lines[i].text : (bom ? "\xEF\xBB\xBF" : "") + key + "=" + Written(value);
            set = true;
        }
        if (set) continue;
        if (!lines.empty() && lines.back().end.empty()) lines.back().end = "\n";
        lines.push_back({key + "=" + Written(value), lines.empty() ? "\n" : lines.front().end});
    }
    std::string out;
    for (const auto &line : lines) out += line.text + line.end;
    return out;
}

ConfigBefore UpdateConfig(const fs::path &file, char letter, const fs::path &folder, const std::string &programFolder) {
    ConfigBefore before = ReadBefore(file);
    Write(file, EditedConfig(before.text, letter, folder.string(), programFolder), before);
    return before;
}

void RestoreConfig(const fs::path &file, const ConfigBefore &before) {
    if (before.existed)
        Write(file, before.text, before);
    else if (!platform::RemoveFile(file))
        Refuse(file, "remove", errno);
}

}  // namespace qvmigrate
