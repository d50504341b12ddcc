#include "qvmigrate/config.h"

#include <QSettings>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "platform/config.h"

namespace qvmigrate {

namespace fs = std::filesystem;

namespace {

QString Key(char letter) { return QString(QChar(letter)); }
QString Path(const fs::path &p) { return QString::fromStdString(p.string()); }

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
    const QSettings settings(Path(file), QSettings::IniFormat);
    const QString folder = settings.value(Key(letter)).toString().trimmed();
    if (folder.isEmpty()) return std::nullopt;
    return fs::path(folder.toStdString());
}

std::string UpdateConfig(const fs::path &file, char letter, const fs::path &folder, const std::string &programFolder) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    // QSettings writes through a temporary file renamed into place (atomic sync is its default).
    QSettings settings(Path(file), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        throw std::runtime_error("cannot read the configuration file " + file.string() + " (it is not a valid INI file)");
    if (!settings.isWritable()) throw std::runtime_error("cannot write the configuration file " + file.string());
    const std::string before = settings.value(Key(letter)).toString().toStdString();
    settings.setValue(Key(letter), Path(folder));
    settings.setValue("ProgramFolder", QString::fromStdString(programFolder));
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw std::runtime_error("cannot write the configuration file " + file.string());
    if (::geteuid() == 0) {
        // Every login's tools must read it, whatever root's umask.
        const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        const bool shared = fd >= 0 && ::fchmod(fd, 0644) == 0;
        if (fd >= 0) ::close(fd);
        if (!shared) throw std::runtime_error("cannot make the configuration file " + file.string() + " readable by every login");
    }
    return before;
}

}  // namespace qvmigrate
