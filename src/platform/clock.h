#pragma once
// The clock, date recognition and date formats.
//
// A DateTime is a wall-clock value without time zone: a calendar day plus a time of day.
// A date without a time of day stands at midnight.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

using DateTime = std::chrono::local_seconds;

// Builds a DateTime; raises 13 (Type mismatch) when the date does not exist.
DateTime MakeDateTime(int year, unsigned month, unsigned day, int hour = 0, int minute = 0, int second = 0);

// The current date and time, through a seam that tests can set.
DateTime Now();
// Tests: make Now() return what `clock` returns; an empty function restores the real clock.
void SetClockForTests(std::function<DateTime()> clock);

// Date recognition: month/day/year order, "/" or "-" separators, 1-4 digit years (00-29 -> 20xx,
// 30-99 -> 19xx; m/d alone -> current year), English month names and abbreviations
// ("May 1, 2017", "1 May 2017", "1-May-17"), yyyy-mm-dd, each optionally followed by a time of day
// ("10:30", "10:30:15", "10:30 PM"). Leading and trailing blanks are allowed.
// Not dates: pure runs of digits, a time alone, days that do not exist (02/30/2021, 13/01/2021).
std::optional<DateTime> RecognizeDate(std::string_view text);
bool IsDate(std::string_view text);
// The calendar date of a text, at midnight; raises 13 (Type mismatch) when the text is not a date.
DateTime DateValue(std::string_view text);
// The date part of a value (time of day dropped).
DateTime DateOnly(DateTime value);
bool HasTimeOfDay(DateTime value);

// The short date form: "m/d/yyyy", or "m/d/yyyy h:nn:ss AM" when a time of day is present.
std::string ShortDateText(DateTime value);

// Format patterns as a Visual Basic Format renders them: d dd m mm y yy yyyy h hh n nn s ss AMPM AM/PM,
// letters in any case ("yyy" is "yy" then "y", the day of the year); "m"/"mm" directly after an
// "h"/"hh" token (literals between allowed) are minutes, anywhere else the month;
// hours are on the 12-hour clock when AMPM or AM/PM is present in the pattern; any other character is literal.
// Examples: "mm/dd/yyyy", "yyyymmdd hh:mm AMPM ", "MM/DD/YYYY HH:MM:SS", "mmddyyhhmmss", "YYYYMM".
std::string Format(DateTime value, std::string_view pattern);

// Storage text of the database files: "YYYY-MM-DD" at midnight, else "YYYY-MM-DD HH:MM:SS".
std::string StorageText(DateTime value);
// The same into `out`, written directly: it runs once per date of a bulk write.
void StorageText(DateTime value, std::string &out);
// Reads a storage text back (either form); nullopt when it is not one.
std::optional<DateTime> ParseStorageText(std::string_view text);

}  // namespace platform
