// The record a crawler keeps under the URL "LastProcessTime": the time of its
// last end-of-crawl processing, not a page. Readers leave it out of dumps and
// counts of pages.
#ifndef CRAWLPEEK_TOOL_READING_LAST_PROCESS_TIME_H_
#define CRAWLPEEK_TOOL_READING_LAST_PROCESS_TIME_H_

#include <string_view>

// Whether url names the record of the crawl's last process time.
inline bool is_last_process_time(std::string_view url) {
    return url == "LastProcessTime";
}

#endif  // CRAWLPEEK_TOOL_READING_LAST_PROCESS_TIME_H_
