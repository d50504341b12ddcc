#pragma once
// Operating-system failures (errno values) as the tools' error numbers: the one table, and the errors
// raised with it, each naming its file by the Linux path (the tools show it in its Windows form).
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

struct Error;

// What a failed system call was working on. The numbers differ only for a missing file.
enum class OsContext {
    File,      // a file of the file statements (FileDateTime, ShellAndWait, a copy's source...): missing 53,
               // 76 when the folder that should hold it is missing too
    Folder,    // a folder, or a file whose folder is what is missing (a log in its folder): 76
    Database,  // a database or a file the engine keeps beside it (.ldb, journal, copies): missing 3024
};

// The table:
//   ENOENT                                       53 / 76 / 3024 by context, as above
//   ENOTDIR                                      76 Path not found
//   EACCES, EPERM, EROFS, ETXTBSY, ELOOP         70 Permission denied
//   ENOSPC, EDQUOT, EFBIG                        61 Disk full
//   ENXIO, ENODEV, ENOMEDIUM                     68 Device unavailable
//   anything else (EEXIST, EISDIR, EIO, ...)     75 Path/File access error
int ErrorNumberOf(int err, OsContext context = OsContext::File, const std::filesystem::path &path = {});

// Error 70 about `link`, a link made by another user, which was not followed (Error::refusedLink).
Error RefusedLinkError(const std::filesystem::path &link);

// Raises ErrorNumberOf(err, context, path) as an error about `path` (the standard description alone
// without a path), with `doing` ("read", "write", "sync"...) as its operation and `err` as its reason.
// An open that stopped at a link another user made (`refusedLink`, from the open's result in
// safe_file.h) raises RefusedLinkError for that link instead.
[[noreturn]] void RaiseOsError(int err, const std::filesystem::path &path = {},
                               OsContext context = OsContext::File, std::string_view doing = {},
                               const std::filesystem::path &refusedLink = {});

// Raises FileError(number, linuxPath): "Permission denied: '/srv/qv/c/QVNWin32/AUDIT/QV202412.LOG'".
[[noreturn]] void RaisePathError(int number, const std::filesystem::path &linuxPath);

}  // namespace platform
