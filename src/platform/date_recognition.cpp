// Date recognition: what "is a date" means for a typed text (month/day/year order, no reordering).
#include <array>
#include <cctype>
#include <vector>

#include "platform/clock.h"
#include "platform/ascii.h"
#include "platform/error.h"

namespace platform {

using namespace std::chrono;

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// A run of 1..maxDigits digits as a number; -1 when it is not one.
int Number(std::string_view s, size_t maxDigits) {
    if (s.empty() || s.size() > maxDigits) return -1;
    int n = 0;
    for (char c : s) {
        if (!IsDigit(c)) return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// Years below 100 go through the two-digit-year window: 00-29 are 2000-2029, 30-99 are 1930-1999.
std::vector<std::string_view> SplitAt(std::string_view s, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == separator) {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

int WindowYear(int y) {
    if (y >= 100) return y;
    return y < 30 ? 2000 + y : 1900 + y;
}

int CurrentYear() { return static_cast<int>(year_month_day{floor<days>(Now())}.year()); }

std::optional<DateTime> Build(int y, int m, int d) {
    if (y < 0 || m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
    const year_month_day ymd{year{WindowYear(y)}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}};
    if (!ymd.ok() || static_cast<int>(ymd.year()) > 9999) return std::nullopt;
    return local_days{ymd};
}

// January .. December by full English name or three-letter abbreviation (plus "Sept"); 0 otherwise.
int MonthByName(std::string_view s) {
    static const std::array<const char *, 12> names = {"january", "february", "march",     "april",
                                                       "may",     "june",     "july",      "august",
                                                       "september", "october", "november", "december"};
    for (int i = 0; i < 12; ++i) {
        std::string_view full = names[static_cast<size_t>(i)];
        if (EqualsNoCase(s, full) || EqualsNoCase(s, full.substr(0, 3))) return i + 1;
    }
    return EqualsNoCase(s, "sept") ? 9 : 0;
}

// Numeric forms: m/d, m/d/y, yyyy/m/d with "/" or "-" (one kind of separator per text).
std::optional<DateTime> NumericDate(std::string_view s) {
    const std::vector<std::string_view> parts = SplitAt(s, s.find('/') != std::string_view::npos ? '/' : '-');
    if (parts.size() == 2) {  // month/day of the current year, or month/yyyy
        const int m = Number(parts[0], 2);
        if (parts[1].size() == 4) return Build(Number(parts[1], 4), m, 1);
        const int d = Number(parts[1], 2);
        if (m < 0 || d < 0) return std::nullopt;
        return Build(CurrentYear(), m, d);
    }
    if (parts.size() != 3) return std::nullopt;
    if (parts[0].size() >= 3) {  // yyyy-mm-dd
        const int y = Number(parts[0], 4), m = Number(parts[1], 2), d = Number(parts[2], 2);
        if (y < 100 || m < 0 || d < 0) return std::nullopt;
        return Build(y, m, d);
    }
    const int m = Number(parts[0], 2), d = Number(parts[1], 2), y = Number(parts[2], 4);
    if (m < 0 || d < 0 || y < 0) return std::nullopt;
    return Build(y, m, d);
}

// Forms with a month name: "May 1, 2017", "May 1 2017", "1 May 2017", "1-May-17", "May 1".
std::optional<DateTime> NamedDate(std::string_view s) {
    std::vector<std::string_view> tokens;
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (IsBlank(c) || c == ',' || c == '-' || c == '/' || c == '.') {
            ++i;
            continue;
        }
        size_t j = i;
        const bool digits = IsDigit(c);
        while (j < s.size() && (digits ? IsDigit(s[j]) : IsAlpha(s[j]))) ++j;
        if (j == i) return std::nullopt;  // a character that belongs to no form
        tokens.push_back(s.substr(i, j - i));
        i = j;
    }
    if (tokens.size() < 2 || tokens.size() > 3) return std::nullopt;
    int month = 0, dayIndex = -1;
    if ((month = MonthByName(tokens[0])) != 0)
        dayIndex = 1;
    else if ((month = MonthByName(tokens[1])) != 0)
        dayIndex = 0;
    else
        return std::nullopt;
    const int d = Number(tokens[static_cast<size_t>(dayIndex)], 2);
    const int y = tokens.size() == 3 ? Number(tokens[2], 4) : CurrentYear();
    if (d < 0 || y < 0) return std::nullopt;
    return Build(y, month, d);
}

std::optional<DateTime> CalendarDate(std::string_view s) {
    if (s.empty()) return std::nullopt;
    for (char c : s)
        if (IsAlpha(c)) return NamedDate(s);
    return NumericDate(s);
}

// A time of day: h:mm or h:mm:ss, optionally followed by AM/PM (or A/P), blanks before it allowed.
std::optional<seconds> TimeOfDay(std::string_view s) {
    std::string_view marker;
    size_t end = s.size();
    while (end > 0 && IsAlpha(s[end - 1])) --end;
    marker = s.substr(end);
    s = Trim(s.substr(0, end));
    const std::vector<std::string_view> parts = SplitAt(s, ':');
    if (parts.empty() || parts.size() > 3 || (parts.size() == 1 && marker.empty())) return std::nullopt;
    int h = Number(parts[0], 2);
    const int m = parts.size() >= 2 ? Number(parts[1], 2) : 0, sec = parts.size() == 3 ? Number(parts[2], 2) : 0;
    if (h < 0 || m < 0 || m > 59 || sec < 0 || sec > 59) return std::nullopt;
    if (!marker.empty()) {
        const bool am = EqualsNoCase(marker, "am") || EqualsNoCase(marker, "a");
        const bool pm = EqualsNoCase(marker, "pm") || EqualsNoCase(marker, "p");
        if ((!am && !pm) || h < 1 || h > 12) return std::nullopt;
        h = (h % 12) + (pm ? 12 : 0);
    } else if (h > 23) {
        return std::nullopt;
    }
    return hours{h} + minutes{m} + seconds{sec};
}

// "5/1/2017 10 PM": an hour alone is a time of day when AM or PM follows it.
size_t HourWithMarker(std::string_view text) {
    size_t end = text.size();
    while (end > 0 && IsAlpha(text[end - 1])) --end;
    const std::string_view marker = text.substr(end);
    if (!(EqualsNoCase(marker, "am") || EqualsNoCase(marker, "pm") || EqualsNoCase(marker, "a") ||
          EqualsNoCase(marker, "p")))
        return std::string_view::npos;
    while (end > 0 && IsBlank(text[end - 1])) --end;
    size_t start = end;
    while (start > 0 && IsDigit(text[start - 1])) --start;
    if (start == end || end - start > 2 || start == 0 || !IsBlank(text[start - 1])) return std::string_view::npos;
    return start - 1;
}

}  // namespace

std::optional<DateTime> RecognizeDate(std::string_view text) {
    text = Trim(text);
    const size_t colon = text.find(':');
    size_t blank;
    if (colon != std::string_view::npos)
        // The time of day is the last part of the text: it begins after the last blank before its colon.
        blank = text.find_last_of(" \t", colon);
    else if ((blank = HourWithMarker(text)) == std::string_view::npos)
        return CalendarDate(text);
    if (blank == std::string_view::npos) return std::nullopt;  // a time alone is no date
    auto date = CalendarDate(Trim(text.substr(0, blank)));
    auto time = TimeOfDay(text.substr(blank + 1));
    if (!date || !time) return std::nullopt;
    return *date + *time;
}

bool IsDate(std::string_view text) { return RecognizeDate(text).has_value(); }

DateTime DateValue(std::string_view text) {
    auto value = RecognizeDate(text);
    if (!value) Raise(13);
    return DateOnly(*value);
}

}  // namespace platform
