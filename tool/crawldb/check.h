// crawldb check: what Berkeley DB's verifier cannot see. The two files of
// the visited-URL database must agree with each other and with the
// metadata, and every stored value must decode.
//
// Memory stays at 5 bytes a record, 9 when the ids have gaps: a 32-bit hash
// of each record's URL, a byte of flags, and the ids of url-visited.db in
// order when they are not simply 1, 2, 3 and on. A vid.db entry and a
// record agree when their URLs' hashes do, so two different URLs with the
// same hash (one chance in 2^32 for each entry that disagrees) pass.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_CHECK_H_
#define CRAWLPEEK_TOOL_CRAWLDB_CHECK_H_

#include <cstddef>

#include "tool/crawldb/crawl_db.h"

struct CheckOptions {
    bool json = false;
    size_t examples = 5;  // examples shown of each kind of problem
};

// Reports on standard output what the checks of the database db has opened
// find, or, when opened is kDamaged or db then finds a file damaged, that
// damage as one problem and nothing more: one line per kind of problem with
// its count and examples, or with json one object. The exit status: 0
// clean, 1 problems, 2 when a read failed or a file could not be verified
// (reported).
int run_check(CrawlDb *db, CrawlDb::Opened opened, const CheckOptions &options);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_CHECK_H_
