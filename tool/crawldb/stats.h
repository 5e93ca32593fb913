// crawldb stats: counts over every record of url-visited.db, from one walk
// that decodes records without turning ids into URLs.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_STATS_H_
#define CRAWLPEEK_TOOL_CRAWLDB_STATS_H_

#include <cstddef>

#include "tool/crawldb/crawl_db.h"

struct StatsOptions {
    bool json = false;
    bool hosts = false;       // add the table of hosts
    size_t host_rows = 20;    // hosts with most records shown
    bool by_domain = false;   // group hosts by registrable domain
};

// Walks the open database and, once db confirms that its files are sound,
// prints the counts on standard output: aligned tables, or with json one
// JSON object. The exit status: 0, or 2 when the walk stopped on a read
// error or the files are not sound (reported).
int run_stats(CrawlDb *db, const StatsOptions &options);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_STATS_H_
