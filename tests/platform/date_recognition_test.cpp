#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/error.h"

using namespace platform;

namespace {

// Pins Now() for the life of the object.
struct FixedClock {
    explicit FixedClock(DateTime t) {
        SetClockForTests([t] { return t; });
    }
    ~FixedClock() { SetClockForTests({}); }
};

struct Recognized {
    const char *text;
    int y;
    unsigned m, d;
    int h, mi, s;
};

TEST(DateRecognition, AcceptsTheTypedFormsInMonthDayYearOrder) {
    FixedClock clock(MakeDateTime(2023, 8, 9, 15, 0, 0));
    const Recognized cases[] = {
        {"5/1/17", 2017, 5, 1, 0, 0, 0},
        {"5-1-17", 2017, 5, 1, 0, 0, 0},
        {"05/01/2017", 2017, 5, 1, 0, 0, 0},
        {"12/31/1999", 1999, 12, 31, 0, 0, 0},
        {"May 1, 2017", 2017, 5, 1, 0, 0, 0},
        {"may 1 2017", 2017, 5, 1, 0, 0, 0},
        {"1 May 2017", 2017, 5, 1, 0, 0, 0},
        {"1-May-17", 2017, 5, 1, 0, 0, 0},
        {"September 30, 2020", 2020, 9, 30, 0, 0, 0},
        {"2017-05-01", 2017, 5, 1, 0, 0, 0},
        {"5/1/2017 10:30", 2017, 5, 1, 10, 30, 0},
        {"5/1/2017 10:30:15", 2017, 5, 1, 10, 30, 15},
        {"5/1/2017 10:30 PM", 2017, 5, 1, 22, 30, 0},
        {"5/1/2017 12:05 am", 2017, 5, 1, 0, 5, 0},
        {"5/1/2017 12:05PM", 2017, 5, 1, 12, 5, 0},
        {"  5/1/17  ", 2017, 5, 1, 0, 0, 0},
        {"2/29/2024", 2024, 2, 29, 0, 0, 0},
        {"5/1", 2023, 5, 1, 0, 0, 0},      // month/day alone: the current year
        {"Dec 25", 2023, 12, 25, 0, 0, 0},
        {"5/2017", 2017, 5, 1, 0, 0, 0},    // month/yyyy: the first of the month
        {"5/1/2017 10 PM", 2017, 5, 1, 22, 0, 0},
        {"May 1, 2017 7:05:09 am", 2017, 5, 1, 7, 5, 9},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        auto v = RecognizeDate(c.text);
        ASSERT_TRUE(v.has_value());
        EXPECT_EQ(*v, MakeDateTime(c.y, c.m, c.d, c.h, c.mi, c.s));
        EXPECT_TRUE(IsDate(c.text));
    }
}

TEST(DateRecognition, TwoDigitYearWindowAndShortYears) {
    EXPECT_EQ(*RecognizeDate("1/1/00"), MakeDateTime(2000, 1, 1));
    EXPECT_EQ(*RecognizeDate("1/1/29"), MakeDateTime(2029, 1, 1));
    EXPECT_EQ(*RecognizeDate("1/1/30"), MakeDateTime(1930, 1, 1));
    EXPECT_EQ(*RecognizeDate("9/9/99"), MakeDateTime(1999, 9, 9));
    EXPECT_EQ(*RecognizeDate("9/9/9"), MakeDateTime(2009, 9, 9));
    EXPECT_EQ(*RecognizeDate("1/2/123"), MakeDateTime(123, 1, 2));
}

TEST(DateRecognition, RefusesWhatIsNoDate) {
    const char *refused[] = {
        "",          "   ",        "5117",       "051517",     "05152017",  "10:30",    "10:30 PM",
        "02/30/2021", "13/01/2021", "0/51/17",   "2/29/2023",  "5/0/17",    "5/1/17/3", "5//17",
        "May 2017",  "Mai 1, 2017", "5/1/2017 25:00", "5/1/2017 10:60", "5/1/2017 13:00 PM",
        "5/1/2017 10:30 XM", "5/1/2017T10:30", "abc",   "1/1/10000",  "5.1.17",
        "10 PM",     "5/1/2017 13 PM", "5/1/2017 10", "2/30", "13/5", "5/201",
    };
    for (const char *text : refused) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(IsDate(text));
    }
}

TEST(DateRecognition, DateValueDropsTheTimeAndRaisesTypeMismatch) {
    EXPECT_EQ(DateValue("5/1/2017 10:30 PM"), MakeDateTime(2017, 5, 1));
    EXPECT_FALSE(HasTimeOfDay(DateValue("5/1/2017 10:30 PM")));
    try {
        DateValue("0/51/17");
        FAIL() << "no error";
    } catch (const Error &e) {
        EXPECT_EQ(e.number, 13);
        EXPECT_EQ(e.description, "Type mismatch");
    }
}

TEST(DateRecognition, MakeDateTimeRefusesDaysThatDoNotExist) {
    EXPECT_THROW(MakeDateTime(2021, 2, 29), Error);
    EXPECT_THROW(MakeDateTime(2021, 13, 1), Error);
    EXPECT_THROW(MakeDateTime(2021, 1, 1, 24), Error);
    EXPECT_NO_THROW(MakeDateTime(2020, 2, 29, 23, 59, 59));
}

TEST(Clock, SeamReplacesAndRestoresTheRealClock) {
    {
        FixedClock clock(MakeDateTime(2001, 2, 3, 4, 5, 6));
        EXPECT_EQ(Now(), MakeDateTime(2001, 2, 3, 4, 5, 6));
    }
    // The real clock is back: a recent date, not the pinned one.
    EXPECT_GT(Now(), MakeDateTime(2020, 1, 1));
}

}  // namespace
