#pragma once
// An exclusive lock on a file, held by this object: a second holder (in this process or another)
// is refused at once instead of waiting. The lock file is created when missing, with the access of
// its folder, and removed again when the lock is released; a link that another user made at its name
// is refused (70, naming the link).
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/safe_file.h"

namespace platform {

class FileLock {
public:
    // Takes the lock on the file at `windowsPath`; nullptr when someone else holds it, or when this
    // user may not open it at all (another user's file that is not readable by all). Raises 76 when
    // its folder is missing, 70 naming the file when it is missing and this user may not create it,
    // 75 for other failures.
    static std::unique_ptr<FileLock> TryTake(std::string_view windowsPath);
    // The same for a Linux path, for a program without the drive map (Path() then gives it back).
    static std::unique_ptr<FileLock> TryTakeFile(const std::filesystem::path &linuxPath);
    // True when someone holds the lock on the file at `windowsPath` now. Takes nothing and creates
    // nothing. Raises when an existing file cannot be opened to find out: 70 naming a link another
    // user made at its name, else the open's failure naming the file (70 permission denied, ...).
    static bool HeldByAnyone(std::string_view windowsPath);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    const std::string &Path() const { return path_; }

private:
    static std::unique_ptr<FileLock> TryTakeAt(const std::string &linuxPath, std::string_view shownPath);
    FileLock(Fd fd, Fd dir, std::string name, std::string windowsPath);
    Fd fd_;
    Fd dir_;            // the folder that holds the lock file
    std::string name_;  // the lock file's name in it
    std::string path_;
};

}  // namespace platform
