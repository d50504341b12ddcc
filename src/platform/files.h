#pragma once
// File operations on Windows paths. Failures raise the Visual Basic errors:
// 53 File not found, 76 Path not found, 75 Path/File access error, 70 Permission denied,
// 61 Disk full, 68 Device unavailable.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace platform {

bool FileExists(std::string_view path);    // an ordinary file

// Last-modified date and time of a file, in local wall-clock time. 53 when missing.
DateTime FileDateTime(std::string_view path);

// Names of the ordinary files (not folders, not hidden) that match a DOS wildcard pattern such as
// "C:\a\*.*" or "C:\a\DATA?.MDB" (case-insensitive; "*.*" matches every name, with or without a dot),
// in name order. A missing folder gives an empty list.
std::vector<std::string> ListFiles(std::string_view pattern);

// True when a file name matches a DOS wildcard pattern, as ListFiles matches them.
bool WildcardMatch(std::string_view pattern, std::string_view name);
bool HasWildcard(std::string_view text);

// Creates one folder; an existing one, or a missing parent, is an error (75 / 76).
void MkDir(std::string_view path);

// The login name of the user running the process.
std::string UserName();

}  // namespace platform

namespace platform {

// A text file held open for appending lines (CR LF after each). Opening creates a missing file
// (its folder must exist: 76) and raises at once when the file cannot be written, so a caller can
// make sure of the file before it changes anything else.
class TextAppender {
public:
    explicit TextAppender(std::string_view path);
    ~TextAppender();
    TextAppender(const TextAppender &) = delete;
    TextAppender &operator=(const TextAppender &) = delete;
    void WriteLine(std::string_view line);  // buffered
    void Close();                           // flushes; raises 61/75 when the data cannot be written
private:
    struct Impl;
    Impl *impl_;
};

// Lines for a text file that reach it only on Commit, all of them or none. Until then they wait in
// an unnamed temporary file in the file's folder, so a long batch keeps no lines in memory. Opening
// makes sure of the file at once, as TextAppender does; without Commit nothing is written to it.
class SpooledAppender {
public:
    explicit SpooledAppender(std::string_view path);
    ~SpooledAppender();
    SpooledAppender(const SpooledAppender &) = delete;
    SpooledAppender &operator=(const SpooledAppender &) = delete;
    void WriteLine(std::string_view line);
    // Appends every line written and closes the file. On failure the file is cut back to what it held
    // before and the error raised (61 Disk full, ...).
    void Commit();
private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
