#include <gtest/gtest.h>

#include "platform/clock.h"

using namespace platform;

namespace {

struct Formatted {
    DateTime value;
    const char *pattern;
    const char *expected;
};

TEST(DateFormat, PatternsOfTheTools) {
    const Formatted cases[] = {
        {MakeDateTime(2017, 5, 17, 21, 8), "yyyymmdd hh:mm AMPM ", "20170517 09:08 PM "},
        {MakeDateTime(2017, 5, 17, 0, 7), "yyyymmdd hh:mm AMPM ", "20170517 12:07 AM "},
        {MakeDateTime(2017, 5, 17, 12, 0), "yyyymmdd hh:mm AMPM ", "20170517 12:00 PM "},
        {MakeDateTime(2024, 3, 7, 14, 5, 9), "MM/DD/YYYY HH:MM:SS", "03/07/2024 14:05:09"},
        {MakeDateTime(2024, 3, 7, 0, 0, 0), "MM/DD/YYYY HH:MM:SS", "03/07/2024 00:00:00"},
        {MakeDateTime(2026, 12, 4, 22, 37, 5), "mmddyyhhmmss", "120426223705"},
        {MakeDateTime(2017, 5, 17), "YYYYMM", "201705"},
        {MakeDateTime(2017, 5, 1), "mm/dd/yyyy", "05/01/2017"},
        {MakeDateTime(2017, 11, 30), "mm/dd/yyyy", "11/30/2017"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(Format(c.value, c.pattern), c.expected);
    }
}

TEST(DateFormat, GeneralTokensAndLiterals) {
    const DateTime t = MakeDateTime(2009, 1, 4, 7, 3, 2);  // a Sunday
    EXPECT_EQ(Format(t, "m/d/yy h:n:s"), "1/4/09 7:3:2");
    EXPECT_EQ(Format(t, "h:mm"), "7:03");             // m after h: minutes
    EXPECT_EQ(Format(t, "mm:ss yyy"), "01:02 094");   // m before s: month; yyy is yy then y
    EXPECT_EQ(Format(t, "hh dd mm"), "07 04 01");     // a day field between: month again
    EXPECT_EQ(Format(t, "h am/pm"), "7 am");
    EXPECT_EQ(Format(t, "h A/P"), "7 A");
    EXPECT_EQ(Format(t, "dddd, mmmm d"), "Sunday, January 4");
    EXPECT_EQ(Format(t, "ddd mmm"), "Sun Jan");
    EXPECT_EQ(Format(t, "\"day\" d \\d"), "day 4 d");
    EXPECT_EQ(Format(t, "yyyy-mm-dd_#"), "2009-01-04_#");
}

TEST(DateFormat, ShortDateText) {
    EXPECT_EQ(ShortDateText(MakeDateTime(2021, 5, 1)), "5/1/2021");
    EXPECT_EQ(ShortDateText(MakeDateTime(2021, 12, 25, 22, 5, 9)), "12/25/2021 10:05:09 PM");
    EXPECT_EQ(ShortDateText(MakeDateTime(2021, 12, 25, 0, 30, 0)), "12/25/2021 12:30:00 AM");
    // The short form reads back as the same value.
    const DateTime t = MakeDateTime(1999, 7, 4, 13, 14, 15);
    EXPECT_EQ(RecognizeDate(ShortDateText(t)), t);
}

TEST(DateFormat, StorageTextRoundTrip) {
    EXPECT_EQ(StorageText(MakeDateTime(2021, 5, 1)), "2021-05-01");
    EXPECT_EQ(StorageText(MakeDateTime(2021, 5, 1, 0, 0, 1)), "2021-05-01 00:00:01");
    for (const DateTime t : {MakeDateTime(2021, 5, 1), MakeDateTime(1930, 12, 31, 23, 59, 59)})
        EXPECT_EQ(ParseStorageText(StorageText(t)), t);
    EXPECT_EQ(ParseStorageText("2021-05-01T08:09:10"), MakeDateTime(2021, 5, 1, 8, 9, 10));
    for (const char *bad : {"", "2021-5-1", "2021-02-30", "05/01/2021", "2021-05-01 24:00:00", "2021-05-01 10:00",
                            "2021-05-01x"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseStorageText(bad).has_value());
    }
}

}  // namespace
