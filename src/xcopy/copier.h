#pragma once
// The copier's work: resolving the paths, walking the source tree and copying.
#include <ostream>
#include <string>
#include <string_view>

#include "xcopy/command_line.h"

namespace xcopy {

// Exit statuses.
inline constexpr int kSuccess = 0;        // including nothing to copy
inline constexpr int kLeftOut = 1;        // everything else copied, but links made by another user not followed
inline constexpr int kBadCommand = 4;     // bad command line, unmapped drive, missing source, cyclic copy
inline constexpr int kWriteFailure = 5;   // a file or folder could not be written

// How a copy ended: its exit status and, for a failure, the line that tells why.
struct Result {
    int status = kSuccess;
    std::string reason;
};

// Copies as `options` say, printing each file copied and "<n> File(s) copied" to `out`, and a note
// for each folder passed over as a loop and each link of another user not followed to `err`. The
// files a pass takes are those of platform::WalkCopySource.
Result Copy(const Options &options, std::ostream &out, std::ostream &err);

// Parses the argument text and copies; a refused command line prints its message.
// `backup` gives Options::keepReplaced and Options::databasesApart.
Result Run(std::string_view argumentText, std::ostream &out, std::ostream &err, const Options &backup = {});

}  // namespace xcopy
