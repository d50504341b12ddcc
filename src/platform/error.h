#pragma once
// Run-time errors of the utility: a number and a description, as the last-resort report shows them.
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// The platform names a file in a description by its Linux path and keeps that path in `file`; the tools
// show the description through platform::Message (paths.h), which names the file in its Windows form.
struct Error : std::exception {
    int number;
    std::string description;
    std::filesystem::path file;  // the Linux file the description names; empty when it names none
    std::string reason;          // FileError's: what went wrong with `file`
    bool fileErrorText = false;  // made by FileError: the description is FileErrorText's
    Error(int num, std::string desc, std::filesystem::path about = {});
    const char *what() const noexcept override { return description.c_str(); }
};

// "<description of `number`>: '<name>' (<reason>)"; numbers whose description names a file (3024, 3045,
// 3343) name it there only; no reason, no parentheses. An empty name is left out, and the text ends in
// a full stop: "Unrecognized database format (the file is empty)."
std::string FileErrorText(int number, std::string_view name, std::string_view reason = {});
// An error about `file` with FileErrorText's description, naming it `name` (by default its Linux path).
Error FileError(int number, const std::filesystem::path &file, std::string reason = {}, std::string_view name = {});

// The standard description of an error number ("Overflow", "File not found", ...).
// Numbers whose description names a path or a table take it as `subject`
// (3024 "Could not find file '<subject>'.", 3045, 3075, 3078, 3343).
std::string ErrorDescription(int number, const std::string &subject = {});

// Throws Error{number, description}; an empty description takes the standard one.
[[noreturn]] void Raise(int number, const std::string &description = {});

}  // namespace platform
