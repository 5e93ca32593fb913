#include "extra/date_parse.h"
#include "extra/timestr.h"

#include <gtest/gtest.h>

#include "support/scoped_env.h"

namespace {

struct Row {
    void (*format)(time_t, char *, size_t);
    time_t t;
    const char *text;
};

// Read in a zone five hours behind GMT: only the informix form follows it.
constexpr Row kRows[] = {
    {vel_time2str, 0, "Thu, 01 Jan 1970 00:00:00 GMT"},
    {vel_time2str_simple_dateonly, 0, "01/01/70"},
    {vel_time2str_simple_datetimeonly, 0, "01/01/70 00:00:00"},
    {vel_time2informix, 0, "1969-12-31 19:00:00"},
    {vel_time2str, 1000000000, "Sun, 09 Sep 2001 01:46:40 GMT"},
    {vel_time2str_simple_dateonly, 1000000000, "09/09/01"},
    {vel_time2str_simple_datetimeonly, 1000000000, "09/09/01 01:46:40"},
    // Month, day, year, hour, minute and second all differ.
    {vel_time2str_simple_dateonly, 1234567890, "02/13/09"},
    {vel_time2str_simple_datetimeonly, 1234567890, "02/13/09 23:31:30"},
    // The ends of 32-bit time, both 29 characters long.
    {vel_time2str, 2147483647, "Tue, 19 Jan 2038 03:14:07 GMT"},
    {vel_time2str, -2147483647 - 1, "Fri, 13 Dec 1901 20:45:52 GMT"},
};

TEST(TimeString, EachFormatterWritesItsForm) {
    ScopedEnv env;
    env.set("TZ", "EST5");
    char buf[256];
    for (const Row &row : kRows) {
        row.format(row.t, buf, sizeof buf);
        EXPECT_STREQ(buf, row.text) << row.t;
    }
    vel_time2str(0, buf, 1);  // too small for any text: cleared all the same
    EXPECT_EQ(buf[0], '\0');
}

constexpr time_t kSunday = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
constexpr time_t kNov6 = 784080000;    // 06 Nov 1994 00:00:00 GMT

struct Example {
    const char *text;
    time_t expected;
};

// Texts read with GMT as the default zone: each names one instant, whatever
// the local zone.
constexpr Example kExamples[] = {
    {"Sun, 06 Nov 1994 08:49:37 GMT", kSunday},
    {"Sunday, 06-Nov-94 08:49:37 GMT", kSunday},
    {"Sun Nov  6 08:49:37 1994", kSunday},
    {"Sun, 06 Nov 1994 08:49:37 -0800", 784140577},
    {"Sun, 06 Nov 1994 08:49:37 PST", 784140577},
    {"Sun, 06 Nov 1994 09:49:37 GMT+0100", kSunday},
    {"Sun, 06 Nov 1994 09:49:37 +0100", kSunday},
    {"Sun, 06 Nov 1994 10:49:37 +02", kSunday},
    {"06 Nov 1994 08:49:37 UT", kSunday},
    {"06 Nov 1994 08:49:37 UTC", kSunday},
    // Only the first zone or offset counts; 3 digits are no offset.
    {"Sun, 06 Nov 1994 08:49:37 PST +0100", 784140577},
    {"Sun, 06 Nov 1994 08:49:37 +010", kSunday},
    {"Nov 6 1994 8:49:37 pm", 784154977},
    {"Nov 6 1994 12:00 am", kNov6},
    {"Nov 6 1994 12:30 PM", 784125000},
    // A malformed clock time is passed over; seconds may be missing.
    {"Nov 6 1994 12:345", kNov6},
    {"Nov 6 1994 08:49:", kNov6 + 8 * 3600 + 49 * 60},
    {"11/06/94", kNov6},
    {"13/06/94", 771465600},
    {"94/11/06", kNov6},
    {"71/11/06", 58233600},    // a first field above 70 is the year
    {"70/11/06", 1168300800},  // 70 is not: day 70 of November 2006, carried on
    {"11/06/05", 1131235200},
    {"11/06/29", -1267142400},
    {"11/06/30", -1235606400},
    {"11/06/1994", kNov6},
    {"6 Nov 05", 1131235200},
    {"6 Nov 70", 26697600},
    {"6 Nov 75", 184464000},
    {"JANUARY 1 1990", 631152000},
    {"Nov 6 1994 Dec 1995", kNov6},
    {"Sun, 10 Mar 2024 07:30:00 GMT", 1710055800},    // New York's first summer hour
    {"Sun, 31 Mar 2024 01:30:00 +0000", 1711848600},  // Berlin's first summer hour
    {"16 Jan 2024 10:20:30", 1705400430},
    {"Fri, 12 Jan 2024 08:34:05 +0530", 1705028645},
    {"Wed, 15 Aug 2012 12:00:00 +0400", 1345017600},
    {"Sat, 14 Jul 2012 09:08:07 EDT", 1342271287},
    {"Thu, 13 Jun 2024 23:59:59 -0330", 1718335799},
    {"Sun, 03 Nov 2024 01:30:00 PST", 1730626200},
    // Texts without a full date.
    {"Sun, 06 Nov 08:49:37 GMT", 0},
    {"06 1994 08:49:37", 0},
    {"Nov 1994", 0},
    {"", 0},
    {"11/06/31", 0},
    {"11/06/50", 0},
    {"1994-11-06", 0},
    {"Nov 6th 1994", 0},
    {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
};

// Zones whose summer time, or whose change of standard offset, the
// conversion must not lean on; the first needs no zone files.
struct Zone {
    const char *tz;
    time_t local_jan;  // "16 Jan 2024 10:20:30" read as local time
    time_t local_aug;  // "15 Aug 2012 12:00:00" read as local time
};
// The local readings from Python 3.11 offline, through time.mktime of the
// parsed fields with isdst -1 under each TZ.
constexpr Zone kZones[] = {
    {"EST5EDT,M4.1.0,M10.5.0", 1705418430, 1345046400},
    {"UTC0", 1705400430, 1345032000},
    {"America/New_York", 1705418430, 1345046400},
    {"Europe/Berlin", 1705396830, 1345024800},
    {"Europe/Dublin", 1705400430, 1345028400},        // winter is its "daylight" time
    {"Australia/Lord_Howe", 1705360830, 1344994200},  // 30-minute summer time
    {"Europe/Moscow", 1705389630, 1345017600},        // +04 all year in 2012
};

TEST(DateParse, AScanGivesEachDayItsNumberAndEveryFieldNotGivenAsMissing) {
    const TimeTextFields t = scan_time_text("");
    for (int field : {t.year, t.month, t.day, t.hour, t.minute, t.second, t.weekday})
        EXPECT_EQ(field, -1);
    EXPECT_FALSE(t.zone);
    EXPECT_TRUE(t.unread.empty());
    const char *days[] = {"Sun", "monday", "TUE", "Wednesday", "thu", "Fri", "Saturday"};
    for (int day = 0; day < 7; ++day) EXPECT_EQ(scan_time_text(days[day]).weekday, day);
    // The scan stops at the view's end, whatever follows it.
    EXPECT_EQ(scan_time_text(std::string_view("7 Dec 20269", 10)).year, 2026);
    EXPECT_EQ(scan_time_text("1/2 2026").month, -1);  // a numeric date has two separators
}

TEST(DateParse, EachTextNamesTheSameInstantInEveryLocalZone) {
    for (const Zone &zone : kZones) {
        ScopedEnv env;
        env.set("TZ", zone.tz);
        for (const Example &e : kExamples) {
            EXPECT_EQ(ZEZ_ParseTimeString(e.text, 1), e.expected)
                << zone.tz << " \"" << e.text << '"';
            time_t stored = -1;
            vel_str2time(e.text, &stored);
            EXPECT_EQ(stored, e.expected) << zone.tz << " \"" << e.text << '"';
        }
        // Without the GMT default a text without a known zone ("UTC" is none)
        // is local time; a zoned one is not.
        EXPECT_EQ(ZEZ_ParseTimeString("16 Jan 2024 10:20:30", 0), zone.local_jan) << zone.tz;
        EXPECT_EQ(ZEZ_ParseTimeString("15 Aug 2012 12:00:00 UTC", 0), zone.local_aug) << zone.tz;
        EXPECT_EQ(ZEZ_ParseTimeString("Sun, 06 Nov 1994 08:49:37 GMT", 0), kSunday) << zone.tz;
        EXPECT_EQ(ZEZ_ParseTimeString("Sun Nov  6 08:49:37 UT 1994", 0), kSunday) << zone.tz;
    }
}

}  // namespace
