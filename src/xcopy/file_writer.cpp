// The destination's folders made under the link rule, and what the copier says of a failed write.
#include "xcopy/file_writer.h"

#include <cerrno>
#include <system_error>

#include "platform/copy_tree.h"
#include "platform/paths.h"
#include "platform/safe_file.h"

namespace fs = std::filesystem;

namespace xcopy {

std::string Describe(int err, const fs::path &path, bool reading, const fs::path &refusedLink) {
    const std::string shown = platform::ShownPath(path);
    if (!refusedLink.empty()) return platform::Message(platform::RefusedLinkError(refusedLink)) + ".";
    if (!reading) {
        if (std::string trouble = platform::DestinationTrouble(err, path); !trouble.empty()) return trouble;
        const std::string forbidden = platform::ForbiddenCharacter(path.filename().string());
        if (!forbidden.empty() && (err == EINVAL || err == ENOENT || err == EILSEQ))
            return "Unable to write " + shown + ": the destination disk does not allow " + forbidden +
                   " in names. Rename the file in the program folder, or choose another disk.";
    }
    switch (err) {
    case EACCES:
    case EPERM: return "Access denied - " + shown;
    case ENOENT:
        if (reading) return "File not found - " + shown;
        return "Unable to write " + shown + ": The system cannot find the path specified.";
    case ENODEV:  // reading: no longer a plain file (OpenSourceFile)
        return "Unable to read " + shown +
               ": it is not a plain file (a device, a pipe or a file of the kernel's); nothing was read from it.";
    case ENOSPC: return "Unable to write " + shown + ": There is not enough space on the disk.";
    case EFBIG: return "Unable to write " + shown + ": The file is too large for the destination file system.";
    default:
        return (reading ? "Unable to read " : "Unable to write ") + shown + ": " +
               std::generic_category().message(err);
    }
}

void MakeFolder(const fs::path &folder) {
    if (const platform::Opened made = platform::MakeFolders(folder, platform::Access::GroupShared); !made) {
        const int err = errno;
        throw WriteFailure{Describe(err, folder, false, made.refusedLink)};
    }
}

}  // namespace xcopy
