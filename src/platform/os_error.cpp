#include "platform/os_error.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/paths.h"
#include "platform/safe_file.h"

namespace platform {

int ErrorNumberOf(int err, const std::filesystem::path &path, int missingNumber) {
    switch (err) {
    case ENOENT: {
        struct stat st {};
        const auto folder = path.parent_path();
        if (!folder.empty() && (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) return 76;
        return missingNumber;
    }
    case ENOTDIR: return 76;
    case ELOOP:
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: return 70;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return 61;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM: return 68;
    default: return 75;  // EEXIST, EISDIR, EBUSY, ENAMETOOLONG, EIO, ...
    }
}

void RaiseOsError(int err, const std::filesystem::path &path, int missingNumber) {
    if (IsRefusedLink(err)) Raise(70, RefusedLinkText());
    const int number = ErrorNumberOf(err, path, missingNumber);
    if (path.empty()) Raise(number);
    RaisePathError(number, path);
}

void RaisePathError(int number, const std::filesystem::path &linuxPath) {
    Raise(number, WithDriveNote(ErrorDescription(number) + ": '" + ShownPath(linuxPath) + "'", linuxPath));
}

}  // namespace platform
