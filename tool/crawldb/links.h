// crawldb links: questions about the links between records, answered as id
// joins. A first walk learns a few bytes of every record by id, a second
// emits; URLs are read from the file only for what is printed.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_LINKS_H_
#define CRAWLPEEK_TOOL_CRAWLDB_LINKS_H_

#include <string>

#include "tool/crawldb/crawl_db.h"
#include "tool/crawldb/int_ranges.h"

struct LinksOptions {
    enum class Mode {
        kBroken,    // links to records whose server status is in statuses
        kTo,        // the pages that link to url
        kOrphans,   // records with a referer that no page links to
        kDangling,  // referer and link ids without a record
    };
    Mode mode = Mode::kBroken;
    IntRanges statuses;  // for kBroken
    std::string url;     // for kTo
    bool json = false;   // JSON Lines
};

// Prints the answer on standard output, a line per finding (in text mode,
// --broken's counts follow on standard error). The exit status: 0 when
// something was found, 1 when nothing was, 2 on a read error or damage
// (reported).
int run_links(CrawlDb *db, const LinksOptions &options);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_LINKS_H_
