#pragma once
// Writing at the destination: folders, and files copied under a temporary name then renamed.
#include <filesystem>
#include <random>
#include <string>

namespace xcopy {

// A folder or file that could not be read or written; `message` is what the copier prints. It names
// the path in its Windows form.
struct WriteFailure {
    std::string message;
};

// Creates a folder and its missing parents; an existing folder is fine.
void MakeFolder(const std::filesystem::path &folder);

// Copies `from` to `to`: the data goes to a hidden temporary file in the destination folder, which
// gets the source's modification time and permissions (plus write permission for the owner, so a
// read-only source gives a copy that a later run can replace) and is then renamed over `to`.
// An interruption never leaves a partial file under the real name. A read-only `to` (no write
// permission for its owner) is not replaced: that is a failure, whoever runs the copier.
void WriteCopy(const std::filesystem::path &from, const std::filesystem::path &to,
               std::filesystem::file_time_type modified, std::mt19937_64 &random);

}  // namespace xcopy
