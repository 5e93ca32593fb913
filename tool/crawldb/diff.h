// crawldb diff: what changed from one crawl database to another.
//
// Both vid.db files are B-trees keyed by URL, so one merge of their walks in
// key order finds every URL added, removed or in both. A URL is in a
// database when vid.db gives it an id that has a record. For URLs in both,
// the digests and server statuses come from one walk of each
// url-visited.db into arrays by id: 12 bytes a record, the digest as a
// 64-bit hash (a change between two digests with the same hash, one chance
// in 2^64, goes unseen).
#ifndef CRAWLPEEK_TOOL_CRAWLDB_DIFF_H_
#define CRAWLPEEK_TOOL_CRAWLDB_DIFF_H_

#include <string>

struct DiffOptions {
    std::string old_home;  // the robot state directory of the older database
    std::string new_home;
    bool summary = false;  // print only the counts
    bool json = false;
};

// Prints "+ url" (added), "- url" (removed), "~ url" (digest changed, both
// present) and "! url OLD->NEW" (server status changed) in URL order, or
// the counts. Both databases are verified while they are read, and read
// through a private environment as they lie on disk. The exit status: 0 no
// difference, 1 differences, 2 trouble (reported).
int run_diff(const DiffOptions &options);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_DIFF_H_
