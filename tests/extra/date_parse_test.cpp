#include "extra/date_parse.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scoped_env.h"

namespace {

constexpr time_t kSunday = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
constexpr time_t kNov6 = 784080000;    // 06 Nov 1994 00:00:00 GMT
// A zone with daylight-saving time in summer, given by rule so that it needs
// no zone files.
constexpr char kEastern[] = "EST5EDT,M4.1.0,M10.5.0";

struct Example {
    const char *text;
    time_t expected;
};

// Texts read with GMT as the default zone; every value holds in any local
// zone.
constexpr Example kExamples[] = {
    {"Sun, 06 Nov 1994 08:49:37 GMT", kSunday},
    {"Sunday, 06-Nov-94 08:49:37 GMT", kSunday},
    {"Sun Nov  6 08:49:37 1994", kSunday},
    {"Sun, 06 Nov 1994 08:49:37 -0800", 784140577},
    {"Sun, 06 Nov 1994 08:49:37 PST", 784140577},
    {"Sun, 06 Nov 1994 09:49:37 GMT+0100", kSunday},
    {"Sun, 06 Nov 1994 09:49:37 +0100", kSunday},
    {"Sun, 06 Nov 1994 10:49:37 +02", kSunday},
    {"Sun, 06 Nov 1994 10:49:37 EET", kSunday},
    {"06 Nov 1994 08:49:37 UT", kSunday},
    {"06 Nov 1994 08:49:37 UTC", kSunday},
    {"Nov 6 1994 8:49:37 pm", 784154977},
    {"Nov 6 1994 12:00 am", kNov6},
    {"Nov 6 1994 12:30 PM", 784125000},
    {"Nov 6 1994 14:30 pm", kNov6 + 14 * 3600 + 30 * 60},
    {"11/06/94", kNov6},
    {"13/06/94", 771465600},
    {"94/11/06", kNov6},
    {"94-11-06", kNov6},
    {"11/06/05", 1131235200},
    {"11/06/30", -1235606400},
    {"11/06/1994", kNov6},
    {"6 Nov 05", 1131235200},
    {"6 Nov 75", 184464000},
    {"JANUARY 1 1990", 631152000},
    {"Nov 6 1994 Dec 1995", kNov6},
    {"Nov 6 1994 08:49:37 09:00:00", kSunday},
    {"Sat Nov 6 1994", kNov6},
    {"11/40/94", kNov6 + 34 * 86400},
    // Texts without a full date.
    {"Sun, 06 Nov 08:49:37 GMT", 0},
    {"06 1994 08:49:37", 0},
    {"Nov 1994", 0},
    {"", 0},
    {"11/06/50", 0},
    {"1994-11-06", 0},
    {"Nov 6th 1994", 0},
    {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
};

void expect_examples() {
    for (const Example &e : kExamples) {
        EXPECT_EQ(ZEZ_ParseTimeString(e.text, 1), e.expected) << '"' << e.text << '"';
        time_t stored = -1;
        vel_str2time(e.text, &stored);
        EXPECT_EQ(stored, e.expected) << '"' << e.text << '"';
    }
}

TEST(DateParse, TheExamplesGiveTheirTimesInGmt) {
    ScopedEnv env;
    env.set("TZ", "UTC0");
    expect_examples();
}

TEST(DateParse, TheExamplesGiveTheSameTimesInAZoneWithSummerTime) {
    ScopedEnv env;
    env.set("TZ", kEastern);
    expect_examples();
    // A zone named in summer: the hour mktime takes for daylight-saving time
    // is given back.
    EXPECT_EQ(ZEZ_ParseTimeString("Wed, 06 Jul 1994 08:49:37 GMT", 1), 773484577);
}

TEST(DateParse, AZonelessTextIsLocalTimeWithoutTheGmtDefault) {
    ScopedEnv env;
    env.set("TZ", kEastern);
    // November: standard time, five hours behind GMT.
    EXPECT_EQ(ZEZ_ParseTimeString("06 Nov 1994 08:49:37 UTC", 0), kSunday + 5 * 3600);
    // July: the wall-clock noon of daylight-saving time, 16:00 GMT, with no
    // hour added on top.
    EXPECT_EQ(ZEZ_ParseTimeString("06 Jul 1994 12:00:00", 0), 773510400);
    // A named zone does not depend on the default.
    EXPECT_EQ(ZEZ_ParseTimeString("Sun, 06 Nov 1994 08:49:37 GMT", 0), kSunday);
}

TEST(DateParse, OnlyTheFirstOffsetOrZoneCounts) {
    ScopedEnv env;
    env.set("TZ", "UTC0");
    EXPECT_EQ(ZEZ_ParseTimeString("Sun, 06 Nov 1994 08:49:37 PST +0100", 1), 784140577);
    EXPECT_EQ(ZEZ_ParseTimeString("Sun, 06 Nov 1994 09:49:37 +0100 -0800", 1), kSunday);
    // Three or five digits are no offset.
    EXPECT_EQ(ZEZ_ParseTimeString("Sun, 06 Nov 1994 08:49:37 +010", 1), kSunday);
    EXPECT_EQ(ZEZ_ParseTimeString("Sun, 06 Nov 1994 08:49:37 +01000", 1), kSunday);
}

TEST(DateParse, MalformedClockTimesAreSkipped) {
    ScopedEnv env;
    env.set("TZ", "UTC0");
    EXPECT_EQ(ZEZ_ParseTimeString("Nov 6 1994 123:45", 1), kNov6);
    EXPECT_EQ(ZEZ_ParseTimeString("Nov 6 1994 12:345", 1), kNov6);
    EXPECT_EQ(ZEZ_ParseTimeString("Nov 6 1994 12:", 1), kNov6);
    EXPECT_EQ(ZEZ_ParseTimeString("Nov 6 1994 08:49:375", 1), kNov6);
    EXPECT_EQ(ZEZ_ParseTimeString("Nov 6 1994 08:49:", 1), kNov6 + 8 * 3600 + 49 * 60);
}

}  // namespace
