// DOS wildcard patterns ("*.*", "DATA?.MDB") as the copier matches file names against them.
#include <string>

#include "platform/files.h"
#include "platform/ascii.h"

namespace platform {

namespace {

// DOS matching, without regard to case: "*" any run, "?" one character (or none before a dot or at
// the end of the name), and a "." of the pattern also matches the end of a name that has no dot when
// only "*" and "?" follow it, so "*.*" and "DATA.*" take names without a dot as well, and "*." takes
// only those.
bool Matches(std::string_view pattern, std::string_view name, bool dotless) {
    if (pattern.empty()) return name.empty();
    const char p = pattern.front();
    if (p == '*') {
        for (size_t skip = 0; skip <= name.size(); ++skip)
            if (Matches(pattern.substr(1), name.substr(skip), dotless)) return true;
        return false;
    }
    if (p == '?') {
        if (!name.empty() && name.front() != '.' && Matches(pattern.substr(1), name.substr(1), dotless)) return true;
        return (name.empty() || name.front() == '.') && Matches(pattern.substr(1), name, dotless);
    }
    if (p == '.' && name.empty())
        return dotless && pattern.find_first_not_of("*?", 1) == std::string_view::npos;
    if (name.empty() || LowerChar(p) != LowerChar(name.front())) return false;
    return Matches(pattern.substr(1), name.substr(1), dotless);
}

// Collapses runs of "*" so that matching stays cheap on long names.
std::string Simplify(std::string_view pattern) {
    std::string out;
    for (char c : pattern)
        if (!(c == '*' && !out.empty() && out.back() == '*')) out += c;
    return out;
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    return Matches(Simplify(pattern.empty() ? std::string_view("*") : pattern), name,
                   name.find('.') == std::string_view::npos);
}

bool HasWildcard(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

}  // namespace platform
