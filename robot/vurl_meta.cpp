#include "robot/vurl_meta.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "extra/malloc_ptr.h"
#include "log/log.h"
#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/robot_db_env.h"

vurl_meta g_vurl_meta;

namespace {

constexpr char kSource[] = "vurl";

DBT meta_key() {
    return borrowed_dbt(VURL_META_KEY, sizeof VURL_META_KEY);
}

// Looks the record id up in url-visited.db: 0 found, DB_NOTFOUND, or an error.
int probe_record(DB *records, uint32_t id) {
    uint8_t bytes[4];
    encode_fixed32(bytes, id);
    DBT key = borrowed_dbt(bytes, sizeof bytes);
    DBT value{};
    return robot_db_call([&] { return records->get(records, nullptr, &key, &value, 0); });
}

// The number of keys of the B-tree, or -1 when its statistics cannot be read.
int64_t key_count(DB *db) {
    DB_BTREE_STAT *raw = nullptr;
    if (robot_db_call([&] { return db->stat(db, nullptr, &raw, 0); }) != 0) return -1;
    MallocPtr<DB_BTREE_STAT> stat(raw);
    return stat->bt_nkeys;
}

// The id a key of url-visited.db stands for; none for a key that is no id.
std::optional<uint32_t> key_id(const DBT &key) {
    if (key.size != 4) return std::nullopt;
    const uint32_t id = decode_fixed32(static_cast<const uint8_t *>(key.data));
    if (!vurl_is_record_id(id)) return std::nullopt;
    return id;
}

// The highest id that keys url-visited.db, found from its last key backwards
// (keys sort by id); 0 when there is none, none on a read error.
std::optional<uint32_t> highest_record_id(storage_object *records) {
    storage::CursorPtr cursor = sto_open_cursor(records);
    if (cursor == nullptr) return std::nullopt;
    DBT key{}, value{};
    // Only the key is wanted.
    value.flags = DB_DBT_PARTIAL;
    auto step = [&](uint32_t how) {
        return robot_db_call([&] { return cursor->get(cursor.get(), &key, &value, how); });
    };
    for (int rc = step(DB_LAST); rc != DB_NOTFOUND; rc = step(DB_PREV)) {
        if (rc != 0) return std::nullopt;
        if (std::optional<uint32_t> id = key_id(key)) return id;
    }
    return 0;
}

// Sets next_id past every id in use and stores it. 0 when vid.db's key count
// or url-visited.db's last id cannot be read.
int repair_next_id(vurl_meta *meta, uint32_t highest) {
    const int64_t keys = key_count(vdb_id->db.get());
    if (keys < 0) {
        vellog_write(0, 3, kSource, __LINE__, "Cannot read visited URL db stats\n");
        return 0;
    }
    const int64_t next = std::max<int64_t>({keys, int64_t{highest} + 1, 1});
    meta->next_id = static_cast<int32_t>(std::min<int64_t>(next, kVurlIdLimit));
    vurl_write_meta();
    return 1;
}

}  // namespace

void vurl_meta_encode(const vurl_meta &meta, uint8_t out[kVurlMetaStoredSize]) {
    encode_fixed32(out, static_cast<uint32_t>(meta.version));
    encode_fixed32(out + 4, meta.crawl_start);
    encode_fixed32(out + 8, static_cast<uint32_t>(meta.next_id));
    encode_fixed32(out + 12, meta.flags);
}

int vurl_read_meta(vurl_meta *meta) {
    VisitedDbHold hold;
    if (vdb_id == nullptr || vdb_id->db == nullptr) return 0;
    DBT key = meta_key();
    MallocDbt value;
    int rc = sto_read(vdb_id, &key, value.get());
    if (rc == DB_NOTFOUND) return 1;
    if (rc != 0) {
        vellog_write(0, 3, kSource, __LINE__,
                     "Unexpected error when reading visited url metadata (error=%d)\n", rc);
        return 0;
    }
    // The stored words in order; a short value replaces the whole words it has.
    uint32_t words[] = {static_cast<uint32_t>(meta->version), meta->crawl_start,
                        static_cast<uint32_t>(meta->next_id), meta->flags};
    ByteReader stored(value.data(), std::min<size_t>(value.size(), kVurlMetaStoredSize));
    for (uint32_t &word : words) {
        std::optional<uint32_t> read = stored.read_fixed32();
        if (!read) break;
        word = *read;
    }
    meta->version = static_cast<int32_t>(words[0]);
    meta->crawl_start = words[1];
    meta->next_id = static_cast<int32_t>(words[2]);
    meta->flags = words[3];
    return 1;
}

int vurl_write_meta() {
    if (vdb_id == nullptr || vdb_id->db == nullptr) return 0;
    DB *ids = vdb_id->db.get();
    uint8_t bytes[kVurlMetaStoredSize];
    vurl_meta_encode(g_vurl_meta, bytes);
    DBT key = meta_key();
    DBT value = borrowed_dbt(bytes, sizeof bytes);
    int rc = robot_db_call([&] { return ids->put(ids, nullptr, &key, &value, 0); });
    if (rc != 0) {
        vellog_write(0, 3, kSource, __LINE__,
                     "Unexpected error when writing visited url metadata (error=%d)\n", rc);
        return 0;
    }
    return 1;
}

int vurl_meta_sanity_check(vurl_meta *meta, int create) {
    if (create == 0) return 1;
    VisitedDbHold hold;
    if (vdb_id == nullptr || vdb_id->db == nullptr || vdb_url == nullptr ||
        vdb_url->db == nullptr) {
        return 0;
    }
    DB *records = vdb_url->db.get();
    const std::optional<uint32_t> highest = highest_record_id(vdb_url);
    if (!highest) return 0;

    // next_id must be free and next_id - 1 taken; and since the probes
    // cannot see a next_id that points into a gap among the ids, it must
    // also be above the highest id in use.
    uint32_t probed = static_cast<uint32_t>(meta->next_id);
    int rc = probe_record(records, probed);
    if (rc == DB_NOTFOUND) {
        probed = probed - 1;
        rc = probe_record(records, probed);
        if (rc != 0 && rc != DB_NOTFOUND) return 0;
        if (rc == 0 && meta->next_id > 0 && static_cast<uint32_t>(meta->next_id) > *highest) {
            return 1;
        }
    }
    vellog_write(0, 3, kSource, __LINE__,
                 "Visited URL db has unexpected meta info (id = %d), doing exhaustive check...\n",
                 static_cast<int32_t>(probed));
    return repair_next_id(meta, *highest);
}

bool vurl_is_meta_key(const DBT *key) {
    return key != nullptr && key->size == sizeof VURL_META_KEY &&
           std::memcmp(key->data, VURL_META_KEY, sizeof VURL_META_KEY) == 0;
}
