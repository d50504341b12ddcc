// Listing the ordinary files of a folder that match a DOS wildcard pattern.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "platform/files.h"
#include "platform/ascii.h"
#include "platform/paths.h"

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

bool LessNoCase(const std::string &a, const std::string &b) {
    const auto r = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                                [](char x, char y) { return LowerChar(x) < LowerChar(y); });
    if (r) return true;
    const bool reverse = std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
                                                      [](char x, char y) { return LowerChar(x) < LowerChar(y); });
    return !reverse && a < b;
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    return Matches(Simplify(pattern.empty() ? std::string_view("*") : pattern), name,
                   name.find('.') == std::string_view::npos);
}

bool HasWildcard(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

std::vector<std::string> ListFiles(std::string_view pattern) {
    const size_t cut = pattern.find_last_of("\\/");
    std::string folder;
    std::string_view namePattern;
    if (cut != std::string_view::npos) {
        folder = std::string(pattern.substr(0, cut + 1));
        namePattern = pattern.substr(cut + 1);
    } else if (pattern.size() >= 2 && pattern[1] == ':') {
        folder = std::string(pattern.substr(0, 2));
        namePattern = pattern.substr(2);
    } else {
        folder = ".";
        namePattern = pattern;
    }
    const std::filesystem::path dirPath = MapPath(folder);
    std::vector<std::string> names;
    DIR *dir = ::opendir(dirPath.c_str());
    if (!dir) return names;
    while (const dirent *e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.empty() || name.front() == '.' || !WildcardMatch(namePattern, name)) continue;
        struct stat st {};
        if (::stat((dirPath / name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), LessNoCase);
    return names;
}

}  // namespace platform
