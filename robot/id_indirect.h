// The visited-URL database's two files as one storage object.
//
// vid.db maps a URL (its bytes and a NUL) to the URL's record id, 4 bytes;
// url-visited.db maps the id to the URL's stored record. Ids are 32-bit,
// stored most significant byte first, so the record file's byte-wise key
// order is the order in which ids were handed out. Ids come from
// g_vurl_meta.next_id, which starts at 1 and only grows: no id is handed out
// twice, 0 is never one, and no operation here removes a URL's id.
//
// Every use of vdb_url's slots, of vdb_id and of next_id happens with db_lock
// held; the operations here do not take it, their callers do. db_lock is not
// recursive.
//
// While a crawler has the database open, the lookups of URLs' ids answer from
// what it keeps in memory of vid.db, and every write here is noted there
// (vurl_id_memory.h).
#ifndef CRAWLPEEK_ROBOT_ID_INDIRECT_H_
#define CRAWLPEEK_ROBOT_ID_INDIRECT_H_

#include <db.h>

#include <cstdint>
#include <mutex>

#include "robot/storage_object.h"

// The record file, url-visited.db, with the vurl_* operations in its slots;
// null while the database is closed.
extern storage_object *vdb_url;
// The id file, vid.db, with the default slots; null before the first open.
extern storage_object *vdb_id;
// Serialises both files and next_id.
extern std::mutex db_lock;

// Take and release db_lock; the host's way to hold it around a group of
// calls.
void visited_db_lock();
void visited_db_unlock();

// Holds db_lock for a scope, through visited_db_lock and visited_db_unlock.
class VisitedDbHold {
  public:
    VisitedDbHold() { visited_db_lock(); }
    ~VisitedDbHold() { visited_db_unlock(); }
    VisitedDbHold(const VisitedDbHold &) = delete;
    VisitedDbHold &operator=(const VisitedDbHold &) = delete;
};

// The two-step operations. Each stores the first step's Berkeley DB result
// (the lookup or write in id_db) through err and returns the second step's
// result (in rec_db); success is a return of 0 with *err 0. A return of 0
// with *err nonzero means the first step failed (DB_NOTFOUND: the URL has no
// id). flags go to every call. The metadata's key is no URL: it has no id
// here, and a vid.db value that is not exactly 4 bytes is no id either.
//
// db_indirect_get reads the record of the URL key into data.
int db_indirect_get(DB *id_db, DB *rec_db, DBT *key, DBT *data, uint32_t flags, int *err);
// db_indirect_put stores data for the URL, first giving it the id next_id
// (and advancing next_id) when it has none. It refuses (logged) the
// metadata's key with *err EINVAL, and a new URL once next_id has reached
// kVurlIdLimit with *err ENOSPC.
int db_indirect_put(DB *id_db, DB *rec_db, DBT *key, DBT *data, uint32_t flags, int *err);
// db_indirect_update stores data for a URL that has an id; no id is made.
int db_indirect_update(DB *id_db, DB *rec_db, DBT *key, DBT *data, uint32_t flags, int *err);
// db_indirect_del deletes the URL's record; the URL keeps its id.
int db_indirect_del(DB *id_db, DB *rec_db, DBT *key, uint32_t flags, int *err);

// The slot operations of vdb_url. open, close, put, update and get act on
// vdb_url and vdb_id whatever object they are given; put, update and get
// neither log nor change count, and return 0 when a file is closed.
//
// vurl_open opens vid.db, then url-visited.db (both always tried): the record
// file's handle when both opened, else null.
DB *vurl_open(storage_object *obj, uint32_t flags);
// vurl_close closes url-visited.db, then vid.db: 1 when both closed cleanly.
int vurl_close(storage_object *obj);
int vurl_put(storage_object *obj, DBT *key, DBT *data);
int vurl_update(storage_object *obj, DBT *key, DBT *data);
int vurl_get(storage_object *obj, DBT *key, DBT *data);
// The record of the URL key into data for a reader that shows what is
// stored: found under any id but 0 that vid.db holds for the URL
// (vurl_names_stored_record), as a walk of the record file finds it, where
// vurl_get, the crawler's, takes only the ids it hands out. 1 when found; 0
// otherwise, or when a file is closed. Neither logs nor changes count.
int vurl_get_stored(DBT *key, DBT *data);
// Records are never deleted through the slots: 1, nothing done.
int vurl_del(storage_object *obj, DBT *key);
// The record file's cursor on exactly the 4-byte id key.
int vurl_set_cursor(storage_object *obj, DBT *key, DBT *data);
// 1, nothing done.
int vurl_cursor_del(storage_object *obj);
// Flushes url-visited.db, then vid.db (both always): 1 when both flushed.
int vurl_sync(storage_object *obj);
// The record file's walk: keys are 4-byte ids, values stored records.
int vurl_first(storage_object *obj, DBT *key, DBT *data);
int vurl_next(storage_object *obj, DBT *key, DBT *data);

// Installs the vurl_* operations in obj's slots.
void vurl_install_slots(storage_object *obj);

#endif  // CRAWLPEEK_ROBOT_ID_INDIRECT_H_
