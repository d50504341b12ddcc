#pragma once
// The copier's command line: a source, a destination and the switches /T /S /D /Y.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xcopy {

struct Options {
    std::string source;                      // Windows path or pattern, quotes removed
    std::optional<std::string> destination;  // missing: the current folder
    bool structureOnly = false;              // /T
    bool subfolders = false;                 // /S
    bool newerOnly = false;                  // /D
    bool noPrompt = false;                   // /Y
    // Given by the backup before the text, never by a user's command line (process.h):
    std::string keepReplaced;                // a replaced file is moved into this Linux folder first
    bool databasesApart = false;             // databases are left out
};

// A command line the copier refuses; `message` is what it prints.
struct CommandLineError {
    std::string message;
};

// Splits the argument text as the Windows command processor hands it to the copier: at blanks and
// before every "/" outside double quotes; a quoted part keeps its blanks and loses its quotes.
std::vector<std::string> SplitArguments(std::string_view text);

// Parses the argument text; a switch token may hold several letters ("/sdy"). Throws CommandLineError
// for an unknown switch or a wrong number of paths.
Options ParseCommandLine(std::string_view text);

}  // namespace xcopy
