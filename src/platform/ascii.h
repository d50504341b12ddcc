// ASCII text helpers: case folding and blanks as the stored names, keywords and entries use them,
// independent of the locale.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace platform {

inline char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string Lower(std::string_view s) {
    std::string out(s);
    for (char &c : out) c = LowerChar(c);
    return out;
}

inline std::string Upper(std::string_view s) {
    std::string out(s);
    for (char &c : out) c = UpperChar(c);
    return out;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerChar(x) == LowerChar(y); });
}

// A blank separates words: a space or a tab.
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The text without leading and trailing spaces (stored fields are padded with spaces).
inline std::string TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// Whether the text holds nothing but spaces.
inline bool IsAllSpaces(std::string_view text) { return text.find_first_not_of(' ') == std::string_view::npos; }

// `text` ending in a full stop, as a sentence of a message box. A description that ends in a full stop
// followed by its detail in parentheses ("... this value. (refused)") is one already.
inline std::string WithFullStop(const std::string &text) {
    const std::size_t detail = text.rfind(" (");
    const bool explained = text.ends_with(')') && detail != std::string::npos && detail > 0 && text[detail - 1] == '.';
    return text.ends_with('.') || explained ? text : text + ".";
}

}  // namespace platform
