#include "robot/storage_object.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "extra/malloc_ptr.h"
#include "log/objlog.h"
#include "robot/crawler_hooks.h"
#include "robot/dbt.h"
#include "robot/page_snapshot.h"
#include "robot/robot_db_env.h"

namespace storage {

struct PageReading {
    std::unique_ptr<PageSnapshot> snapshot;
    std::unique_ptr<PageSnapshot::Cursor> cursor;  // the slots' cursor, once made
    // What descriptors without memory of their own point at until the next read.
    std::string key;
    std::string value;
};

}  // namespace storage

namespace {

constexpr char kSource[] = "robot_db";

bool is_open(const storage_object *obj) {
    return obj != nullptr && obj->db != nullptr;
}

// Makes the object's cursor when it has none. False (logged) when it cannot.
bool ensure_cursor(storage_object *obj) {
    if (obj->cursor != nullptr) return true;
    int rc = 0;
    obj->cursor = sto_open_cursor(obj, &rc);
    if (obj->cursor == nullptr) {
        rlog_write(0, 3, kSource, __LINE__, "Failed to create cursor for database %s error=%d\n",
                   obj->name.c_str(), rc);
        return false;
    }
    return true;
}

// Closes the cursor, or forgets the one on the pages; its result tells
// nothing the caller could act on.
void drop_cursor(storage_object *obj) {
    obj->cursor.reset();
    if (obj->pages != nullptr) obj->pages->cursor.reset();
}

// Hands bytes over as Berkeley DB would into dbt, by its flags: memory of
// the caller's (DB_DBT_USERMEM), memory the caller frees (DB_DBT_MALLOC,
// DB_DBT_REALLOC), else owned, which keeps them until the next read. A partial
// descriptor gets its part of them. 0, DB_BUFFER_SMALL or ENOMEM.
int hand_over(std::string_view bytes, DBT *dbt, std::string *owned) {
    if ((dbt->flags & DB_DBT_PARTIAL) != 0) {
        bytes = bytes.substr(std::min<size_t>(dbt->doff, bytes.size()), dbt->dlen);
    }
    dbt->size = static_cast<uint32_t>(bytes.size());
    if ((dbt->flags & DB_DBT_USERMEM) != 0) {
        if (dbt->ulen < bytes.size()) return DB_BUFFER_SMALL;
        if (!bytes.empty()) std::memcpy(dbt->data, bytes.data(), bytes.size());
        return 0;
    }
    if ((dbt->flags & (DB_DBT_MALLOC | DB_DBT_REALLOC)) != 0) {
        void *memory = (dbt->flags & DB_DBT_MALLOC) != 0
                           ? std::malloc(std::max<size_t>(bytes.size(), 1))
                           : std::realloc(dbt->data, std::max<size_t>(bytes.size(), 1));
        if (memory == nullptr) return ENOMEM;
        if (!bytes.empty()) std::memcpy(memory, bytes.data(), bytes.size());
        dbt->data = memory;
        return 0;
    }
    owned->assign(bytes);
    dbt->data = owned->data();
    return 0;
}

// A cursor read from the pages, as cursor_get reads one from Berkeley DB: a
// read that fails leaves the cursor where it was (a caller may read the same
// record again into more memory), and DB_SET leaves the key as it is.
int pages_cursor_get(storage_object *obj, DBT *key, DBT *data, uint32_t how) {
    storage::PageReading &pages = *obj->pages;
    const std::string_view wanted(static_cast<const char *>(key->data),
                                  key->data != nullptr ? key->size : 0);
    const bool moving_on = how == DB_NEXT && pages.cursor != nullptr;
    std::unique_ptr<PageSnapshot::Cursor> fresh;
    if (!moving_on) {
        fresh = std::make_unique<PageSnapshot::Cursor>(pages.snapshot.get());
        if (how != DB_NEXT && how != DB_FIRST) fresh->seek(wanted);
    }
    PageSnapshot::Cursor &cursor = moving_on ? *pages.cursor : *fresh;
    std::string_view k, v;
    if (!cursor.next(&k, &v) || (how == DB_SET && k != wanted)) return DB_NOTFOUND;
    // Copied before key is written: wanted may point into pages.key.
    const std::string found_key(k);
    int rc = how != DB_SET ? hand_over(found_key, key, &pages.key) : 0;
    if (rc == 0) rc = hand_over(v, data, &pages.value);
    if (rc != 0) {
        // The record is read again by the next DB_NEXT.
        if (moving_on) cursor.seek(found_key);
        return rc;
    }
    if (!moving_on) pages.cursor = std::move(fresh);
    return 0;
}

int cursor_get(storage_object *obj, DBT *key, DBT *data, uint32_t how) {
    if (obj == nullptr) return 0;
    obj->cursor_result = EINVAL;
    if (is_open(obj) && obj->pages != nullptr) {
        obj->cursor_result = pages_cursor_get(obj, key, data, how);
        return obj->cursor_result == 0 ? 1 : 0;
    }
    if (!is_open(obj) || !ensure_cursor(obj)) return 0;
    DBC *cursor = obj->cursor.get();
    obj->cursor_result = robot_db_call([&] { return cursor->get(cursor, key, data, how); });
    return obj->cursor_result == 0 ? 1 : 0;
}

// A handle of the environment open now, opened on name with flags; null when
// it cannot be made (*open_rc 0) or opened (the open's code in *open_rc).
DB *open_handle(const std::string &name, uint32_t flags, int *open_rc) {
    *open_rc = 0;
    return robot_db_call([&]() -> DB * {
        DB *handle = nullptr;
        if (db_create(&handle, sys_get_db_env(), 0) != 0) return nullptr;
        *open_rc = handle->open(handle, nullptr, name.c_str(), nullptr, DB_BTREE, flags, 0644);
        if (*open_rc == 0) return handle;
        // A handle whose open failed may only be closed.
        handle->close(handle, 0);
        return nullptr;
    });
}

}  // namespace

namespace storage {

void CloseDb::operator()(DB *db) const {
    robot_db_call([db] { return db->close(db, 0); });
}

void CloseCursor::operator()(DBC *cursor) const {
    robot_db_call([cursor] { return cursor->close(cursor); });
}

}  // namespace storage

storage_object *create_storage_object(const char *name) {
    storage_object *obj = new (std::nothrow) storage_object;
    if (obj == nullptr) out_of_memory();
    obj->name = name;
    obj->open = sto_open;
    obj->close = sto_close;
    obj->put = sto_put;
    obj->update = sto_update;
    obj->get = sto_get;
    obj->del = sto_del;
    obj->set_cursor = sto_set_cursor;
    obj->cursor_del = sto_cursor_del;
    obj->sync = sto_sync;
    obj->first = sto_first;
    obj->next = sto_next;
    return obj;
}

int destroy_storage_object(storage_object *obj, int erase) {
    if (obj == nullptr) return 0;
    obj->close(obj);
    if (erase != 0 && sys_get_erase_status() != 0) std::remove(obj->name.c_str());
    delete obj;
    return 0;
}

int destroy_DBT(DBT *dbt) {
    if (dbt == nullptr) return 0;
    std::free(dbt->data);
    std::free(dbt);
    return 0;
}

DB *sto_open(storage_object *obj, uint32_t flags) {
    if (obj == nullptr) return nullptr;
    if (obj->db != nullptr) {
        if (obj->open_flags == flags) return obj->db.get();
        sto_close(obj);
    }
    int rc = 0;
    DB *handle = open_handle(obj->name, flags, &rc);
    if (handle == nullptr) {
        if (rc > 0) errno = rc;
        return nullptr;
    }
    obj->open_flags = flags;
    obj->db.reset(handle);
    return handle;
}

int sto_close(storage_object *obj) {
    if (obj == nullptr) return 0;
    drop_cursor(obj);
    obj->pages.reset();
    DB *db = obj->db.release();
    if (db == nullptr) return 0;
    int rc = robot_db_call([db] { return db->close(db, 0); });
    if (rc != 0) {
        rlog_write(0, 3, kSource, __LINE__, "Failed to close database %s error=%d\n",
                   obj->name.c_str(), rc);
        return 0;
    }
    return 1;
}

int sto_put(storage_object *obj, DBT *key, DBT *data) {
    return sto_put_flags(obj, key, data, DB_NOOVERWRITE);
}

int sto_update(storage_object *obj, DBT *key, DBT *data) {
    return sto_put_flags(obj, key, data, 0);
}

int sto_put_flags(storage_object *obj, DBT *key, DBT *data, uint32_t flags) {
    if (!is_open(obj)) return 0;
    DB *db = obj->db.get();
    int rc = robot_db_call([&] { return db->put(db, nullptr, key, data, flags); });
    // DB_NOOVERWRITE is one of the enumerated operations of the low byte, not a bit.
    const bool no_overwrite = (flags & DB_OPFLAGS_MASK) == DB_NOOVERWRITE;
    bool stored = rc == 0 || (rc == DB_KEYEXIST && !no_overwrite);
    if (!stored) {
        rlog_write(0, 3, kSource, __LINE__, "Failed on writing %s to database %s error=%d\n",
                   key_text(key).c_str(), obj->name.c_str(), rc);
        obj->close(obj);
        return 0;
    }
    if (rc != DB_KEYEXIST) ++obj->count;
    return 1;
}

int sto_read_pages(storage_object *obj, std::string *why) {
    if (!is_open(obj)) {
        *why = "not open";
        return 0;
    }
    auto pages = std::make_shared<storage::PageReading>();
    pages->snapshot = PageSnapshot::scan(obj->name, why);
    if (pages->snapshot == nullptr) return 0;
    drop_cursor(obj);
    obj->pages = std::move(pages);
    return 1;
}

const PageSnapshot *sto_page_snapshot(const storage_object *obj) {
    return obj != nullptr && obj->pages != nullptr ? obj->pages->snapshot.get() : nullptr;
}

int sto_read(storage_object *obj, DBT *key, DBT *data) {
    if (!is_open(obj)) return EINVAL;
    if (obj->pages == nullptr) {
        DB *db = obj->db.get();
        return robot_db_call([&] { return db->get(db, nullptr, key, data, 0); });
    }
    std::string value;
    const std::string_view wanted(static_cast<const char *>(key->data),
                                  key->data != nullptr ? key->size : 0);
    if (!obj->pages->snapshot->get(wanted, &value)) return DB_NOTFOUND;
    return hand_over(value, data, &obj->pages->value);
}

int sto_get(storage_object *obj, DBT *key, DBT *data) {
    if (!is_open(obj)) return 0;
    int rc = sto_read(obj, key, data);
    if (rc == 0) return 1;
    if (rc != DB_NOTFOUND) {
        rlog_write(0, 3, kSource, __LINE__, "Failed while reading %s from database %s error=%d\n",
                   key_text(key).c_str(), obj->name.c_str(), rc);
    }
    return 0;
}

int sto_del(storage_object *obj, DBT *key) {
    if (!is_open(obj)) return 0;
    DB *db = obj->db.get();
    int rc = robot_db_call([&] { return db->del(db, nullptr, key, 0); });
    if (rc == 0) {
        if (obj->count > 0) --obj->count;
        return 1;
    }
    if (rc == DB_NOTFOUND) {
        rlog_write(0, 3, kSource, __LINE__,
                   " Failed to remove KEY=%s from database %s error=NOT FOUND\n",
                   key_text(key).c_str(), obj->name.c_str());
        return 1;
    }
    rlog_write(0, 3, kSource, __LINE__, "Failed to remove KEY=%s from database %s error=%d\n",
               key_text(key).c_str(), obj->name.c_str(), rc);
    return 0;
}

int sto_set_cursor(storage_object *obj, DBT *key, DBT *data) {
    return cursor_get(obj, key, data, DB_SET);
}

int sto_cursor_del(storage_object *obj) {
    if (!is_open(obj) || obj->cursor == nullptr) return 0;
    DBC *cursor = obj->cursor.get();
    return robot_db_call([cursor] { return cursor->del(cursor, 0); }) == 0 ? 1 : 0;
}

storage::CursorPtr sto_open_cursor(storage_object *obj, int *error) {
    DBC *cursor = nullptr;
    // A file read from its pages has no tree for a cursor to walk.
    DB *db = is_open(obj) && obj->pages == nullptr ? obj->db.get() : nullptr;
    const int rc =
        db != nullptr ? robot_db_call([&] { return db->cursor(db, nullptr, &cursor, 0); }) : EINVAL;
    if (error != nullptr) *error = rc;
    return storage::CursorPtr(rc == 0 ? cursor : nullptr);
}

int sto_sync(storage_object *obj) {
    if (!is_open(obj)) return 0;
    DB *db = obj->db.get();
    int rc = robot_db_call([db] { return db->sync(db, 0); });
    if (rc != 0) {
        rlog_write(0, 3, kSource, __LINE__, "Failed to sync database %s error=%d\n",
                   obj->name.c_str(), rc);
        return 0;
    }
    return 1;
}

int sto_first(storage_object *obj, DBT *key, DBT *data) {
    if (!is_open(obj)) return 0;
    drop_cursor(obj);
    return cursor_get(obj, key, data, key->size == 0 ? DB_FIRST : DB_SET_RANGE);
}

int sto_next(storage_object *obj, DBT *key, DBT *data) {
    return cursor_get(obj, key, data, DB_NEXT);
}
