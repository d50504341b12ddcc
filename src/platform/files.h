#pragma once
// File operations on Windows paths. Failures raise the Visual Basic errors:
// 53 File not found, 76 Path not found, 75 Path/File access error, 70 Permission denied,
// 61 Disk full, 68 Device unavailable.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
// case, a linked folder, two drives mapped onto one folder).
bool SameFolder(std::string_view a, std::string_view b);

// Raises 70 naming the file when this login may not write the existing file at the Windows path
// `path` (read-only for it, or on a read-only file system).
void RequireWritable(std::string_view path);

// The login name of the user running the process.
std::string UserName();
// The login name of the user `uid`; empty when the system knows none.
std::string LoginName(unsigned uid);

}  // namespace platform

namespace platform {

// A batch of lines for a log file that every login appends to (the audit file): the lines reach the
// file only on Commit, all of them or none, and once Prepare has made them durable a kill cannot lose
// them.
// - The file is reached without following another user's link and is created with its folder's
//   access (safe_file.h); opening raises at once when it cannot be written (76 for a missing folder,
//   70 naming a refused link), so a caller can make sure of it before it changes anything else.
// - The lines wait in an unnamed file of the same folder, so a long batch keeps no lines in memory.
// - Beside the file a pending file, readable and writable by its maker alone, holds `note`, the
//   caller's words for what the lines belong to, and the log's name. Prepare adds `mark`, how the
//   caller can find the lines again (say, the rows of its transaction that they describe), and a
//   digest of each line, and syncs it: a caller prepares before it commits the changes that the
//   lines describe, and commits the lines after them. A batch whose process ended before Commit
//   finished is completed through PendingLines.
class SpooledAppender {
public:
    explicit SpooledAppender(std::string_view path, std::string_view note = {});
    ~SpooledAppender();  // without Prepare, the pending file goes with the lines
    SpooledAppender(const SpooledAppender &) = delete;
    SpooledAppender &operator=(const SpooledAppender &) = delete;
    void WriteLine(std::string_view line);  // one line, without its line end (CR LF is added)
    void Prepare(std::string_view mark);
    // Appends every line written (after a line end when the file ends inside a line that a killed
    // writer cut short), syncs the file and removes the pending file. On failure the file is cut back to
    // what it held, the pending file stays for PendingLines, and the error is raised (61 Disk full, ...).
    void Commit();
private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// What the completion of a batch did: lines written, and lines of the batch that were not (their
// text is not found again as the batch wrote it).
struct CompletedLines {
    std::uint64_t written = 0, missing = 0;
};

// A prepared batch of a SpooledAppender whose process ended before its Commit finished.
class PendingLines {
public:
    // The pending files of the log files in `folder` (a Windows path) that no running process holds,
    // oldest first, each held until its object goes. Batches of this login or root that never reached
    // Prepare are removed on the way. A missing folder has none. A file that may not be trusted to
    // say what to write where is listed with the reason in Left(): one made by another login (only
    // root and the running login are trusted), a link, one with other names (hard links), one whose
    // content names another log than its name, or one of another format.
    static std::vector<PendingLines> In(std::string_view folder);
    PendingLines(PendingLines &&) noexcept;
    PendingLines &operator=(PendingLines &&) noexcept;
    ~PendingLines();

    const std::string &Name() const;  // of the pending file in its folder
    const std::string &Left() const;  // why it is left as it is; empty for a batch to complete
    const std::string &Log() const;   // the name of its log in the folder
    const std::string &Note() const;
    const std::string &Mark() const;
    std::uint64_t Lines() const;      // how many lines the batch wrote
    DateTime Made() const;            // when its writer began it (local time)
    // `next` gives the lines that the mark leads to now, each with its place in the batch (0 for the
    // first), places rising (false after the last). The log gets what it lacks of those that are the
    // batch's own, in order (a line that a kill cut short is completed, or written again whole when
    // others wrote after it); the others are counted as missing. The pending file goes. Raises as
    // Commit does (the pending file then stays), and 75 for a file that is Left().
    CompletedLines Complete(const std::function<bool(std::uint64_t &place, std::string &line)> &next);

private:
    PendingLines();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
