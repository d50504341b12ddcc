#pragma once
// Run-time errors of the utility: a number and a description, as the last-resort report shows them.
#include <exception>
#include <string>

namespace platform {

struct Error : std::exception {
    int number;
    std::string description;
    Error(int num, std::string desc);
    const char *what() const noexcept override { return description.c_str(); }
};

// The standard description of an error number ("Overflow", "File not found", ...).
// Numbers whose description names a path or a table take it as `subject`
// (3024 "Could not find file '<subject>'.", 3045, 3075, 3078, 3343).
std::string ErrorDescription(int number, const std::string &subject = {});

// Throws Error{number, description}; an empty description takes the standard one.
[[noreturn]] void Raise(int number, const std::string &description = {});

}  // namespace platform
