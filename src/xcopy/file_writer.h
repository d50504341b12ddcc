#pragma once
// Writing at the destination: the folders of the copy (never made through a link that another user
// made, platform/safe_file.h), and the copier's words for what failed.
#include <filesystem>
#include <string>

namespace xcopy {

// A folder or file that could not be read or written; `message` is what the copier prints. It names
// the path in its Windows form.
struct WriteFailure {
    std::string message;
};

// The message for the failure `err` (an errno value) of reading or writing `path`: a disk that is gone
// or read-only and a name that the destination's file system refuses in a clerk's words, a link of
// another user that an open stopped at (`refusedLink`) named as such.
std::string Describe(int err, const std::filesystem::path &path, bool reading = false,
                     const std::filesystem::path &refusedLink = {});

// Creates a folder and its missing parents, each with the access of the folder it is made in; an
// existing folder is fine.
void MakeFolder(const std::filesystem::path &folder);

}  // namespace xcopy
