// What a crawler process keeps in memory of the visited-URL database's ids,
// so that most lookups of its links read neither file:
//
// - the index of vid.db (url_id_index.h): every URL's id, learnt from vid.db
//   when the crawler opens the database and kept by every id it gives;
// - the ids whose records this process stored stamped with the crawl in
//   progress, so that a link to a URL already met in this crawl is known to
//   be one without its record being read.
//
// Both mirror the writes of the two files made through their slots: the
// two-step operations (id_indirect.h) of url-visited.db's, and vid.db's own
// write slots (vurl_install_id_slots). Writes that pass the slots by (a
// Berkeley DB handle used directly) are not seen.
// They are kept only for the handles they were learnt through: once either
// file has been closed and opened again (a failure closes a file), they are
// dropped and every lookup reads the files again. Readers never learn them.
//
// Every call is made with the visited-URL lock held.
#ifndef CRAWLPEEK_ROBOT_VURL_ID_MEMORY_H_
#define CRAWLPEEK_ROBOT_VURL_ID_MEMORY_H_

#include <db.h>

#include <cstddef>
#include <cstdint>

#include "robot/url_id_index.h"

// Learns every key of the open vid.db into an index held to budget_bytes,
// replacing what was held. Nothing for files read from their pages.
void vurl_learn_ids(size_t budget_bytes);

// Forgets the index and the stamped ids.
void vurl_forget_ids();

// How many URLs the index holds and the bytes it takes with the ids met;
// zeros without an index.
void vurl_id_memory_usage(size_t *urls, size_t *bytes);

// The index, when id_db is the handle it mirrors; else null.
UrlIdIndex *vurl_id_index_of(const DB *id_db);

// What the index knows of the URL key; kUnknown also without an index.
UrlIdIndex::Answer vurl_indexed_id(const DBT *key, uint32_t *id);

// Notes a write of rec_db under the 4-byte id key: the stored value when the
// put succeeded, or null after a failed put or a delete (the record is then
// read again to be known).
void vurl_note_record_write(const DB *rec_db, const DBT *id, const DBT *stored);

// Whether the URL key's record is known, without reading it, to be stamped
// with the crawl in progress (g_timestamp, whenever it was last set). False
// says nothing.
bool vurl_known_met(const DBT *key);

// Installs vid.db's write slots in obj: the defaults, which then keep the
// index (a failed write, or a delete through the cursor, forgets it).
struct storage_object;
void vurl_install_id_slots(storage_object *obj);

#endif  // CRAWLPEEK_ROBOT_VURL_ID_MEMORY_H_
