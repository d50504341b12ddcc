// Existence, times and identity of files and folders named by Windows paths; the running login.
#include "platform/files.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>
#include <system_error>

#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/logins.h"
#include "platform/safe_file.h"
#include "platform/os_error.h"
#include "platform/paths.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

bool StatOf(std::string_view path, struct stat &st) {
    try {
        return ::stat(MapPath(path).c_str(), &st) == 0;
    } catch (const Error &) {
        return false;  // a path on a drive that is not mapped holds nothing
    }
}

}  // namespace

bool FileExists(std::string_view path) {
    struct stat st {};
    return StatOf(path, st) && S_ISREG(st.st_mode);
}

DateTime FileDateTime(std::string_view path) {
    const fs::path p = MapPath(path);
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) RaisePathError(53, p);
    struct tm local {};
    localtime_r(&st.st_mtim.tv_sec, &local);
    return MakeDateTime(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                        static_cast<unsigned>(local.tm_mday), local.tm_hour, local.tm_min,
                        local.tm_sec > 59 ? 59 : local.tm_sec);
}

bool SameFolder(std::string_view a, std::string_view b) {
    struct stat sa {}, sb {};
    const bool foundA = StatOf(a, sa), foundB = StatOf(b, sb);
    if (!foundA && !foundB) {  // neither there (a folder removed, a drive's folder missing): by their names
        try {
            return (MapPath(a) / "").lexically_normal() == (MapPath(b) / "").lexically_normal();
        } catch (const Error &) {
            return false;
        }
    }
    return foundA && foundB && S_ISDIR(sa.st_mode) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void RequireWritable(std::string_view path) {
    const std::filesystem::path file = MapPath(path);
    if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) RaiseOsError(errno, file);
}

namespace {

std::string GroupNotJoined(const std::filesystem::path &folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || ::geteuid() == 0 || st.st_uid == ::geteuid() ||
        (st.st_mode & S_IWGRP) == 0 || (st.st_mode & S_IWOTH) != 0 || st.st_gid == ::getegid())
        return {};
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(count > 0 ? count : 0));
    if (count > 0 && ::getgroups(count, groups.data()) == count)
        for (const gid_t g : groups)
            if (g == st.st_gid) return {};
    if (const struct group *g = ::getgrgid(st.st_gid); g && g->gr_name) return g->gr_name;
    return std::to_string(st.st_gid);
}

}  // namespace

std::string GroupThisLoginIsNotIn(std::string_view folder) { return GroupNotJoined(MapPath(folder)); }

std::string LoginMayNotWriteIn(const std::filesystem::path &file) {
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::is_directory(file, ec) ? file : file.parent_path();
    const std::string group = GroupNotJoined(folder);
    return "The login " + UserName() + " may not write in the folder " + ShownPath(folder) +
           (group.empty() ? "" : ", which belongs to the group " + group + "; this login is not in it") + ".";
}

std::string UserName() {
    if (std::string name = LoginName(::getuid()); !name.empty()) return name;
    const char *user = std::getenv("USER");
    return user ? user : "";
}

std::optional<std::string> ReadSmallFile(std::string_view path, std::size_t limit) {
    try {
        const Fd fd = OpenFile(MapPath(path), O_RDONLY | O_NONBLOCK);
        std::string text(limit, '\0');
        const ssize_t n = fd ? ReadFully(fd.get(), text.data(), text.size()) : -1;
        if (n < 0) return std::nullopt;
        text.resize(static_cast<std::size_t>(n));
        return text;
    } catch (const Error &) {
        return std::nullopt;
    }
}

void WriteWholeFile(std::string_view path, std::string_view text) {
    const auto file = MapPath(path);
    try {
        AtomicFile out(file, Access::LikeFolder);
        if (const int err = WriteFully(out.fd(), text.data(), text.size())) RaiseOsError(err, file);
        out.Commit();
    } catch (const std::system_error &e) {
        RaiseOsError(e.code().value(), file);
    }
}

}  // namespace platform
