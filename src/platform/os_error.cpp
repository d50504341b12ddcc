// The errno table (a missing file, folder or database told apart by the context) and the errors raised
// with it, each naming its path in the Windows form.
#include "platform/os_error.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/paths.h"
#include "platform/safe_file.h"

namespace platform {

namespace {

int MissingNumber(OsContext context, const std::filesystem::path &path) {
    switch (context) {
    case OsContext::Database: return 3024;
    case OsContext::Folder: return 76;
    case OsContext::File: break;
    }
    struct stat st {};
    const auto folder = path.parent_path();
    if (!folder.empty() && (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) return 76;
    return 53;
}

}  // namespace

int ErrorNumberOf(int err, OsContext context, const std::filesystem::path &path) {
    switch (err) {
    case ENOENT: return MissingNumber(context, path);
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
    default: return 75;
    }
}

std::string PathErrorText(int number, const std::filesystem::path &path, std::string_view reason) {
    const std::string shown = ShownPath(path);
    std::string text = ErrorDescription(number, shown);
    if (number != 3024 && number != 3045 && number != 3343) text += ": '" + shown + "'";
    if (!reason.empty()) text += " (" + std::string(reason) + ")";
    return WithDriveNote(text, path);
}

void RaiseOsError(int err, const std::filesystem::path &path, OsContext context, std::string_view doing) {
    if (IsRefusedLink(err)) Raise(70, RefusedLinkText());
    const int number = ErrorNumberOf(err, context, path);
    const std::string reason = doing.empty() ? std::string() : std::string(doing) + ": " + std::strerror(err);
    if (path.empty()) Raise(number, reason.empty() ? std::string() : ErrorDescription(number) + " (" + reason + ")");
    Raise(number, PathErrorText(number, path, reason));
}

void RaisePathError(int number, const std::filesystem::path &linuxPath) {
    Raise(number, PathErrorText(number, linuxPath));
}

}  // namespace platform
