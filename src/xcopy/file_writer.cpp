#include "xcopy/file_writer.h"

#include <cerrno>
#include <system_error>

#include "platform/paths.h"
#include "platform/safe_file.h"

namespace fs = std::filesystem;

namespace xcopy {

std::string Describe(int err, const fs::path &path, bool reading) {
    if (platform::IsRefusedLink(err)) return platform::RefusedLinkText();
    const std::string shown = platform::ShownPath(path);
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS: return "Access denied - " + shown;
    case ENOENT:
        if (reading) return "File not found - " + shown;
        return "Unable to write " + shown + ": The system cannot find the path specified.";
    case ENOSPC: return "Unable to write " + shown + ": There is not enough space on the disk.";
    case EFBIG: return "Unable to write " + shown + ": The file is too large for the destination file system.";
    default:
        return (reading ? "Unable to read " : "Unable to write ") + shown + ": " +
               std::generic_category().message(err);
    }
}

void MakeFolder(const fs::path &folder) {
    if (!platform::MakeFolders(folder)) {
        const int err = errno;
        throw WriteFailure{Describe(err, folder)};
    }
}

}  // namespace xcopy
