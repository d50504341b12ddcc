#pragma once
// An exclusive lock on a file, held by this object: a second holder (in this process or another)
// is refused at once instead of waiting. The lock file is created when missing and removed again
// when the lock is released.
#include <memory>
#include <string>
#include <string_view>

namespace platform {

class FileLock {
public:
    // Takes the lock on the file at `windowsPath`; nullptr when someone else holds it, or when this
    // user may not open it at all (another user's file that is not readable by all). The file is
    // created readable and writable by everyone. Raises 76 when its folder is missing, 75 for
    // other failures.
    static std::unique_ptr<FileLock> TryTake(std::string_view windowsPath);
    // True when someone holds the lock on the file at `windowsPath` now (or the file exists and
    // cannot be opened to find out). Takes nothing and creates nothing.
    static bool HeldByAnyone(std::string_view windowsPath);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    const std::string &Path() const { return path_; }

private:
    FileLock(int fd, std::string linuxPath, std::string windowsPath);
    int fd_;
    std::string linuxPath_;
    std::string path_;
};

}  // namespace platform
