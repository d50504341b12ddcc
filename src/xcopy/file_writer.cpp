#include "xcopy/file_writer.h"

#include <cstdio>

namespace fs = std::filesystem;

namespace xcopy {
namespace {

std::string Describe(const std::error_code &ec, const fs::path &path) {
    if (ec == std::errc::no_space_on_device) return "Insufficient disk space - " + path.string();
    if (ec == std::errc::permission_denied || ec == std::errc::read_only_file_system)
        return "Access denied - " + path.string();
    return "Unable to write " + path.string() + ": " + ec.message();
}

fs::path TemporaryName(const fs::path &to, std::mt19937_64 &random) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    std::string stem = to.filename().string().substr(0, 180);
    return to.parent_path() / ("." + stem + "." + suffix + ".qvxcopy");
}

}  // namespace

void MakeFolder(const fs::path &folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec && !fs::is_directory(folder)) throw WriteFailure{Describe(ec, folder)};
}

void WriteCopy(const fs::path &from, const fs::path &to, fs::file_time_type modified, std::mt19937_64 &random) {
    fs::path temporary = TemporaryName(to, random);
    std::error_code ec;
    auto fail = [&](const fs::path &shown) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw WriteFailure{Describe(ec, shown)};
    };
    fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        std::error_code readable;
        if (!fs::exists(from, readable)) fail(from);
        fail(to);
    }
    fs::permissions(temporary, fs::status(from).permissions() | fs::perms::owner_write, ec);
    if (!ec) fs::last_write_time(temporary, modified, ec);
    if (!ec) fs::rename(temporary, to, ec);
    if (ec) fail(to);
}

}  // namespace xcopy
