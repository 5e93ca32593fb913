#include "extra/timestr.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/scoped_env.h"

namespace {

using Formatter = void (*)(time_t, char *, size_t);

std::string format(Formatter f, time_t t) {
    char buf[256];
    f(t, buf, sizeof buf);
    return buf;
}

TEST(TimeStringTest, EpochInEveryFormat) {
    EXPECT_EQ(format(vel_time2str, 0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(format(vel_time2str_simple_dateonly, 0), "01/01/70");
    EXPECT_EQ(format(vel_time2str_simple_datetimeonly, 0), "01/01/70 00:00:00");
}

TEST(TimeStringTest, BillionSecondsInTheGmtFormats) {
    EXPECT_EQ(format(vel_time2str, 1000000000), "Sun, 09 Sep 2001 01:46:40 GMT");
    EXPECT_EQ(format(vel_time2str_simple_dateonly, 1000000000), "09/09/01");
    EXPECT_EQ(format(vel_time2str_simple_datetimeonly, 1000000000), "09/09/01 01:46:40");
}

TEST(TimeStringTest, GmtFormatsIgnoreTheLocalZoneAndInformixUsesIt) {
    ScopedEnv env;
    env.set("TZ", "EST5");
    EXPECT_EQ(format(vel_time2str, 0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(format(vel_time2informix, 0), "1969-12-31 19:00:00");
    env.set("TZ", "GMT0");
    EXPECT_EQ(format(vel_time2informix, 0), "1970-01-01 00:00:00");
}

TEST(TimeStringTest, EveryThirtyTwoBitTimeIsTwentyNineCharacters) {
    for (time_t t : {time_t{0}, time_t{1}, time_t{951782400}, time_t{2147483647}, time_t{-1},
                     time_t{-2147483647 - 1}}) {
        EXPECT_EQ(format(vel_time2str, t).size(), 29u) << t;
    }
}

TEST(TimeStringTest, DestinationIsClearedFirst) {
    char buf[4] = {'x', 'x', 'x', 'x'};
    vel_time2str(0, buf, 1);  // too small for any text
    EXPECT_EQ(buf[0], '\0');
}

}  // namespace
