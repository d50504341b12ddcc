// The error descriptions by number, and Raise.
#include "platform/error.h"

#include <cstring>
#include <map>

namespace platform {

Error::Error(int num, std::string desc) : number(num), description(std::move(desc)) {}

std::string Error::Text(std::string_view name) const {
    if (refusedLink) return LinkOfAnotherUser("'" + std::string(name) + "'", "written");
    std::string detail = operation;
    if (osError && !operation.empty() && std::strerror(osError) != ErrorDescription(number))
        detail += std::string(": ") + std::strerror(osError);
    if (!reason.empty()) detail += (detail.empty() ? "" : ": ") + reason;
    if (file.empty()) return detail.empty() ? description : description + " (" + detail + ")";
    const bool describedWithName = number == 3024 || number == 3045 || number == 3343;
    std::string text;
    if (name.empty()) {
        text = number == 3024 ? "Could not find the file" : number == 3045 ? "The file is already in use"
             : number == 3343 ? "Unrecognized database format" : ErrorDescription(number);
    } else {
        text = ErrorDescription(number, std::string(name));
        if (!describedWithName) text += ": '" + std::string(name) + "'";
    }
    if (!detail.empty()) text += " (" + detail + ")";
    if (name.empty() && !text.ends_with('.')) text += '.';
    return text;
}

const char *Error::what() const noexcept {
    try {
        said_ = Text(file.string());
        return said_.c_str();
    } catch (...) {
        return description.c_str();
    }
}

std::string LinkOfAnotherUser(std::string_view link, std::string_view nothingWas) {
    std::string text = std::string(link) + " is a link made by another user";
    return nothingWas.empty() ? text : text + "; nothing was " + std::string(nothingWas);
}

Error FileError(int number, const std::filesystem::path &file, std::string reason) {
    Error e(number, {});
    e.file = file;
    e.reason = std::move(reason);
    return e;
}

std::string ErrorDescription(int number, const std::string &subject) {
    switch (number) {
    case 3024: return "Could not find file '" + subject + "'.";
    case 3045: return "Could not use '" + subject + "'; file already in use.";
    case 3075: return "Syntax error in query expression '" + subject + "'.";
    case 3078:
        return "The database engine cannot find the input table or query '" + subject +
               "'. Make sure it exists and that its name is spelled correctly.";
    case 3343: return "Unrecognized database format '" + subject + "'.";
    default: break;
    }
    static const std::map<int, std::string> fixed = {
        {5, "Invalid procedure call or argument"},
        {6, "Overflow"},
        {13, "Type mismatch"},
        {53, "File not found"},
        {58, "File already exists"},
        {61, "Disk full"},
        {68, "Device unavailable"},
        {70, "Permission denied"},
        {75, "Path/File access error"},
        {76, "Path not found"},
        {94, "Invalid use of Null"},
        {3021, "No current record."},
        {3027, "Cannot update. Database or object is read-only."},
        {3031, "Not a valid password."},
        {3061, "Too few parameters. Expected " + (subject.empty() ? std::string("1") : subject) + "."},
        {3265, "Item not found in this collection."},
    };
    auto it = fixed.find(number);
    if (it != fixed.end()) return it->second;
    return "Application-defined or object-defined error";
}

void Raise(int number, const std::string &description) {
    throw Error(number, description.empty() ? ErrorDescription(number) : description);
}

}  // namespace platform
