// Dates given on crawldb's command line.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_DATE_OPTION_H_
#define CRAWLPEEK_TOOL_CRAWLDB_DATE_OPTION_H_

#include <cstdint>
#include <optional>
#include <string>

// The time text names, in seconds since 1970: an ISO 8601 date in UTC
// ("2026-12-01", "2026-12-01T10:00", "2026-12-01T10:00:30Z",
// "2026-12-01T10:00+02:00"; days that do not exist are refused), a number
// of seconds since 1970 within 32 bits ("1796083200"), or else any
// text the library's date parser reads ("1 Dec 2026 10:00 GMT"; GMT when no
// zone is given). None when neither reads it.
std::optional<int64_t> parse_date_option(const std::string &text);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_DATE_OPTION_H_
