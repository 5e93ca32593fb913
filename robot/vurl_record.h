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

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "adt/velhashtable.h"

inline constexpr int32_t kVurlLinkBuckets = 73;
// Where the stored digest area starts, and the length of a digest.
inline constexpr size_t kVurlDigestOffset = 20;
inline constexpr size_t kVurlDigestLength = 32;

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

// A stored value read as it lies, before any id is turned into a URL. The
// views point into the value, which the caller keeps.
struct visited_url_fields {
    uint32_t last_processed = 0;
    uint32_t last_visited = 0;
    uint32_t last_modified = 0;
    uint32_t rd_expires = 0;
    int32_t progress_status = 0;
    std::string_view md5;  // the 32 stored characters; empty for none or a cleared digest
    std::string_view url;  // without its zero byte; may be empty
    bool has_referer = false;
    uint32_t referer_id = 0;
    bool has_link_list = false;         // a link list is stored, perhaps without ids
    const uint8_t *link_ids = nullptr;  // link_id_count ids of 4 bytes, before the end mark
    size_t link_id_count = 0;
    std::string_view database;  // empty when absent
    int32_t depth_countdown = 0;
    int32_t server_status = 0;

    // The id of the link at index i < link_id_count.
    uint32_t link_id(size_t i) const;
};

// Reads the stored value of size bytes at data into *out. False when it does
// not hold one of the stored forms (the cases DBT2visited_url_obj_V2 names);
// *out is then unspecified. Nothing outside the value is read.
bool visited_url_parse(const void *data, size_t size, visited_url_fields *out);

// The URL of a stored value: what visited_url_parse would give, read from
// the leading words, the digest area and the URL alone. False when those do
// not fit in the value.
bool visited_url_stored_url(const void *data, size_t size, std::string_view *url);

// The URL of the record stored under id in url-visited.db (vdb_url's
// handle), malloc'd; null when there is no such record, its URL cannot be
// read, or it is empty. This is how the decoder resolves a referer or link
// id. The caller holds the visited-URL lock where other threads use the files.
char *visited_url_url_of_id(uint32_t id);

// The lines the decoder writes to the module log when a referer id or a link
// id of the record with the given URL (null: none) has no readable record.
void visited_url_log_missing_referer(uint32_t id, const char *url);
void visited_url_log_missing_link(uint32_t id, const char *url);

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

// Owns a decoded record; frees its links too unless free_links is cleared.
struct FreeVisitedUrl {
    int free_links = 1;
    void operator()(visited_url_obj *obj) const { free_visited_url_obj(obj, free_links); }
};
using VisitedUrlPtr = std::unique_ptr<visited_url_obj, FreeVisitedUrl>;

// The last_processed word at the front of a stored value, read without
// decoding the rest; none when the value is shorter than 4 bytes.
std::optional<uint32_t> visited_url_stored_last_processed(const void *data, size_t size);

#endif  // CRAWLPEEK_ROBOT_VURL_RECORD_H_
