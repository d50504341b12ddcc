// The error descriptions by number, and Raise.
#include "platform/error.h"

#include <map>

namespace platform {

Error::Error(int num, std::string desc, std::filesystem::path about)
    : number(num), description(std::move(desc)), file(std::move(about)) {}

std::string FileErrorText(int number, std::string_view name, std::string_view reason) {
    const bool describedWithName = number == 3024 || number == 3045 || number == 3343;
    std::string text;
    if (name.empty()) {
        text = number == 3024 ? "Could not find the file" : number == 3045 ? "The file is already in use"
             : number == 3343 ? "Unrecognized database format" : ErrorDescription(number);
    } else {
        text = ErrorDescription(number, std::string(name));
        if (!describedWithName) text += ": '" + std::string(name) + "'";
    }
    if (!reason.empty()) text += " (" + std::string(reason) + ")";
    if (name.empty() && !text.ends_with('.')) text += '.';
    return text;
}

Error FileError(int number, const std::filesystem::path &file, std::string reason, std::string_view name) {
    Error e(number, FileErrorText(number, name.empty() ? file.string() : name, reason), file);
    e.reason = std::move(reason);
    e.fileErrorText = true;
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
