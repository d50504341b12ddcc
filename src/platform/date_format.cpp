// Date to text: the short date form, Visual Basic Format patterns and the storage text of the databases.
#include <array>
#include <cctype>
#include <cstdio>
#include <vector>

#include "platform/clock.h"

namespace platform {

using namespace std::chrono;

namespace {

struct Parts {
    int year;
    unsigned month, day, weekday;  // weekday: 1 = Sunday
    int hour, minute, second;
    int dayOfYear;
};

Parts Split(DateTime value) {
    const local_days dayStart = floor<days>(value);
    const year_month_day ymd{dayStart};
    const hh_mm_ss<seconds> tod{value - dayStart};
    const local_days newYear{ymd.year() / January / 1};
    return {static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
            weekday{dayStart}.c_encoding() + 1, static_cast<int>(tod.hours().count()),
            static_cast<int>(tod.minutes().count()), static_cast<int>(tod.seconds().count()),
            static_cast<int>((dayStart - newYear).count()) + 1};
}

std::string Num(long n, int width) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%0*ld", width, n);
    return buf;
}

int Hour12(int hour) { return hour % 12 == 0 ? 12 : hour % 12; }

const std::array<const char *, 12> kMonths = {"January", "February", "March",     "April",   "May",      "June",
                                              "July",    "August",   "September", "October", "November", "December"};
const std::array<const char *, 7> kWeekdays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                               "Thursday", "Friday", "Saturday"};

// One token of a Format pattern: a field (kind letter and count) or literal text.
struct Token {
    char kind;  // 'y' 'q' 'm' 'd' 'w' 'h' 'n' 's' 'a' (AM/PM) or 0 for literal
    size_t count;
    std::string text;  // literal text, or the AM/PM spelling as written
};

bool StartsNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

std::vector<Token> Tokenize(std::string_view p) {
    std::vector<Token> out;
    auto literal = [&](std::string_view t) {
        if (!out.empty() && out.back().kind == 0)
            out.back().text += t;
        else
            out.push_back({0, 0, std::string(t)});
    };
    size_t i = 0;
    while (i < p.size()) {
        const std::string_view rest = p.substr(i);
        if (StartsNoCase(rest, "am/pm") || StartsNoCase(rest, "ampm") || StartsNoCase(rest, "a/p")) {
            const size_t n = StartsNoCase(rest, "am/pm") ? 5 : StartsNoCase(rest, "ampm") ? 4 : 3;
            out.push_back({'a', n, std::string(rest.substr(0, n))});
            i += n;
            continue;
        }
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(p[i])));
        if (c == '\\' && i + 1 < p.size()) {
            literal(p.substr(i + 1, 1));
            i += 2;
            continue;
        }
        if (c == '"') {
            const size_t close = p.find('"', i + 1);
            const size_t end = close == std::string_view::npos ? p.size() : close;
            literal(p.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        if (std::string_view("yqmdwhns").find(c) == std::string_view::npos) {
            literal(p.substr(i, 1));
            ++i;
            continue;
        }
        size_t j = i;
        while (j < p.size() && std::tolower(static_cast<unsigned char>(p[j])) == c) ++j;
        size_t count = j - i;
        i = j;
        if (c != 'y') {
            out.push_back({c, count, {}});
            continue;
        }
        // Years come as yyyy, yy and y fields: "yyy" is "yy" followed by "y".
        for (size_t width : {4, 2, 1})
            for (; count >= width; count -= width) out.push_back({'y', width, {}});
    }
    // "m" right after an hour field (literals between allowed) is minutes; anywhere else it is the month.
    char previous = 0;
    for (Token &t : out) {
        if (t.kind == 0) continue;
        if (t.kind == 'm' && t.count <= 2 && previous == 'h') t.kind = 'n';
        previous = t.kind;
    }
    return out;
}

std::string AmPm(const Token &t, int hour) {
    const bool pm = hour >= 12;
    if (t.count == 3) {  // A/P: one letter, in the case written
        const char letter = pm ? t.text[2] : t.text[0];
        return std::string(1, letter);
    }
    const bool lower = t.count == 5 && std::islower(static_cast<unsigned char>(t.text[0]));
    return lower ? (pm ? "pm" : "am") : (pm ? "PM" : "AM");
}

}  // namespace

std::string Format(DateTime value, std::string_view pattern) {
    const Parts v = Split(value);
    const std::vector<Token> tokens = Tokenize(pattern);
    bool twelveHour = false;
    for (const Token &t : tokens) twelveHour = twelveHour || t.kind == 'a';
    const int hour = twelveHour ? Hour12(v.hour) : v.hour;
    std::string out;
    for (const Token &t : tokens) {
        const int w = t.count >= 2 ? 2 : 1;
        switch (t.kind) {
        case 0: out += t.text; break;
        case 'y':
            out += t.count == 4 ? Num(v.year, 4) : t.count == 2 ? Num(v.year % 100, 2) : Num(v.dayOfYear, 1);
            break;
        case 'q': out += Num((v.month - 1) / 3 + 1, 1); break;
        case 'm':
            if (t.count >= 4)
                out += kMonths[v.month - 1];
            else if (t.count == 3)
                out += std::string(kMonths[v.month - 1]).substr(0, 3);
            else
                out += Num(v.month, w);
            break;
        case 'd':
            if (t.count >= 4)
                out += kWeekdays[v.weekday - 1];
            else if (t.count == 3)
                out += std::string(kWeekdays[v.weekday - 1]).substr(0, 3);
            else
                out += Num(v.day, w);
            break;
        case 'w': out += Num(v.weekday, 1); break;
        case 'h': out += Num(hour, w); break;
        case 'n': out += Num(v.minute, w); break;
        case 's': out += Num(v.second, w); break;
        case 'a': out += AmPm(t, v.hour); break;
        }
    }
    return out;
}

std::string ShortDateText(DateTime value) {
    if (!HasTimeOfDay(value)) return Format(value, "m/d/yyyy");
    return Format(value, "m/d/yyyy h:nn:ss AMPM");
}

std::string StorageText(DateTime value) {
    std::string out;
    StorageText(value, out);
    return out;
}

void StorageText(DateTime value, std::string &out) {
    const auto day = floor<days>(value);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> t{value - day};
    const int y = static_cast<int>(ymd.year());
    if (y < 1 || y > 9999) {
        out = Format(value, HasTimeOfDay(value) ? "yyyy-mm-dd hh:nn:ss" : "yyyy-mm-dd");
        return;
    }
    auto put = [](char *p, long v, int width) {
        for (int i = width - 1; i >= 0; --i, v /= 10) p[i] = static_cast<char>('0' + v % 10);
    };
    char buf[19] = {'0', '0', '0', '0', '-', '0', '0', '-', '0', '0', ' ', '0', '0', ':', '0', '0', ':', '0', '0'};
    put(buf, y, 4);
    put(buf + 5, static_cast<unsigned>(ymd.month()), 2);
    put(buf + 8, static_cast<unsigned>(ymd.day()), 2);
    if (t.to_duration().count() == 0) {
        out.assign(buf, 10);
        return;
    }
    put(buf + 11, t.hours().count(), 2);
    put(buf + 14, t.minutes().count(), 2);
    put(buf + 17, t.seconds().count(), 2);
    out.assign(buf, 19);
}

std::optional<DateTime> ParseStorageText(std::string_view text) {
    auto num = [&](size_t at, size_t len) {
        int n = 0;
        for (size_t i = at; i < at + len; ++i) {
            if (text[i] < '0' || text[i] > '9') return -1;
            n = n * 10 + (text[i] - '0');
        }
        return n;
    };
    if (text.size() != 10 && text.size() != 19) return std::nullopt;
    if (text[4] != '-' || text[7] != '-') return std::nullopt;
    const int y = num(0, 4), m = num(5, 2), d = num(8, 2);
    int h = 0, mi = 0, s = 0;
    if (text.size() == 19) {
        if ((text[10] != ' ' && text[10] != 'T') || text[13] != ':' || text[16] != ':') return std::nullopt;
        h = num(11, 2), mi = num(14, 2), s = num(17, 2);
    }
    if (y < 100 || m < 1 || d < 1 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59) return std::nullopt;
    const year_month_day ymd{year{y}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}};
    if (!ymd.ok()) return std::nullopt;
    return local_days{ymd} + hours{h} + minutes{mi} + seconds{s};
}

}  // namespace platform
