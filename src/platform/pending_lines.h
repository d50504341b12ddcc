#pragma once
// The batches of lines that a SpooledAppender (text_appender.h) prepared and whose process ended
// before they were committed, found and completed later.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace platform {

// What the completion of a batch did: lines written, and lines of the batch that were not (their
// text is not found again as the batch wrote it).
struct CompletedLines {
    std::uint64_t written = 0, missing = 0;
};

// A prepared batch of a SpooledAppender whose process ended before its Commit finished.
class PendingLines {
public:
    // The pending files of the log files in `folder` that no running process holds,
    // oldest first, each held until its object goes. Batches of this login or root that never reached
    // Prepare are removed on the way. A missing folder has none. A file that may not be trusted to
    // say what to write where is listed with the reason in Left(): one made by another login (only
    // root and the running login are trusted), a link, one with other names (hard links), one whose
    // content names another log than its name, or one of another format.
    static std::vector<PendingLines> In(const std::filesystem::path &folder);
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
