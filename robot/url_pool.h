// The crawler's URL pool: the URLs still to visit in the main bank
// (enumerate.db) and the ones being worked on in the backup bank
// (enumerate_bak.db), so that a crash loses none of them.
//
// The coll_* operations work on one bank. All of them on both banks are
// serialised by the registered pool's db2_lock (none without a registered
// pool), and all but coll_open, coll_close, coll_cursor_del, coll_count and
// coll_clean open their bank with DB_CREATE first, so a bank that a failed
// write closed is reopened by the next use. Nothing more is needed beside
// threads using the visited-URL database: the storage layer serialises the
// Berkeley DB calls of both (robot_db_call). Records are keyed by the
// object's key and its zero byte; values are url_obj's stored form.
//
// The url_pool_* operations act on the pool registered with
// sys_set_url_pool and do nothing (0 or null) without one. A bank's count is
// the pool's idea of how many URLs it holds: moved by every put, update and
// delete, set by url_pool_refresh_counter, cleared by cleaning and restoring.
// The objects returned belong to the caller (destroy_url_obj).
#ifndef CRAWLPEEK_ROBOT_URL_POOL_H_
#define CRAWLPEEK_ROBOT_URL_POOL_H_

#include <cstdint>
#include <ctime>
#include <mutex>

#include "robot/storage_object.h"
#include "robot/url_record.h"

// The banks' file names in the pool's directory.
inline constexpr char kUrlPoolMainFile[] = "enumerate.db";
inline constexpr char kUrlPoolBackupFile[] = "enumerate_bak.db";
// What ends a key's collection prefix.
inline constexpr char kUrlPoolSeparator = '|';

struct url_pool {
    storage_object *main_bank;    // <dir>/enumerate.db
    storage_object *backup_bank;  // <dir>/enumerate_bak.db
    std::mutex db2_lock;          // serialises the collection operations
    std::mutex state_lock;        // guards ready_time and dirty
    int32_t ready_time = 0;       // the pool is ready from this time on
    int32_t dirty = 0;            // nonzero: URLs arrived since the last readiness check
};

// A pool whose banks lie in dir ("." when null), made absolute once: a
// relative dir is joined to the home of the environment open now (where
// Berkeley DB would look for it), else to the working directory, so create
// the pool after the environment. Nothing is opened. Null, with a robot-log
// error naming dir, when the paths of its files would not fit in PATH_MAX
// (they are never cut) or the working directory cannot be read. The caller
// registers it with sys_set_url_pool. Memory exhaustion ends the process
// with -1.
url_pool *create_url_pool(const char *dir);

// Destroys both banks (their files removed when the host is erasing) and the
// pool. Accepts null. Returns 0.
int destroy_url_pool(url_pool *pool);

// 1 when the bank is open with flags.
int coll_open(storage_object *bank, uint32_t flags);
// Closes the bank. 0.
int coll_close(storage_object *bank);
// Stores obj, which needs a key and a nonempty url: coll_put only under a new key (a
// stored key fails, logged, and closes the bank), coll_update in any case.
// 1 stored.
int coll_put(storage_object *bank, url_obj *obj);
int coll_update(storage_object *bank, url_obj *obj);
// 1 and the record's object in *out when key is stored.
int coll_get(storage_object *bank, const char *key, url_obj **out);
// The del slot's result: 1 also when key was not stored.
int coll_del(storage_object *bank, const char *key);
// Positions the bank's cursor on obj's key.
int coll_set_cursor(storage_object *bank, url_obj *obj);
// Deletes the record under the cursor.
int coll_cursor_del(storage_object *bank);
// The bank's count.
int32_t coll_count(storage_object *bank);
// With prefix null, the bank's first record; with *prefix a text P, the
// first record whose key starts with P, '|' and at least one more byte. 1
// and its object in *out when there is one. Starts the bank's cursor anew.
// Here and in coll_next a record whose key is empty or whose value does not
// decode is passed over with a robot-log error; the count is not changed.
int coll_first(storage_object *bank, url_obj **out, const char **prefix);
// The record after the cursor, whatever its prefix (the first one without
// a cursor). 1 and its object in *out when there is one.
int coll_next(storage_object *bank, url_obj **out);
// Empties the bank by making its file anew: 1 done or no file, 0 failed.
// Takes no lock: for start-up.
int coll_clean(storage_object *bank);

// Adds obj to the main bank and marks the pool dirty. coll_put's result.
int url_pool_put_url_obj(url_obj *obj);
// Moves obj from the main bank to the backup bank: 1 moved. A URL the backup
// bank holds already (met again while in work) is replaced there by obj, so
// it is held once. When the backup bank refuses it, it is put back into the
// main bank and the result is 0.
int url_pool_backup_url(url_obj *obj);
// Removes a URL that has been dealt with from the backup bank.
int url_pool_done_url_by_key(const char *key);
// The main bank's first record (of the collection *prefix, when given) and
// the next ones; null when its count is 0, so an empty pool costs no read.
url_obj *url_pool_first_url(const char **prefix);
url_obj *url_pool_next_url();
// The main bank's count.
int32_t url_pool_get_count();
// Counts the main bank's records into its count, leaving it closed. 0.
int url_pool_refresh_counter();
// Moves every record of the backup bank into the main bank, then removes the
// backup file, leaving both banks closed. A record the main bank holds
// already counts as moved; when a put fails or a read of the backup bank
// fails (logged), the walk stops and the backup file is kept, so that a
// later restore can finish. For start-up. 0.
int url_pool_restore_db();
// Empties both banks; the second coll_clean's result. For start-up.
int url_pool_clean();
// Closes both banks. 0.
int close_all_url_banks();

// Sets the dirty flag and clears any backoff.
void url_pool_set_dirty_flag(int32_t flag);
int32_t url_pool_get_dirty_flag();
// The pool is not ready for seconds from now.
void url_pool_backoff(int32_t seconds);
// 1 when the pool is ready: at once when dirty (which it clears, restarting
// readiness now), else from ready_time on.
int url_pool_is_ready();

void pool_db2_lock();
void pool_db2_unlock();

// The clock of the readiness and backoff checks; time() unless set. For
// hosts that keep their own time, and for tests.
void url_pool_set_clock(time_t (*now)());

#endif  // CRAWLPEEK_ROBOT_URL_POOL_H_
