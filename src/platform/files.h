#pragma once
// File operations on Windows paths. Failures raise the Visual Basic errors:
// 53 File not found, 76 Path not found, 75 Path/File access error, 70 Permission denied,
// 61 Disk full, 68 Device unavailable.
#include <filesystem>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace platform {

bool FileExists(std::string_view path);    // an ordinary file

// Last-modified date and time of a file, in local wall-clock time. 53 when missing.
DateTime FileDateTime(std::string_view path);

// True when a file name matches a DOS wildcard pattern such as "*.*" or "DATA?.MDB" (without regard to
// case; "*.*" matches every name, with or without a dot; wildcards.cpp).
bool WildcardMatch(std::string_view pattern, std::string_view name);
bool HasWildcard(std::string_view text);

// True when two Windows paths name one and the same existing folder, however each is spelt (letter
// case, a linked folder, two drives mapped onto one folder); when neither exists, when they map to
// one Linux path.
bool SameFolder(std::string_view a, std::string_view b);

// Raises 70 naming the file when this login may not write the existing file at the Windows path
// `path` (read-only for it, or on a read-only file system).
void RequireWritable(std::string_view path);

// The group owning the folder at the Windows path `folder`, when this login is not in it and may not
// write there while that group may: why this login cannot change what the folder holds, told by the
// group's name (its number when the system knows no name). Empty otherwise.
std::string GroupThisLoginIsNotIn(std::string_view folder);
// For a write refused to this login at the Linux path `file` (an Error's file): "The login <login> may
// not write in the folder <its Windows name>", with ", which belongs to the group <group>; this login
// is not in it" when that is why, and a full stop. The folder is `file` when it is one, else its parent.
std::string LoginMayNotWriteIn(const std::filesystem::path &file);
// The whole of the small file at the Windows path `path` (at most `limit` bytes), read under the link
// rule of safe_file.h; none when it is missing or cannot be read.
std::optional<std::string> ReadSmallFile(std::string_view path, std::size_t limit);
// Makes `text` the whole of the file at the Windows path `path`: written under a hidden name with the
// access of its folder, synced and renamed into place. Raises the error of a failure.
void WriteWholeFile(std::string_view path, std::string_view text);

// The login name of the user running the process (logins.h), else $USER.
std::string UserName();

}  // namespace platform
