// The errno table (a missing file, folder or database told apart by the context) and the errors raised
// with it.
#include "platform/os_error.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/error.h"

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

Error RefusedLinkError(const std::filesystem::path &link) {
    Error e(70, {});
    e.file = link;
    e.refusedLink = true;
    return e;
}

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

void RaiseOsError(int err, const std::filesystem::path &path, OsContext context, std::string_view doing,
                  const std::filesystem::path &refusedLink) {
    if (!refusedLink.empty()) throw RefusedLinkError(refusedLink);
    const int number = ErrorNumberOf(err, context, path);
    Error e(number, path.empty() ? ErrorDescription(number) : std::string());
    e.file = path;
    e.operation = doing;
    e.osError = err;
    throw e;
}

void RaisePathError(int number, const std::filesystem::path &linuxPath) {
    throw FileError(number, linuxPath);
}

}  // namespace platform
