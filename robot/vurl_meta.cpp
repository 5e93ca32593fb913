#include "robot/vurl_meta.h"

#include <db.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "extra/malloc_ptr.h"
#include "log/log.h"
#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"

vurl_meta g_vurl_meta;

namespace {

constexpr char kSource[] = "vurl";

DBT meta_key() {
    return borrowed_dbt(VURL_META_KEY, sizeof VURL_META_KEY);
}

// The fields of meta in stored order.
int32_t *meta_word(vurl_meta *meta, size_t i) {
    int32_t *words[] = {&meta->version, &meta->crawl_start, &meta->next_id,
                        reinterpret_cast<int32_t *>(&meta->flags)};
    return words[i];
}

// Looks the record id up in url-visited.db: 0 found, DB_NOTFOUND, or an error.
int probe_record(DB *records, uint32_t id) {
    uint8_t bytes[4];
    encode_fixed32(bytes, id);
    DBT key = borrowed_dbt(bytes, sizeof bytes);
    DBT value{};
    return records->get(records, nullptr, &key, &value, 0);
}

// The number of keys of the B-tree, or -1 when its statistics cannot be read.
int64_t key_count(DB *db) {
    DB_BTREE_STAT *raw = nullptr;
    if (db->stat(db, nullptr, &raw, 0) != 0) return -1;
    MallocPtr<DB_BTREE_STAT> stat(raw);
    return stat->bt_nkeys;
}

// The highest record id in use: the last key of url-visited.db and every id
// that vid.db hands to a URL (a URL may hold an id whose record was never
// written). 0 when there is none.
uint32_t highest_id(DB *ids, DB *records) {
    uint32_t highest = 0;
    DBC *raw = nullptr;
    if (records->cursor(records, nullptr, &raw, 0) == 0) {
        std::unique_ptr<DBC, storage::CloseCursor> cursor(raw);
        DBT key{}, value{};
        if (cursor->get(cursor.get(), &key, &value, DB_LAST) == 0 && key.size == 4) {
            highest = decode_fixed32(static_cast<const uint8_t *>(key.data));
        }
    }
    if (ids->cursor(ids, nullptr, &raw, 0) == 0) {
        std::unique_ptr<DBC, storage::CloseCursor> cursor(raw);
        DBT key{}, value{};
        while (cursor->get(cursor.get(), &key, &value, DB_NEXT) == 0) {
            // The metadata's 16 bytes are no id.
            if (value.size != 4) continue;
            highest = std::max(highest, decode_fixed32(static_cast<const uint8_t *>(value.data)));
        }
    }
    return highest;
}

// Sets next_id past every id in use and stores it. 0 when vid.db's key count
// cannot be read.
int repair_next_id(vurl_meta *meta, DB *ids, DB *records) {
    int64_t keys = key_count(ids);
    if (keys < 0) {
        vellog_write(0, 3, kSource, __LINE__, "Cannot read visited URL db stats\n");
        return 0;
    }
    int64_t next = std::max<int64_t>(keys, int64_t{highest_id(ids, records)} + 1);
    meta->next_id = static_cast<int32_t>(next);
    vurl_write_meta();
    return 1;
}

}  // namespace

void vurl_meta_encode(const vurl_meta &meta, uint8_t out[kVurlMetaStoredSize]) {
    vurl_meta copy = meta;
    for (size_t i = 0; i < kVurlMetaStoredSize / 4; ++i) {
        encode_fixed32(out + 4 * i, static_cast<uint32_t>(*meta_word(&copy, i)));
    }
}

int vurl_read_meta(vurl_meta *meta) {
    std::lock_guard<std::mutex> hold(db_lock);
    if (vdb_id == nullptr || vdb_id->db == nullptr) return 0;
    DB *ids = vdb_id->db.get();
    DBT key = meta_key();
    DBT value{};
    int rc = ids->get(ids, nullptr, &key, &value, 0);
    if (rc == DB_NOTFOUND) return 1;
    if (rc != 0) {
        vellog_write(0, 3, kSource, __LINE__,
                     "Unexpected error when reading visited url metadata (error=%d)\n", rc);
        return 0;
    }
    ByteReader stored(value.data, std::min<size_t>(value.size, kVurlMetaStoredSize));
    for (size_t i = 0; i < kVurlMetaStoredSize / 4; ++i) {
        std::optional<uint32_t> word = stored.read_fixed32();
        if (!word) break;
        *meta_word(meta, i) = static_cast<int32_t>(*word);
    }
    return 1;
}

int vurl_write_meta() {
    if (vdb_id == nullptr || vdb_id->db == nullptr) return 0;
    DB *ids = vdb_id->db.get();
    uint8_t bytes[kVurlMetaStoredSize];
    vurl_meta_encode(g_vurl_meta, bytes);
    DBT key = meta_key();
    DBT value = borrowed_dbt(bytes, sizeof bytes);
    int rc = ids->put(ids, nullptr, &key, &value, 0);
    if (rc != 0) {
        vellog_write(0, 3, kSource, __LINE__,
                     "Unexpected error when writing visited url metadata (error=%d)\n", rc);
        return 0;
    }
    return 1;
}

int vurl_meta_sanity_check(vurl_meta *meta, int create) {
    if (create == 0) return 1;
    std::lock_guard<std::mutex> hold(db_lock);
    if (vdb_id == nullptr || vdb_id->db == nullptr || vdb_url == nullptr ||
        vdb_url->db == nullptr) {
        return 0;
    }
    DB *ids = vdb_id->db.get();
    DB *records = vdb_url->db.get();

    // next_id must be free and next_id - 1 taken.
    uint32_t probed = static_cast<uint32_t>(meta->next_id);
    int rc = probe_record(records, probed);
    if (rc == DB_NOTFOUND) {
        probed = probed - 1;
        rc = probe_record(records, probed);
        if (rc == 0) return 1;
        if (rc != DB_NOTFOUND) return 0;
    }
    vellog_write(0, 3, kSource, __LINE__,
                 "Visited URL db has unexpected meta info (id = %d), doing exhaustive check...\n",
                 static_cast<int32_t>(probed));
    return repair_next_id(meta, ids, records);
}
