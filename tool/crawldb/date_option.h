// Dates given on crawldb's command line.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_DATE_OPTION_H_
#define CRAWLPEEK_TOOL_CRAWLDB_DATE_OPTION_H_

#include <cstdint>
#include <optional>
#include <string>

// The time text names, in seconds since 1970: an ISO 8601 date in UTC
// ("2026-12-01", "2026-12-01T10:00", "2026-12-01T10:00:30Z",
// "2026-12-01T10:00+02:00"), a number of seconds since 1970 within 32 bits
// ("1796083200"), or else free text the library's date scanner reads whole
// ("1 Dec 2026 10:00 GMT", "Tue, 01 Dec 2026 10:00:00 UTC"; GMT when no zone
// is given). Every form is refused for a day past its month's end, a clock
// past 23:59:59, and free text for a word the scanner does not read, a
// field given twice, a missing day, month or year, or a weekday that is not
// the date's. None when it is refused.
std::optional<int64_t> parse_date_option(const std::string &text);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_DATE_OPTION_H_
