// Free-form date and time texts to time values.
#ifndef CRAWLPEEK_EXTRA_DATE_PARSE_H_
#define CRAWLPEEK_EXTRA_DATE_PARSE_H_

#include <ctime>

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

// Stores ZEZ_ParseTimeString(text, 1) in *result.
void vel_str2time(const char *text, time_t *result);

#endif  // CRAWLPEEK_EXTRA_DATE_PARSE_H_
