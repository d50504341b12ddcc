// The errno table (a missing file, folder or database told apart by the context) and the errors raised
// with it; the link of another user that the last refused open stopped at.
#include "platform/os_error.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace platform {

namespace {

thread_local std::filesystem::path refusedLink;

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

const std::filesystem::path &RefusedLink() { return refusedLink; }

std::string LinkOfAnotherUser(std::string_view link) { return std::string(link) + " is a link made by another user"; }

constexpr std::string_view kNothingWritten = "; nothing was written";

Error RefusedLinkError() {
    return Error(70, LinkOfAnotherUser("'" + refusedLink.string() + "'") + std::string(kNothingWritten), refusedLink);
}

bool NamesRefusedLink(std::string_view description) {
    return description.starts_with('\'') && description.ends_with(LinkOfAnotherUser("'") + std::string(kNothingWritten));
}

void NoteRefusedLink(const std::filesystem::path &link) { refusedLink = link; }

bool IsRefusedLink(int err) { return err == ELOOP && !refusedLink.empty(); }

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

void RaiseOsError(int err, const std::filesystem::path &path, OsContext context, std::string_view doing) {
    if (IsRefusedLink(err)) throw RefusedLinkError();
    const int number = ErrorNumberOf(err, context, path);
    // The system's words, unless they say what the number's description says ("Permission denied").
    const std::string said = std::strerror(err);
    const std::string reason =
        doing.empty() ? std::string() : std::string(doing) + (said == ErrorDescription(number) ? "" : ": " + said);
    if (path.empty()) Raise(number, reason.empty() ? std::string() : ErrorDescription(number) + " (" + reason + ")");
    throw FileError(number, path, reason);
}

void RaisePathError(int number, const std::filesystem::path &linuxPath) {
    throw FileError(number, linuxPath);
}

}  // namespace platform
