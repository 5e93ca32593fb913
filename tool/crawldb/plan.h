// crawldb plan: a dry run of the two passes a crawler runs at the end of a
// crawl. The trees of the start points this crawl left out are stamped as
// processed; then every page with a digest that this crawl has not
// processed is handed on (to the document depot for deletion, or back to
// the site manager for a new visit). Nothing is changed: the stamps are
// worked out in memory, over ids, with links followed as stored.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_PLAN_H_
#define CRAWLPEEK_TOOL_CRAWLDB_PLAN_H_

#include "tool/crawldb/crawl_db.h"

struct PlanOptions {
    bool summary = false;  // print only the counts
    bool json = false;
};

// Prints the records the passes would hand on if they ran now with the
// stored crawl start, in id order, then the counts by database and by
// host. With no crawl in progress, says so on standard error and lists
// nothing. The exit status: 0, or 2 on a read error or damage (reported).
int run_plan(CrawlDb *db, const PlanOptions &options);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_PLAN_H_
