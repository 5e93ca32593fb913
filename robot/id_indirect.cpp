#include "robot/id_indirect.h"

#include <cerrno>

#include "log/log.h"
#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/robot_db_env.h"
#include "robot/vurl_id_memory.h"
#include "robot/vurl_meta.h"

storage_object *vdb_url = nullptr;
storage_object *vdb_id = nullptr;
std::mutex db_lock;

void visited_db_lock() {
    db_lock.lock();
}

void visited_db_unlock() {
    db_lock.unlock();
}

namespace {

constexpr char kSource[] = "vurl";

// Whether a value read from vid.db is an id that accepts takes.
bool is_id_value(const DBT &id, bool (*accepts)(uint32_t) = vurl_is_record_id) {
    return id.size == 4 && accepts(decode_fixed32(static_cast<const uint8_t *>(id.data)));
}

// The first step of every operation: the URL's id into *id (in bytes, or
// left in Berkeley DB's memory). The metadata's key, and a value that is no
// id, are not found: a put then gives the URL a sound id. The index answers
// when it knows.
int lookup_id(DB *id_db, DBT *key, DBT *id, uint8_t bytes[4], uint32_t flags) {
    if (vurl_is_meta_key(key)) return DB_NOTFOUND;
    if (UrlIdIndex *index = vurl_id_index_of(id_db)) {
        uint32_t found = 0;
        switch (index->find(dbt_bytes(key), &found)) {
            case UrlIdIndex::Answer::kId:
                encode_fixed32(bytes, found);
                *id = borrowed_dbt(bytes, 4);
                return 0;
            case UrlIdIndex::Answer::kAbsent:
                return DB_NOTFOUND;
            case UrlIdIndex::Answer::kUnknown:
                break;
        }
    }
    const int rc = robot_db_call([&] { return id_db->get(id_db, nullptr, key, id, flags); });
    if (rc != 0) return rc;
    return is_id_value(*id) ? 0 : DB_NOTFOUND;
}

// A reader's two steps through sto_read, so from the files' pages when they
// are read from them: the record of the URL key under an id that accepts
// takes. 1 when found.
int read_indirect(DBT *key, DBT *data, bool (*accepts)(uint32_t)) {
    if (vurl_is_meta_key(key)) return 0;
    MallocDbt id;
    if (sto_read(vdb_id, key, id.get()) != 0 || !is_id_value(*id.get(), accepts)) return 0;
    DBT id_key = borrowed_dbt(id.data(), id.size());
    return sto_read(vdb_url, &id_key, data) == 0 ? 1 : 0;
}

// Gives the URL key the id next_id in vid.db; Berkeley DB's result, or
// EINVAL or ENOSPC for a key that is refused (logged).
int assign_id(DB *id_db, DBT *key, DBT *id, uint8_t bytes[4], uint32_t flags) {
    if (vurl_is_meta_key(key)) {
        vellog_write(0, 3, kSource, __LINE__,
                     "%s is the visited url metadata's key, not a URL; not stored\n",
                     VURL_META_KEY);
        return EINVAL;
    }
    if (g_vurl_meta.next_id <= 0 || g_vurl_meta.next_id >= kVurlIdLimit) {
        vellog_write(0, 3, kSource, __LINE__,
                     "No record id left in the visited url database (next id %d) for %s\n",
                     g_vurl_meta.next_id, key_text(key).c_str());
        return ENOSPC;
    }
    // next_id moves before vid.db is written: a failed write leaves a gap
    // rather than risking one id for two URLs.
    const auto given = static_cast<uint32_t>(g_vurl_meta.next_id++);
    encode_fixed32(bytes, given);
    *id = borrowed_dbt(bytes, 4);
    const int rc = robot_db_call([&] { return id_db->put(id_db, nullptr, key, id, flags); });
    if (UrlIdIndex *index = vurl_id_index_of(id_db)) {
        // A failed put may or may not have reached the file: the index no
        // longer answers for keys it lacks.
        if (rc == 0) {
            index->put(dbt_bytes(key), given);
        } else {
            index->mark_incomplete();
        }
    }
    return rc;
}

int get_record(DB *rec_db, DBT *id, DBT *data, uint32_t flags) {
    return robot_db_call([&] { return rec_db->get(rec_db, nullptr, id, data, flags); });
}

int put_record(DB *rec_db, DBT *id, DBT *data, uint32_t flags) {
    const int rc = robot_db_call([&] { return rec_db->put(rec_db, nullptr, id, data, flags); });
    vurl_note_record_write(rec_db, id, rc == 0 ? data : nullptr);
    return rc;
}

}  // namespace

int db_indirect_get(DB *id_db, DB *rec_db, DBT *key, DBT *data, uint32_t flags, int *err) {
    DBT id{};
    uint8_t id_bytes[4];
    *err = lookup_id(id_db, key, &id, id_bytes, flags);
    if (*err != 0) return 0;
    return get_record(rec_db, &id, data, flags);
}

int db_indirect_put(DB *id_db, DB *rec_db, DBT *key, DBT *data, uint32_t flags, int *err) {
    DBT id{};
    uint8_t id_bytes[4];
    int rc = lookup_id(id_db, key, &id, id_bytes, flags);
    if (rc == 0) {
        *err = 0;
        return put_record(rec_db, &id, data, flags);
    }
    if (rc != DB_NOTFOUND) {
        *err = rc;
        return 0;
    }
    *err = assign_id(id_db, key, &id, id_bytes, flags);
    if (*err != 0) return 0;
    return put_record(rec_db, &id, data, flags);
}

int db_indirect_update(DB *id_db, DB *rec_db, DBT *key, DBT *data, uint32_t flags, int *err) {
    DBT id{};
    uint8_t id_bytes[4];
    *err = lookup_id(id_db, key, &id, id_bytes, flags);
    if (*err != 0) return 0;
    return put_record(rec_db, &id, data, flags);
}

int db_indirect_del(DB *id_db, DB *rec_db, DBT *key, uint32_t flags, int *err) {
    DBT id{};
    uint8_t id_bytes[4];
    *err = lookup_id(id_db, key, &id, id_bytes, 0);
    if (*err != 0) return 0;
    const int rc = robot_db_call([&] { return rec_db->del(rec_db, nullptr, &id, flags); });
    vurl_note_record_write(rec_db, &id, nullptr);
    return rc;
}

namespace {

typedef int (*indirect_fn)(DB *, DB *, DBT *, DBT *, uint32_t, int *);

// One two-step operation on the open files; 1 when both steps succeeded.
int indirect(indirect_fn op, DBT *key, DBT *data) {
    if (vdb_id == nullptr || vdb_id->db == nullptr || vdb_url == nullptr ||
        vdb_url->db == nullptr) {
        return 0;
    }
    // Files read from their pages are only read.
    if (vdb_id->pages != nullptr || vdb_url->pages != nullptr) {
        return op == db_indirect_get ? read_indirect(key, data, vurl_is_record_id) : 0;
    }
    int err = 0;
    int rc = op(vdb_id->db.get(), vdb_url->db.get(), key, data, 0, &err);
    return rc == 0 && err == 0 ? 1 : 0;
}

}  // namespace

DB *vurl_open(storage_object *, uint32_t flags) {
    DB *ids = sto_open(vdb_id, flags);
    DB *records = sto_open(vdb_url, flags);
    return ids != nullptr ? records : nullptr;
}

int vurl_close(storage_object *) {
    int records = sto_close(vdb_url);
    int ids = sto_close(vdb_id);
    return records == 1 && ids == 1 ? 1 : 0;
}

int vurl_put(storage_object *, DBT *key, DBT *data) {
    return indirect(db_indirect_put, key, data);
}

int vurl_update(storage_object *, DBT *key, DBT *data) {
    return indirect(db_indirect_update, key, data);
}

int vurl_get(storage_object *, DBT *key, DBT *data) {
    return indirect(db_indirect_get, key, data);
}

int vurl_get_stored(DBT *key, DBT *data) {
    if (vdb_id == nullptr || vdb_id->db == nullptr || vdb_url == nullptr ||
        vdb_url->db == nullptr) {
        return 0;
    }
    return read_indirect(key, data, vurl_names_stored_record);
}

int vurl_del(storage_object *, DBT *) {
    return 1;
}

int vurl_set_cursor(storage_object *, DBT *key, DBT *data) {
    return sto_set_cursor(vdb_url, key, data);
}

int vurl_cursor_del(storage_object *) {
    return 1;
}

int vurl_sync(storage_object *) {
    int records = sto_sync(vdb_url);
    int ids = sto_sync(vdb_id);
    return records == 1 && ids == 1 ? 1 : 0;
}

int vurl_first(storage_object *, DBT *key, DBT *data) {
    return sto_first(vdb_url, key, data);
}

int vurl_next(storage_object *, DBT *key, DBT *data) {
    return sto_next(vdb_url, key, data);
}

void vurl_install_slots(storage_object *obj) {
    obj->open = vurl_open;
    obj->close = vurl_close;
    obj->put = vurl_put;
    obj->update = vurl_update;
    obj->get = vurl_get;
    obj->del = vurl_del;
    obj->set_cursor = vurl_set_cursor;
    obj->cursor_del = vurl_cursor_del;
    obj->sync = vurl_sync;
    obj->first = vurl_first;
    obj->next = vurl_next;
}
