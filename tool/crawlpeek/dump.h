// Reading and printing visited-URL records: the whole dump, one entry, the
// referer chain, and the summary of what was read.
//
// The readers use the database through vdb_url's slots without the
// visited-URL lock: the tool has one thread.
#ifndef CRAWLPEEK_TOOL_CRAWLPEEK_DUMP_H_
#define CRAWLPEEK_TOOL_CRAWLPEEK_DUMP_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "robot/vurl_record.h"

// What print_url has counted. 64-bit, so that no total wraps however large
// the database.
struct dump_counters {
    int64_t entries = 0;
    int64_t with_last_modified = 0;
    int64_t with_md5 = 0;
    int64_t total_links = 0;
    int64_t with_links = 0;
    int64_t links_size = 0;  // bytes of the linked URLs printed
};

// When 0, print_url prints only the URL line.
extern int g_show_details;
// Key and stored value bytes of every record read, printed or not.
extern int64_t g_total_key_size;
extern int64_t g_total_data_size;
// Memory the whole dump may take for its table of URLs by id; 0 reads every
// referer and link from the file as the record decoder does. By default
// default_url_table_budget().
extern size_t g_url_table_budget;

// A quarter of the machine's physical memory: enough for the URLs of a large
// crawl, leaving the rest to the crawler and the page cache. 256 MB when the
// system does not tell its size.
size_t default_url_table_budget();

// The URL of the next record of url-visited.db with the decoded record in
// *obj_out (the caller frees it), starting at the first record; null at the
// end, on a read error, or when the database is not open. A record whose
// value does not decode, or that has no URL, is skipped with one line on
// standard error; its sizes still count.
const char *dump_visited_url_next(visited_url_obj **obj_out);

// The URL of url's record with the decoded record in *obj_out (the caller
// frees it); null when there is none, when it does not decode (reported on
// standard error), or when the database is not open.
const char *dump_visited_url_geturl(const char *url, visited_url_obj **obj_out);

// Prints obj's URL line and, with g_show_details, its detail block and links,
// and counts it.
void print_url(const visited_url_obj *obj, dump_counters *counters);

class TableDump;

// The whole dump: every record in the order of the file, all but
// "LastProcessTime". Made in two steps so that the long stretch of getting
// ready, learning the table of URLs by id, can run while the file is being
// verified, and nothing is printed before it has passed.
class WholeDump {
  public:
    // With g_url_table_budget set, learns the table from vdb_url (see
    // TableDump); otherwise nothing is read yet.
    WholeDump();
    ~WholeDump();
    WholeDump(const WholeDump &) = delete;
    WholeDump &operator=(const WholeDump &) = delete;

    // Prints and counts every record; the output is the same with the table
    // as without.
    void print(dump_counters *counters);

  private:
    std::unique_ptr<TableDump> table_;  // null: every id is read from the file
};

// The whole dump as the record decoder reads it, each referer and link from
// the file.
void dump_all_entries_from_file(dump_counters *counters);

// Shared by both walks of the file.
// The one line on standard error for a record that is skipped.
void report_skipped_record(std::string_view key);

// Prints url's record; with follow_referers, then its referer's, and so on
// until a starting point, a referer without a record, or a URL already
// printed. Nothing when url has no record.
void dump_entry(const char *url, bool follow_referers, dump_counters *counters);

// Whether the crawl started at crawl_start (0: none in progress) finished.
// The start is an unsigned 32-bit time, right until 2106.
void print_crawl_banner(uint32_t crawl_start);

// The eleven lines of the summary.
void print_summary(const dump_counters &counters);

#endif  // CRAWLPEEK_TOOL_CRAWLPEEK_DUMP_H_
