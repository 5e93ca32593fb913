// crawldb export: records as JSON Lines or tab-separated text, in id order,
// for other tools to load.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_EXPORT_RECORDS_H_
#define CRAWLPEEK_TOOL_CRAWLDB_EXPORT_RECORDS_H_

#include <cstdint>
#include <optional>
#include <string>

#include "tool/crawldb/crawl_db.h"
#include "tool/crawldb/int_ranges.h"

struct ExportOptions {
    bool tsv = false;        // tab-separated with a header row, not JSON Lines
    bool iso_times = false;  // times as ISO 8601 UTC text, not epoch seconds
    bool links = true;       // resolve the referer and the links
    // Filters; a record is written when it passes every one that is set.
    std::optional<IntRanges> server_status;
    std::optional<IntRanges> progress_status;
    std::optional<std::string> prefix;  // URLs that start with it, found through vid.db
    std::optional<std::string> host;    // URLs of this host (any case)
    std::optional<std::string> match;   // URLs matching this POSIX extended regex
    std::optional<int64_t> since;       // last_visited at or after, epoch seconds
    std::optional<int64_t> until;       // last_visited at or before
    std::optional<uint64_t> limit;      // at most this many records
};

// Writes the records of the open database that pass the filters on standard
// output. The exit status: 0 when one or more were written, 1 when none
// passed, 2 on a bad regex, a read error, or files that db does not confirm
// as sound once they have been read (reported).
int run_export(CrawlDb *db, const ExportOptions &options);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_EXPORT_RECORDS_H_
