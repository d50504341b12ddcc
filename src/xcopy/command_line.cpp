// Splitting and reading the copier's command line.
#include "xcopy/command_line.h"

#include <cctype>

namespace xcopy {

std::vector<std::string> SplitArguments(std::string_view text) {
    std::vector<std::string> parts;
    std::string current;
    bool inQuotes = false;
    bool started = false;  // a quoted empty string "" is still an argument
    auto finish = [&] {
        if (started) parts.push_back(current);
        current.clear();
        started = false;
    };
    for (char c : text) {
        if (c == '"') {
            inQuotes = !inQuotes;
            started = true;
        } else if (!inQuotes && (c == ' ' || c == '\t')) {
            finish();
        } else if (!inQuotes && c == '/') {
            finish();
            current.push_back('/');
            started = true;
        } else {
            current += c;
            started = true;
        }
    }
    finish();
    return parts;
}

Options ParseCommandLine(std::string_view text) {
    Options options;
    std::vector<std::string> paths;
    for (const std::string &part : SplitArguments(text)) {
        if (part.empty() || part[0] != '/') {
            paths.push_back(part);
            continue;
        }
        // One token may hold several switches: "/sdy" is "/s /d /y".
        if (part.size() < 2) throw CommandLineError{"Invalid switch - " + part};
        for (size_t i = 1; i < part.size(); ++i) {
            switch (std::toupper(static_cast<unsigned char>(part[i]))) {
            case 'T': options.structureOnly = true; break;
            case 'S': options.subfolders = true; break;
            case 'D': options.newerOnly = true; break;
            case 'Y': options.noPrompt = true; break;
            default: throw CommandLineError{"Invalid switch - " + part};
            }
        }
    }
    if (paths.empty() || paths.size() > 2 || paths[0].empty())
        throw CommandLineError{"Invalid number of parameters"};
    options.source = paths[0];
    if (paths.size() == 2) options.destination = paths[1];
    return options;
}

}  // namespace xcopy
