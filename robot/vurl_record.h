// The visited-URL record and its stored form.
//
// One record per URL the crawler has met, stored in url-visited.db under the
// URL's 4-byte id. Every integer is 32 bits, most significant byte first;
// strings end with one zero byte and stand without gaps:
//
//   0   last_processed, last_visited, last_modified, rd_expires,
//       progress_status                                       5 x 4 bytes
//   20  digest area: one zero byte (no digest), or 32 characters and a zero
//       (a cleared digest has "*" and a zero first)            1 or 33
//   A   url and a zero                                          U + 1
//       referer flag: 1 when the referer's id follows, else 0   1 (+ 4)
//   L   ids of the linked records, then four zero bytes         4n + 4
//       database and a zero                                     B + 1
//       depth_countdown, server_status                          8
//
// Older, shorter values end right after the referer part, right after the
// link list (with or without its end mark), or right after database; what is
// absent reads as zero or none. The size alone tells the forms apart.
//
// Referers and links are stored as ids; decoding with resolve set reads the
// referenced records to turn them back into URLs.
#ifndef CRAWLPEEK_ROBOT_VURL_RECORD_H_
#define CRAWLPEEK_ROBOT_VURL_RECORD_H_

#include <db.h>

#include <cstdint>

#include "adt/velhashtable.h"

inline constexpr int32_t kVurlLinkBuckets = 73;

struct visited_url_obj {
    uint32_t last_processed;  // start time of the crawl that last processed the URL
    uint32_t last_visited;    // 0 when never set
    uint32_t last_modified;   // 0 when unknown
    uint32_t rd_expires;      // 0 when never set
    int32_t progress_status;  // 0 when new in a crawl, 4 once its data is stored
    char md5[33];             // 32 characters and a zero, or empty
    char *url;                // owned (malloc), or null
    char *referer;            // owned, or null for a starting point
    int32_t link_count;       // entries in links; 0 when links is null
    velhashtable *links;      // linked URLs, each its own key; owned, or null
    char *database;           // owned, or null
    int32_t depth_countdown;  // link levels that may still be followed from here
    int32_t server_status;    // server status of the last fetch
};

// A new heap DBT holding obj's stored form in a new buffer (destroy_DBT
// releases both), or null. The referer and every link are turned into ids
// through vid.db; a link without an id gets a new record first (status 0,
// this page as referer, one less depth), which takes the id next_id. Null,
// with nothing stored by the encoding itself, when obj is null, when its
// referer has no id, when link_count differs from the number of entries in
// links, or when a link's record cannot be created (records already created
// for earlier links stay). The caller holds the visited-URL lock where other
// threads use the files. Memory exhaustion ends the process with status -1.
DBT *visited_url_obj2DBT(const visited_url_obj *obj);

// A new record decoded from the stored value in dbt, or null when the value
// does not hold one of the stored forms: shorter than 20 bytes, a string
// without its zero byte, a digest area or id past the end, or bytes left over.
// Nothing is read outside dbt's size; the caller keeps dbt.
//
// With resolve nonzero the referer id and the link ids are looked up in
// url-visited.db (vdb_url's handle) and replaced by the URLs of those
// records; an id without a readable record is dropped with a warning in the
// module log, so link_count counts the links found. A value with a link list
// gets a links table even when the list is empty. With resolve 0 nothing is
// read: referer and links stay null and link_count 0. The caller holds the
// visited-URL lock where other threads use the files. Memory exhaustion ends
// the process with status -1.
visited_url_obj *DBT2visited_url_obj_V2(const DBT *dbt, int resolve);

// DBT2visited_url_obj_V2(dbt, 1).
visited_url_obj *DBT2visited_url_obj(const DBT *dbt);

// Releases the record's strings, its links when free_links is nonzero, and
// the record. Accepts null.
void free_visited_url_obj(visited_url_obj *obj, int free_links);

#endif  // CRAWLPEEK_ROBOT_VURL_RECORD_H_
