#pragma once
// Operating-system failures as the Visual Basic error numbers of file operations.
#include <filesystem>

namespace platform {

// 53 File not found, 76 Path not found, 75 Path/File access error, 70 Permission denied,
// 61 Disk full, 68 Device unavailable. A missing entry (ENOENT) is 76 when the folder that should
// hold `path` is missing too, else `missingNumber`.
int ErrorNumberOf(int err, const std::filesystem::path &path = {}, int missingNumber = 53);

// Raises ErrorNumberOf(err, path, missingNumber) with its standard description, naming the path as
// RaisePathError does when one is given.
[[noreturn]] void RaiseOsError(int err, const std::filesystem::path &path = {}, int missingNumber = 53);

// Raises `number` with its standard description and the path in its Windows form (ShownPath):
// "Permission denied: 'C:\QVNWin32\AUDIT\QV202412.LOG'".
[[noreturn]] void RaisePathError(int number, const std::filesystem::path &linuxPath);

}  // namespace platform
