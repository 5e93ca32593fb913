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
    // A zone named in summer: local daylight-saving time takes no part.
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

namespace {

// Zones whose summer time, or whose change of standard offset, the
// conversion must not lean on. The zone files are on the build machines.
struct Zone {
    const char *tz;
    time_t local_jan;  // "16 Jan 2024 10:20:30" read as local time
    time_t local_aug;  // "15 Aug 2012 12:00:00" read as local time
};
// Expected values from Python 3.11 offline: the zoned texts through
// email.utils.parsedate_tz and mktime_tz; the local readings through
// time.mktime of the parsed fields with isdst -1, under each TZ.
constexpr Zone kZones[] = {
    {"UTC0", 1705400430, 1345032000},
    {"America/New_York", 1705418430, 1345046400},
    {"Europe/Berlin", 1705396830, 1345024800},
    {"Europe/Dublin", 1705400430, 1345028400},        // winter is its "daylight" time
    {"Australia/Lord_Howe", 1705360830, 1344994200},  // 30-minute summer time
    {"Europe/Moscow", 1705389630, 1345017600},        // +04 all year in 2012
};
constexpr Example kZoned[] = {
    {"Sun, 10 Mar 2024 07:30:00 GMT", 1710055800},    // New York's first summer hour
    {"Sun, 31 Mar 2024 01:30:00 +0000", 1711848600},  // Berlin's first summer hour
    {"Tue, 16 Jan 2024 10:20:30 GMT", 1705400430},
    {"16 Jan 2024 10:20:30", 1705400430},  // GMT by default
    {"Fri, 12 Jan 2024 08:34:05 +0530", 1705028645},
    {"Wed, 15 Aug 2012 12:00:00 +0400", 1345017600},
    {"Sat, 14 Jul 2012 09:08:07 EDT", 1342271287},
    {"Thu, 13 Jun 2024 23:59:59 -0330", 1718335799},
    {"Sun, 03 Nov 2024 01:30:00 PST", 1730626200},
};

TEST(DateParse, AZonedTextNamesTheSameInstantInEveryLocalZone) {
    for (const Zone &zone : kZones) {
        ScopedEnv env;
        env.set("TZ", zone.tz);
        for (const Example &e : kZoned) {
            EXPECT_EQ(ZEZ_ParseTimeString(e.text, 1), e.expected)
                << zone.tz << " \"" << e.text << '"';
        }
        EXPECT_EQ(ZEZ_ParseTimeString("16 Jan 2024 10:20:30", 0), zone.local_jan) << zone.tz;
        EXPECT_EQ(ZEZ_ParseTimeString("15 Aug 2012 12:00:00", 0), zone.local_aug) << zone.tz;
    }
}

}  // namespace
