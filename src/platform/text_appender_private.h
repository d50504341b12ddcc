#pragma once
// Private to platform_core: what SpooledAppender (text_appender.cpp) and PendingLines
// (pending_lines.cpp) share: the pending file's records, the spool of lines, the append under the
// log's lock.
//
// A batch's pending file, ".<log name>.<16 hex digits>.pending" beside the log, is made by its writer
// for itself alone to write (0640, the folder's group), locked (flock) by it for as long as it lives, and holds lines of text:
//   qvutil pending lines 2 <nanoseconds since the epoch when it was made>
//   note <the caller's note, hex>
//   log <the log's name, hex>
//   mark <the caller's mark, hex> <number of lines> <a digest of each line, 16 hex digits each>   (Prepare)
//   at <offset> <from>   (before each append: the log holds the batch's bytes from `from` on at `offset`)
//   done                 (when the file could not be removed after all)
// The lines themselves wait in an unnamed file, so a kill leaves nothing of them but what the caller
// can find again through its mark; each line's digest (the first 8 bytes of its SHA-256) tells whether
// a line found again is the one the batch wrote.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/safe_file.h"

namespace platform::appender_detail {

namespace fs = std::filesystem;

inline constexpr std::string_view kHeader = "qvutil pending lines 2";
inline constexpr std::string_view kSuffix = ".pending";
inline constexpr std::size_t kTokenDigits = 16;
inline constexpr std::size_t kBuffer = 1 << 16;

void Lock(int fd);
std::optional<std::string> FromHex(std::string_view hex);
// The first 16 hex digits of the line's Sha256Hex.
std::string LineDigest(std::string_view line);

// Lines waiting in an unnamed file of the log's folder (else of the temporary folder), CR LF after each
// (or other bytes: the digests of a batch's lines).
class Spool {
public:
    Spool(int folder, const fs::path &shown);
    void Add(std::string_view line);
    void AddBytes(std::string_view bytes);  // without a line end, not counted as a line
    void Flush();
    int fd() const { return fd_.get(); }
    std::uint64_t Size() const { return size_ + buffer_.size(); }
    std::uint64_t lines = 0;

private:
    fs::path shown_;
    Fd fd_;
    std::string buffer_;
    std::uint64_t size_ = 0;
};

// Appends one record to a pending file and syncs it; a record that a kill cut short is ended first.
// The bytes of `digests` (a spool of raw digests), when given, follow the record's text in hex,
// read and written a part at a time: a long batch's record is never held whole in memory.
class Spool;
void Record(int pending, std::string_view record, const fs::path &shown, Spool *digests = nullptr);
// Removes a pending file whose batch is done with; one that may not be removed is marked done.
void Finish(int pending, int folder, const std::string &name);
// Under the log's lock: appends the spool's bytes from `from` on (recording where first, unless
// `recorded` or `pending` is -1: another login's batch, read alone), syncs the log and removes the pending file; a failure cuts the log back and raises.
void AppendBatch(int log, int pending, int folder, const std::string &pendingName, Spool &spool, std::uint64_t from,
                 bool recorded, const fs::path &shown);
// The log for appending, created for every login as its folder allows.
Fd OpenLog(int folder, const std::string &name, const fs::path &shown);
// The name of the log whose pending file is `name`; empty when `name` is none.
std::string LogOf(std::string_view name);

}  // namespace platform::appender_detail
