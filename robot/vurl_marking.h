// Passes over the whole visited-URL database that the crawler host runs
// between fetches: marking the trees of start points left out of this crawl,
// and handing back the pages this crawl has not processed.
//
// A record counts as processed in this crawl when its last_processed equals
// g_timestamp. The hooks these passes call run with the visited-URL lock held
// and must not call the record operations, which take it.
#ifndef CRAWLPEEK_ROBOT_VURL_MARKING_H_
#define CRAWLPEEK_ROBOT_VURL_MARKING_H_

#include <atomic>
#include <cstdint>

// Set by the host: nonzero when the links kept in records are link texts as
// written on the page, to be made absolute and normalised before lookup.
extern int32_t g_save_relative_links;
// Set by the first broken-link scan after an open; cleared by the open.
extern std::atomic<int32_t> g_brokenlinks_scanned;

// Stamps url's record and everything reachable from it through stored links
// with this crawl, depth first, each record before its links are followed.
// The walk ends at URLs without a record and at records already stamped, so
// link cycles end it too; its pending links live on the heap, so a chain of
// any length is safe. The caller holds the visited-URL lock.
void MarkTreeProcessed(const char *url);

// Marks the tree of every start point (a record without referer) that this
// crawl has not processed. Takes the visited-URL lock. Returns 0.
int ProcessDisabledStartPoint();

// Once per open of the database: hands every record with a digest (not
// cleared) that this crawl has not processed to the document depot for
// deletion (delete_mode nonzero) or to the site manager for a new visit.
// Re-visit mode first records in the metadata that the pass has begun. Asks
// the pause and stop hooks after every record; a stop ends the walk. Takes
// the visited-URL lock. The number of records handed on; 0 for every call
// after the first.
int visited_url_scan_brokenlinks(int delete_mode);

#endif  // CRAWLPEEK_ROBOT_VURL_MARKING_H_
