#pragma once
// Operating-system failures (errno values) as the tools' error numbers: the one table, and the
// messages that name a file.
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

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

// "<description of `number`>: '<path>' (<reason>)", the path in its Windows form (ShownPath) and
// with the drive note of WithDriveNote; numbers whose description names the file already (3024,
// 3045, 3343) do not name it again; no reason, no parentheses.
std::string PathErrorText(int number, const std::filesystem::path &path, std::string_view reason = {});

// Raises ErrorNumberOf(err, context, path) with PathErrorText (the standard description alone
// without a path). With `doing` ("read", "write", "sync"...), the reason is "<doing>: <strerror>".
// A link that another user made, refused by safe_file.h, is 70 naming the link.
[[noreturn]] void RaiseOsError(int err, const std::filesystem::path &path = {},
                               OsContext context = OsContext::File, std::string_view doing = {});

// Raises `number` with PathErrorText: "Permission denied: 'C:\QVNWin32\AUDIT\QV202412.LOG'".
[[noreturn]] void RaisePathError(int number, const std::filesystem::path &linuxPath);

}  // namespace platform
