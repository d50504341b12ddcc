#pragma once
// The entries of the read-date window: what counts as valid in its three fields (bill date,
// incorrect read date or ALL, new read date) and how a date entry goes into a query.
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/ascii.h"

namespace readdates {

// The code list's entry for every code (its leading blank belongs to it).
inline constexpr const char *kAllCodes = " ALL CODES";

// The entries of a run as the window holds them when Continue is pressed, and as the record of runs
// keeps them (an undo's entries are those of the run it undoes, its dates the other way round).
struct RunEntries {
    std::string billDate;  // txt(0)
    std::string code;      // cboCode: kAllCodes or one code
    std::string fromDate;  // txt(1): the incorrect read date, or ALL in any letter case
    std::string toDate;    // txt(2): the new read date
};

// A query's date literal for a date entry: its calendar date in the short date form, between "#".
inline std::string DateLiteral(std::string_view text) {
    return "#" + platform::ShortDateText(platform::DateValue(text)) + "#";
}

// A condition on a date column for the calendar day of a date entry, whatever time of day a stored value
// carries: the count then finds the readings that the run (which compares date values) would change.
inline std::string OnDay(const std::string &column, std::string_view text) {
    const platform::DateTime day = platform::DateValue(text);
    return "(" + column + " >= #" + platform::ShortDateText(day) + "# and " + column + " < #" +
           platform::ShortDateText(day + std::chrono::days{1}) + "#)";
}

// The keyword of the incorrect-read-date field: "ALL" in any letter case, no blanks around it.
inline bool IsAllKeyword(std::string_view text) {
    if (text.size() != 3) return false;
    for (std::size_t i = 0; i < 3; ++i)
        if ((text[i] & ~0x20) != "ALL"[i]) return false;
    return true;
}


// All three entries valid: Continue may start a run.
inline bool EntriesValid(std::string_view billDate, std::string_view incorrectReadDate, std::string_view newReadDate) {
    return platform::IsDate(billDate) && (IsAllKeyword(incorrectReadDate) || platform::IsDate(incorrectReadDate)) &&
           platform::IsDate(newReadDate);
}

}  // namespace readdates
