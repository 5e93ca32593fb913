// The crawler's operations on visited-URL records, keyed by URL.
//
// Every operation holds the visited-URL lock from its lookup to its write, so
// that reading, changing and storing a record, and creating the records of
// its new links, happen as one step for the other threads. Threads using the
// URL pool need no part in it: the storage layer serialises the Berkeley DB
// calls of both (robot_db_call). The database must
// be open (visited_url_init); on a closed database the readers find nothing
// and the writers store nothing.
//
// A stored value that does not decode, or decodes without a URL, is never
// used: the operations treat it as described with each.
#ifndef CRAWLPEEK_ROBOT_VURL_OPS_H_
#define CRAWLPEEK_ROBOT_VURL_OPS_H_

#include <cstdint>

#include "adt/velhashtable.h"

// The result of visited_url_get_status for a URL already met in this crawl.
inline constexpr int kVurlMetInThisCrawl = 4;
// The progress status of a record whose fetched data is stored.
inline constexpr int32_t kVurlDataStored = 4;

// Claims url for the current crawl: 4 when it was already met in this crawl
// (nothing is written), else 1. A record from an earlier crawl is stamped
// with this crawl, its progress status set to 0 and its depth to depth; a URL
// without a record gets one when create is nonzero (status 0, referer,
// depth). A record that does not decode is left as it is (logged) and 1 is
// returned.
int visited_url_get_status(const char *url, const char *referer, int create, int32_t depth);

// Reads url's record into the out-parameters that are not null. The first
// six are cleared first (md5 to the empty text; it must hold 33 bytes); depth
// and database are left alone unless the record has them. *links receives
// the record's resolved links table, which the caller then owns and frees;
// without links no other record is read. *database receives a malloc'd copy.
void visited_url_get_data(const char *url, int32_t *server_status, uint32_t *last_visited,
                          uint32_t *last_modified, uint32_t *rd_expires, velhashtable **links,
                          char *md5, int32_t *depth, char **database);

// Stores what a fetch of url found: stamps the record with this crawl, copies
// the times given, records the entries of the given table as its links
// entries (the caller keeps the table), the digest with md5 when it is
// exactly 32 characters, database when given, sets server_status and the
// progress status 4. Links without a record get one. 1 stored; 0 when url has
// no record, the record does not decode, the changed record cannot be
// encoded, or the write fails. unused is not looked at.
int visited_url_update_data(const char *url, int32_t server_status, int32_t unused,
                            const uint32_t *last_visited, const uint32_t *last_modified,
                            const uint32_t *rd_expires, velhashtable *links, const char *md5,
                            const char *database);

// Overwrites the stored progress status of url's record in place. 1 stored;
// 0 when there is no record (or one too short to hold the status) or the
// write fails.
int visited_url_update_status(const char *url, int32_t status);

// Marks the stored digest of url's record as cleared ("*" and a zero in its
// first two bytes), keeping the value's size, and writes the value back even
// when it holds no digest. 1 stored; 0 when there is no record or the write
// fails.
int visited_url_clear_md5(const char *url);

// Stores a new record for url: this crawl's stamp, status, referer (which
// must have an id), depth, nothing else. A URL without an id gets next_id.
// take_lock 0 for callers that hold the visited-URL lock already. 1 stored;
// 0 when nothing was stored (the referer has no id, or the write failed).
int visited_url_create_entry(const char *url, int32_t status, const char *referer, int take_lock,
                             int32_t depth);

// A malloc'd copy of the URL of the first record of url-visited.db (the walk
// restarts), or of the next one after the last returned; null at the end, on
// an error, or when the database is closed. Records that do not decode or
// hold no URL are passed over. The walk uses the database object's one
// cursor, which other cursor use moves.
char *visited_url_first();
char *visited_url_next();

#endif  // CRAWLPEEK_ROBOT_VURL_OPS_H_
