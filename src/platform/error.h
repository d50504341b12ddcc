#pragma once
// Run-time errors of the utility: the facts of a failure (its number, the file, what was being done to
// it, why), put into words only where they are shown.
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// An error about a file keeps that file by its Linux path and says nothing of how the tools name it: the
// tools show it through platform::Message (paths.h), which names the file in its Windows form. what()
// names it by its Linux path (logs, programs without the drive map).
struct Error : std::exception {
    int number;
    std::string description;     // the words of an error about no file; empty for one about `file`
    std::filesystem::path file;  // the Linux file the error is about; empty when none
    std::string operation;       // what failed on `file`: "open", "read", "sync the folder of"...; may be empty
    int osError = 0;             // the system's reason (an errno value), told after `operation`; 0 when none
    std::string reason;          // why in words: the engine's message, or what a check found ("the file is empty")
    bool refusedLink = false;    // `file` is a link made by another user, which was not followed

    Error(int num, std::string desc);
    // The words: "<description of `number`>: '<name>' (<operation>: <system's reason>: <reason>)" for an
    // error about a file, named `name`; numbers whose description names a file (3024, 3045, 3343) name it
    // there only. An empty `name` leaves the file out, and the text then ends in a full stop
    // ("Unrecognized database format (the file is empty)."). A refused link always names it:
    // "'<name>' is a link made by another user; nothing was written".
    std::string Text(std::string_view name) const;
    const char *what() const noexcept override;  // Text with the Linux path

private:
    mutable std::string said_;  // what() returned last
};

// The words for a link of another login that was not followed: `link` (as the sentence names it), " is a
// link made by another user", then, with `nothingWas` ("written", "read"), "; nothing was <nothingWas>".
std::string LinkOfAnotherUser(std::string_view link, std::string_view nothingWas = {});

// An error about `file`: `reason` says why, when the number alone does not.
Error FileError(int number, const std::filesystem::path &file, std::string reason = {});

// The standard description of an error number ("Overflow", "File not found", ...).
// Numbers whose description names a path or a table take it as `subject`
// (3024 "Could not find file '<subject>'.", 3045, 3075, 3078, 3343).
std::string ErrorDescription(int number, const std::string &subject = {});

// Throws Error{number, description}; an empty description takes the standard one.
[[noreturn]] void Raise(int number, const std::string &description = {});

}  // namespace platform
