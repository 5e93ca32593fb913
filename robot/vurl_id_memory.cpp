#include "robot/vurl_id_memory.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/robot_db_env.h"
#include "robot/vurl_db.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_record.h"

namespace {

constexpr uint32_t kWalkBuffer = 1 << 20;

struct IdMemory {
    explicit IdMemory(size_t budget) : index(budget) {}
    UrlIdIndex index;
    // By id: stored stamped with met_stamp, which is g_timestamp as it was
    // when they were noted; a new crawl stamp starts the set again.
    std::vector<bool> met;
    uint32_t met_stamp = 0;
    const DB *id_db = nullptr;
    const DB *rec_db = nullptr;

    // The met ids, emptied first if the crawl stamp has changed.
    std::vector<bool> &met_now() {
        if (met_stamp != g_timestamp) {
            met.clear();
            met_stamp = g_timestamp;
        }
        return met;
    }
};

std::unique_ptr<IdMemory> memory;

// What is held, while both files are still open through the handles it was
// learnt through.
IdMemory *held() {
    if (memory == nullptr) return nullptr;
    if (vdb_id == nullptr || vdb_url == nullptr || vdb_id->db.get() != memory->id_db ||
        vdb_url->db.get() != memory->rec_db) {
        memory.reset();
    }
    return memory.get();
}

// Learns every key of the open vid.db whose value is a record id into
// index, reading many records a call. False when the walk fails.
bool learn(UrlIdIndex *index) {
    storage::CursorPtr cursor = sto_open_cursor(vdb_id);
    if (cursor == nullptr) return false;
    std::vector<uint8_t> buffer(kWalkBuffer);
    for (;;) {
        DBT key{};
        DBT data{};
        data.data = buffer.data();
        data.ulen = static_cast<uint32_t>(buffer.size());
        data.flags = DB_DBT_USERMEM;
        DBC *walk = cursor.get();
        const int rc =
            robot_db_call([&] { return walk->get(walk, &key, &data, DB_NEXT | DB_MULTIPLE_KEY); });
        if (rc == DB_BUFFER_SMALL) {
            // A record larger than the buffer: room for it, and read again.
            buffer.resize(std::max<size_t>(2 * buffer.size(), data.size));
            continue;
        }
        if (rc == DB_NOTFOUND) return true;
        if (rc != 0) return false;
        void *at = nullptr;
        DB_MULTIPLE_INIT(at, &data);
        for (;;) {
            void *stored_key = nullptr;
            void *stored_value = nullptr;
            uint32_t key_size = 0;
            uint32_t value_size = 0;
            DB_MULTIPLE_KEY_NEXT(at, &data, stored_key, key_size, stored_value, value_size);
            if (at == nullptr) break;
            const DBT url = borrowed_dbt(stored_key, key_size);
            if (value_size != 4 || vurl_is_meta_key(&url)) continue;
            const uint32_t id = decode_fixed32(static_cast<const uint8_t *>(stored_value));
            if (vurl_is_record_id(id)) index->put(dbt_bytes(&url), id);
        }
    }
}

std::optional<uint32_t> id_of_key(const DBT *id) {
    if (id->size != 4) return std::nullopt;
    return decode_fixed32(static_cast<const uint8_t *>(id->data));
}

}  // namespace

void vurl_learn_ids(size_t budget_bytes) {
    vurl_forget_ids();
    if (vdb_id == nullptr || vdb_id->db == nullptr || vdb_id->pages != nullptr ||
        vdb_url == nullptr || vdb_url->db == nullptr) {
        return;
    }
    auto learnt = std::make_unique<IdMemory>(budget_bytes);
    if (!learn(&learnt->index)) learnt->index.mark_incomplete();
    learnt->id_db = vdb_id->db.get();
    learnt->rec_db = vdb_url->db.get();
    learnt->met_stamp = g_timestamp;
    memory = std::move(learnt);
}

void vurl_forget_ids() {
    memory.reset();
}

void vurl_id_memory_usage(size_t *urls, size_t *bytes) {
    const IdMemory *now = held();
    *urls = now != nullptr ? now->index.size() : 0;
    *bytes = now != nullptr ? now->index.memory_used() + now->met.capacity() / 8 : 0;
}

UrlIdIndex *vurl_id_index_of(const DB *id_db) {
    IdMemory *now = held();
    return now != nullptr && id_db == now->id_db ? &now->index : nullptr;
}

UrlIdIndex::Answer vurl_indexed_id(const DBT *key, uint32_t *id) {
    UrlIdIndex *index = vdb_id != nullptr ? vurl_id_index_of(vdb_id->db.get()) : nullptr;
    if (index == nullptr || vurl_is_meta_key(key)) return UrlIdIndex::Answer::kUnknown;
    return index->find(dbt_bytes(key), id);
}

void vurl_note_record_write(const DB *rec_db, const DBT *id, const DBT *stored) {
    IdMemory *now = held();
    if (now == nullptr || rec_db != now->rec_db) return;
    const std::optional<uint32_t> written = id_of_key(id);
    if (!written || !vurl_is_record_id(*written)) return;
    const std::optional<uint32_t> stamp =
        stored != nullptr ? visited_url_stored_last_processed(stored->data, stored->size)
                          : std::nullopt;
    const bool stamped = stamp && *stamp == g_timestamp;
    std::vector<bool> &met = now->met_now();
    if (*written >= met.size()) {
        if (!stamped) return;
        try {
            met.resize(std::max<size_t>(*written + 1, 2 * met.size()));
        } catch (const std::bad_alloc &) {
            // Without memory for it the set is given up: records are read.
            vurl_forget_ids();
            return;
        }
    }
    met[*written] = stamped;
}

bool vurl_known_met(const DBT *key) {
    uint32_t id = 0;
    if (vurl_indexed_id(key, &id) != UrlIdIndex::Answer::kId) return false;
    const std::vector<bool> &met = held()->met_now();
    return id < met.size() && met[id];
}

namespace {

// The index as vid.db's write slots keep it: obj's when obj is the file it
// mirrors.
UrlIdIndex *index_for(const storage_object *obj) {
    return obj != nullptr && obj->db != nullptr ? vurl_id_index_of(obj->db.get()) : nullptr;
}

// Keeps the index after a write of value (null: a delete) under key that
// succeeded, or forgets it all after one that failed, which may or may not
// have reached the file.
void note_id_write(storage_object *obj, const DBT *key, const DBT *value, int written) {
    UrlIdIndex *index = index_for(obj);
    if (index == nullptr || vurl_is_meta_key(key)) return;
    if (written == 0) {
        vurl_forget_ids();
        return;
    }
    const std::optional<uint32_t> id = value != nullptr ? id_of_key(value) : std::nullopt;
    if (id && vurl_is_record_id(*id)) {
        index->put(dbt_bytes(key), *id);
    } else {
        index->forget(dbt_bytes(key));
    }
}

int vid_put(storage_object *obj, DBT *key, DBT *data) {
    const int written = sto_put(obj, key, data);
    note_id_write(obj, key, data, written);
    return written;
}

int vid_update(storage_object *obj, DBT *key, DBT *data) {
    const int written = sto_update(obj, key, data);
    note_id_write(obj, key, data, written);
    return written;
}

int vid_del(storage_object *obj, DBT *key) {
    const int deleted = sto_del(obj, key);
    note_id_write(obj, key, nullptr, deleted);
    return deleted;
}

// The key under the cursor is not at hand: the index is forgotten.
int vid_cursor_del(storage_object *obj) {
    if (index_for(obj) != nullptr) vurl_forget_ids();
    return sto_cursor_del(obj);
}

}  // namespace

void vurl_install_id_slots(storage_object *obj) {
    obj->put = vid_put;
    obj->update = vid_update;
    obj->del = vid_del;
    obj->cursor_del = vid_cursor_del;
}
