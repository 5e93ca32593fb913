// Free-form date and time texts to time values.
#ifndef CRAWLPEEK_EXTRA_DATE_PARSE_H_
#define CRAWLPEEK_EXTRA_DATE_PARSE_H_

#include <ctime>
#include <string_view>
#include <vector>

// Reads a date and time from text (not null), scanning it once from left to
// right for day and month names, zone names ("GMT", "PST", ... and "UT"),
// numeric offsets ("+0100", "-08"), clock times with an optional am/pm,
// numeric dates (month/day/year, day/month/year when the first field is
// above 12, year/month/day when it is above 70) and lone numbers (day of
// month, two- or four-digit year), in any order; everything else is
// skipped, and a slot once filled keeps its first value.
//
// A text that names no zone and gives no offset is read as GMT when
// default_to_gmt is nonzero, else as local time; only then does the result
// depend on the local zone (its summer time and past offsets included). The
// result is the time in seconds since the epoch; 0 when the text lacks a
// month, a day of month or a year, or when the conversion fails (and for
// the epoch itself).
time_t ZEZ_ParseTimeString(const char *text, int default_to_gmt);

// What ZEZ_ParseTimeString's scan reads from text, before any conversion:
// each field as written (-1 when the text gives none; hour after am/pm), and
// the items no rule took whole, in order: words skipped, a name matched by
// its first letters but neither its three-letter form nor its whole name,
// items whose slot an earlier one filled, an offset past 23 hours or with
// minutes past 59, and rests of words after what was read. A caller that wants a text that says exactly one date checks the
// fields' ranges and that nothing was left unread.
struct TimeTextFields {
    int year = -1;
    int month = -1;  // 1-12
    int day = -1;
    int hour = -1;
    int minute = -1;
    int second = -1;
    int weekday = -1;  // 0 for Sunday
    bool zone = false;       // a zone name or a numeric offset was read
    int offset_minutes = 0;  // east of GMT, when zone
    std::vector<std::string_view> unread;  // views into text
};
TimeTextFields scan_time_text(std::string_view text);

// Stores ZEZ_ParseTimeString(text, 1) in *result.
void vel_str2time(const char *text, time_t *result);

#endif  // CRAWLPEEK_EXTRA_DATE_PARSE_H_
