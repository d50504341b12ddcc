#pragma once
// Lines appended to a log file that every login appends to (the audit file), all of them or none.
#include <filesystem>
#include <memory>
#include <string_view>

namespace platform {

// A batch of lines for a log file that every login appends to (the audit file): the lines reach the
// file only on Commit, all of them or none, and once Prepare has made them durable a kill cannot lose
// them.
// - The file is reached without following another user's link and is created with its folder's
//   access (safe_file.h); opening raises at once when it cannot be written (76 naming a missing folder,
//   70 naming a refused link), so a caller can make sure of it before it changes anything else.
// - The lines wait in an unnamed file of the same folder, so a long batch keeps no lines in memory;
//   a second thread digests them and writes them there while the caller goes on. A failure to write
//   them is raised by a later WriteLine or by Prepare.
// - Beside the file a pending file, written by its maker alone (the folder's group may read it),
//   holds `note`, the caller's words for what the lines belong to, and the log's name. Prepare adds
//   `mark`, how the caller can find the lines again (say, the rows of its transaction that they describe), and a
//   digest of each line, and syncs it: a caller prepares before it commits the changes that the
//   lines describe, and commits the lines after them. A batch whose process ended before Commit
//   finished is completed through PendingLines.
class SpooledAppender {
public:
    explicit SpooledAppender(const std::filesystem::path &path, std::string_view note = {});
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

}  // namespace platform
