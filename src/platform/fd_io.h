#pragma once
// Whole writes and copies on file descriptors, failures raised as the Visual Basic file errors
// (platform-internal).
#include <cstddef>
#include <filesystem>

namespace platform {

// Writes every byte, retrying short writes; raises the error of a failure (61 Disk full, ...).
void WriteAll(int fd, const char *data, std::size_t size, const std::filesystem::path &path);

// Copies from the read position of `from` to its end onto `to`.
void CopyData(int from, int to, const std::filesystem::path &source, const std::filesystem::path &destination);

}  // namespace platform
