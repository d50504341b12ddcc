#pragma once
// The copier's work: resolving the paths, walking the source tree and copying.
#include <ostream>
#include <string_view>

#include "xcopy/command_line.h"

namespace xcopy {

// Exit statuses.
inline constexpr int kSuccess = 0;        // including nothing to copy
inline constexpr int kBadCommand = 4;     // bad command line, unmapped drive, missing source, cyclic copy
inline constexpr int kWriteFailure = 5;   // a file or folder could not be written

// Copies as `options` say, printing each file copied and "<n> File(s) copied" to `out`, and a note
// for each folder passed over as a loop to `err`.
int Copy(const Options &options, std::ostream &out, std::ostream &err);

// Parses the argument text and copies; a refused command line prints its message.
int Run(std::string_view argumentText, std::ostream &out, std::ostream &err);

}  // namespace xcopy
