// A storage object: one Berkeley DB B-tree file behind a table of eleven
// operations, its slots.
//
// Code above the storage layer calls only the slots, never Berkeley DB and
// never the sto_* defaults directly, so a storage made of several files can
// install its own operations and keep this interface. Every default checks
// its object first: a null object, or one that is not open (for all but
// open), gives 0 (null from open) and logs nothing. Failures are logged to the
// robot log as errors from "robot_db".
//
// Keys of files used with the defaults are NUL-terminated strings whose size
// counts the NUL. Whether a returned key or value is the caller's to free
// follows from the flags the caller sets in its DBT (DB_DBT_MALLOC: the
// caller frees); the object never frees what it returns.
//
// Each Berkeley DB call here, closing a handle or cursor through the deleters
// below included, is made under robot_db_call_lock, so objects of different
// modules may be used by different threads at once. The object itself is not
// guarded (no operation takes `lock`): callers serialise each object, its
// cursor and the memory its reads return, with their module's lock.
//
// A reader that must not trust the file's tree (a crawler is writing it) reads
// it from its pages as they lie on disk instead (sto_read_pages): the reading
// slots and sto_read then answer from those pages, and nothing goes through
// Berkeley DB.
#ifndef CRAWLPEEK_ROBOT_STORAGE_OBJECT_H_
#define CRAWLPEEK_ROBOT_STORAGE_OBJECT_H_

#include <db.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

struct storage_object;
class PageSnapshot;

typedef DB *(*sto_open_fn)(storage_object *obj, uint32_t flags);
typedef int (*sto_op_fn)(storage_object *obj);
typedef int (*sto_key_fn)(storage_object *obj, DBT *key);
typedef int (*sto_pair_fn)(storage_object *obj, DBT *key, DBT *data);

namespace storage {
// Close what is still open when an object goes without its close slot, under
// robot_db_call_lock: never let one go while holding that lock.
struct CloseDb {
    void operator()(DB *db) const;
};
struct CloseCursor {
    void operator()(DBC *cursor) const;
};
using CursorPtr = std::unique_ptr<DBC, CloseCursor>;
// The pages a file is read from, with the slots' cursor on them.
struct PageReading;
}  // namespace storage

struct storage_object {
    std::string name;                                   // the file's path
    std::unique_ptr<DB, storage::CloseDb> db;           // null while closed
    DBT cursor_key{};                                   // kept for the URL pool's collection cursor
    storage::CursorPtr cursor;                          // the single cursor, or null
    // Berkeley DB's result of the last read through the cursor slots
    // (set_cursor, first, next): 0, DB_NOTFOUND at the end of the file, or
    // the error that their result of 0 stands for.
    int cursor_result = 0;
    // +1 per successful put or update, -1 per successful delete while above 0.
    int32_t count = 0;
    uint32_t open_flags = 0;  // the flags of the open handle
    std::mutex lock;          // for callers; no operation here takes it
    // Non-null while the file is read from its pages on disk.
    std::shared_ptr<storage::PageReading> pages;

    sto_open_fn open = nullptr;
    sto_op_fn close = nullptr;
    sto_pair_fn put = nullptr;
    sto_pair_fn update = nullptr;
    sto_pair_fn get = nullptr;
    sto_key_fn del = nullptr;
    sto_pair_fn set_cursor = nullptr;
    sto_op_fn cursor_del = nullptr;
    sto_op_fn sync = nullptr;
    sto_pair_fn first = nullptr;
    sto_pair_fn next = nullptr;
};

// A closed object for the file name, with the default operations in its
// slots. Memory exhaustion ends the process with status -1.
storage_object *create_storage_object(const char *name);

// Calls the object's close slot, removes its file when erase is nonzero and
// the host says its state is being erased, and releases the object. Accepts
// null. Returns 0.
int destroy_storage_object(storage_object *obj, int erase);

// Releases a heap DBT made by a record encoder, and its data. Accepts null.
// Returns 0.
int destroy_DBT(DBT *dbt);

// The handle open with flags (DB_CREATE, DB_RDONLY or 0); the same handle
// when it is already open with them, else the file is closed (with its
// cursor) and opened anew. Null when it cannot be opened; errno then holds
// the system's error when there is one.
DB *sto_open(storage_object *obj, uint32_t flags);

// Closes the cursor and the file. 1 when the file closed cleanly, 0 when it
// reported an error (logged; the object is closed anyway) or was not open.
int sto_close(storage_object *obj);

// Stores data under key: sto_put only when key is new, sto_update in any case.
// 1 stored (count grows), 0 failed: the failure is logged and the object is
// closed through its close slot; the next open reopens it.
int sto_put(storage_object *obj, DBT *key, DBT *data);
int sto_update(storage_object *obj, DBT *key, DBT *data);
int sto_put_flags(storage_object *obj, DBT *key, DBT *data, uint32_t flags);

// 1 and data filled in when key is stored; 0 when absent (not logged) or on
// an error (logged).
int sto_get(storage_object *obj, DBT *key, DBT *data);

// Deletes key. 1 when deleted or absent (the absence is logged), 0 on an
// error. count never goes below 0.
int sto_del(storage_object *obj, DBT *key);

// Positions the cursor (made if none is open) on exactly key and reads the
// record into data. 1 when there is one.
int sto_set_cursor(storage_object *obj, DBT *key, DBT *data);

// Deletes the record under the cursor; 1 done, 0 without a cursor or on an
// error. count is not changed.
int sto_cursor_del(storage_object *obj);

// A cursor of the caller's own on obj's file, apart from the object's one
// cursor; null when the object is null or closed, or Berkeley DB refuses one
// (its code then in *error when error is given). Nothing is logged.
storage::CursorPtr sto_open_cursor(storage_object *obj, int *error = nullptr);

// Reads the file from its pages as they lie on disk from now on (see
// page_snapshot.h); the object must be open read-only. 1 done; 0 when the
// file cannot be read that way, with the reason in *why.
int sto_read_pages(storage_object *obj, std::string *why);

// The pages the file is read from, or null while it is read through Berkeley
// DB.
const PageSnapshot *sto_page_snapshot(const storage_object *obj);

// Reads key's record into data as DB->get does, from the pages when the file
// is read from them: 0, DB_NOTFOUND, DB_BUFFER_SMALL for a DB_DBT_USERMEM
// descriptor too small (its size then says what is needed), or another error.
// Nothing is logged.
int sto_read(storage_object *obj, DBT *key, DBT *data);

// Flushes the file. 1 done, 0 failed (logged).
int sto_sync(storage_object *obj);

// Starts a new cursor on the smallest key (key size 0) or on the smallest key
// not below key, reading it into key and data. 1 when a record was read.
int sto_first(storage_object *obj, DBT *key, DBT *data);

// The next record of the cursor (the first of a cursor not yet positioned,
// made if none is open). 1 when a record was read; 0 at the end of the file
// or on an error, neither logged. The cursor stays open at the end.
int sto_next(storage_object *obj, DBT *key, DBT *data);

#endif  // CRAWLPEEK_ROBOT_STORAGE_OBJECT_H_
