#include "platform/files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/error.h"
#include "platform/fd_io.h"
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

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
};

}  // namespace

void WriteAll(int fd, const char *data, std::size_t size, const fs::path &path) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseOsError(errno, path);
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void CopyData(int from, int to, const fs::path &source, const fs::path &destination) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseOsError(errno, source);
        }
        if (n == 0) return;
        WriteAll(to, buffer, static_cast<size_t>(n), destination);
    }
}

bool FileExists(std::string_view path) {
    struct stat st {};
    return StatOf(path, st) && S_ISREG(st.st_mode);
}

bool FolderExists(std::string_view path) {
    struct stat st {};
    return StatOf(path, st) && S_ISDIR(st.st_mode);
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

// Copies the bytes into the destination in place (as the Windows copy does: an existing file keeps its
// identity) and gives it the source's modification time.
void FileCopy(std::string_view source, std::string_view destination) {
    const fs::path from = MapPath(source);
    const fs::path to = MapPath(destination);
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0) RaiseOsError(errno, from);
    struct stat src {};
    if (::fstat(in.fd, &src) != 0) RaiseOsError(errno, from);
    if (S_ISDIR(src.st_mode)) RaisePathError(75, from);
    struct stat dst {};
    if (::stat(to.c_str(), &dst) == 0 && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino)
        RaisePathError(75, to);  // a file copied onto itself would be emptied by the truncation
    Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, src.st_mode & 0777));
    if (out.fd < 0) RaiseOsError(errno, to, 76);
    CopyData(in.fd, out.fd, from, to);
    const struct timespec times[2] = {src.st_atim, src.st_mtim};
    ::futimens(out.fd, times);
    const int closed = ::close(out.fd);
    out.fd = -1;
    if (closed != 0) RaiseOsError(errno, to);
}

void MkDir(std::string_view path) {
    const fs::path p = MapPath(path);
    if (::mkdir(p.c_str(), 0777) != 0) RaiseOsError(errno, p, 76);
}

void AppendLine(std::string_view path, std::string_view line) {
    TextAppender file(path);
    file.WriteLine(line);
    file.Close();
}

// Visual Basic's Name: the source must exist (53) and the new name must not (58).
void RenameFile(std::string_view from, std::string_view to) {
    const fs::path a = MapPath(from);
    const fs::path b = MapPath(to);
    struct stat st {};
    if (::lstat(a.c_str(), &st) != 0) RaiseOsError(errno, a);
    struct stat other {};
    if (::lstat(b.c_str(), &other) == 0 && !(other.st_dev == st.st_dev && other.st_ino == st.st_ino)) Raise(58);
    if (::rename(a.c_str(), b.c_str()) == 0) return;
    if (errno != EXDEV || S_ISDIR(st.st_mode)) RaiseOsError(errno, b, 76);
    // Across file systems: copy, then remove the source.
    FileCopy(from, to);
    if (::unlink(a.c_str()) != 0) RaiseOsError(errno, a);
}

std::string UserName() {
    struct passwd pw {};
    struct passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        return found->pw_name;
    const char *user = std::getenv("USER");
    return user ? user : "";
}

}  // namespace platform
