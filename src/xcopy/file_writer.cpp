#include "xcopy/file_writer.h"

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "platform/paths.h"

namespace fs = std::filesystem;

namespace xcopy {
namespace {

std::string Describe(const std::error_code &ec, const fs::path &path, bool reading = false) {
    const std::string shown = platform::ShownPath(path);
    if (ec == std::errc::no_space_on_device) return "Insufficient disk space - " + shown;
    if (ec == std::errc::permission_denied || ec == std::errc::read_only_file_system)
        return "Access denied - " + shown;
    if (ec == std::errc::no_such_file_or_directory) return "File not found - " + shown;
    return (reading ? "Unable to read " : "Unable to write ") + shown + ": " + ec.message();
}

fs::path TemporaryName(const fs::path &to, std::mt19937_64 &random) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    std::string stem = to.filename().string().substr(0, 180);
    return to.parent_path() / ("." + stem + "." + suffix + ".qvxcopy");
}

// The reason the source cannot be read, or no error when it can be opened.
std::error_code SourceError(const fs::path &from) {
    errno = 0;
    std::ifstream in(from, std::ios::binary);
    if (in.is_open()) return {};
    return std::error_code(errno ? errno : EACCES, std::generic_category());
}

}  // namespace

void MakeFolder(const fs::path &folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec && !fs::is_directory(folder)) throw WriteFailure{Describe(ec, folder)};
}

void WriteCopy(const fs::path &from, const fs::path &to, fs::file_time_type modified, std::mt19937_64 &random) {
    std::error_code ec;
    const fs::file_status existing = fs::status(to, ec);
    if (!ec && fs::is_regular_file(existing) && (existing.permissions() & fs::perms::owner_write) == fs::perms::none)
        throw WriteFailure{"Access denied - " + platform::ShownPath(to) + " is read-only"};

    fs::path temporary = TemporaryName(to, random);
    auto fail = [&](const fs::path &shown, bool reading = false) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw WriteFailure{Describe(ec, shown, reading)};
    };
    fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        if (std::error_code unreadable = SourceError(from)) {
            ec = unreadable;
            fail(from, true);
        }
        fail(to);
    }
    fs::permissions(temporary, fs::status(from).permissions() | fs::perms::owner_write, ec);
    if (!ec) fs::last_write_time(temporary, modified, ec);
    if (!ec) fs::rename(temporary, to, ec);
    if (ec) fail(to);
}

}  // namespace xcopy
