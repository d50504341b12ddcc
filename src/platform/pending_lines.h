#pragma once
// The batches of lines that a SpooledAppender (text_appender.h) prepared and whose process ended
// before they were committed, found and completed later.
#include <cstddef>
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

// What PendingLines::Each passed over.
struct PendingPassed {
    std::uint64_t others = 0;  // names of other logins that it may not complete (not examined)
    std::uint64_t later = 0;   // beyond the number examined at one call: left for a later one
};

// A prepared batch of a SpooledAppender whose process ended before its Commit finished.
class PendingLines {
public:
    // At most this many pending files are examined at one call of Each.
    static constexpr std::size_t kExamined = 100;
    // Calls `each` with the pending files of the log files in `folder` that no running process holds,
    // one at a time, each open only while `each` runs: first those of the running login (and root),
    // then those of the other logins of the folder's group, each in the order they were last written;
    // at most kExamined of them. Batches of this login or root that never reached Prepare are removed
    // on the way. A missing folder has none.
    // Only a batch that its maker alone could write says what to write where: one of the running login
    // or root, or of another login of the folder's group (SpooledAppender lets the group read it) that
    // no login outside the group may write and that the running login may remove. Every other name is
    // only counted, never opened. A file that may not be trusted is passed with the reason in Left():
    // a link, one with other names (hard links), one whose content names another log than its name,
    // or one of another format.
    static PendingPassed Each(const std::filesystem::path &folder, const std::function<void(PendingLines &)> &each);
    PendingLines(PendingLines &&) noexcept;
    PendingLines &operator=(PendingLines &&) noexcept;
    ~PendingLines();

    const std::string &Name() const;  // of the pending file in its folder
    const std::string &Left() const;  // why it is left as it is; empty for a batch to complete
    bool Own() const;                 // made by the running login or root
    const std::string &Log() const;   // the name of its log in the folder
    const std::string &Note() const;
    const std::string &Mark() const;
    std::uint64_t Lines() const;      // how many lines the batch wrote
    DateTime Made() const;            // when its writer began it (local time)
    // `next` gives the lines that the mark leads to now, each with its place in the batch (0 for the
    // first), places rising (false after the last). The log gets what it lacks of those that are the
    // batch's own, in order (a line that a kill cut short is completed, or written again whole when
    // others wrote after it); the others are counted as missing. The pending file goes. Raises as
    // Commit does (the pending file then stays), and 75 for a file that is Left(). Another login's batch,
    // which this login may only read, records nothing in it: a kill during that append may leave a
    // line twice.
    CompletedLines Complete(const std::function<bool(std::uint64_t &place, std::string &line)> &next);

private:
    PendingLines();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
