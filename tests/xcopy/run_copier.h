#pragma once
// Runs the built qvxcopy on a Windows argument text, as the utility's Shell starts it.
#include <filesystem>
#include <string>

namespace qvtest {

struct CopierRun {
    int status = -1;
    std::string output;  // standard output
    std::string errors;  // standard error
};

// Runs QV_BIN_DIR/qvxcopy with `argumentText` as its one argument, in `currentFolder` (when given),
// with the drive map of the calling process; as the user nobody when `asNobody` (the caller is root).
CopierRun RunCopier(const std::string &argumentText, const std::filesystem::path &currentFolder = {},
                    bool asNobody = false);

// The files and folders under `root` (relative paths, folders with a trailing "/"), sorted.
std::string Listing(const std::filesystem::path &root);

// Sets a file's modification time to `secondsAgo` seconds before now.
void SetAge(const std::filesystem::path &file, int secondsAgo);

}  // namespace qvtest
