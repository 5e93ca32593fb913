#include "robot/vurl_ops.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "extra/malloc_ptr.h"
#include "log/log.h"
#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/storage_object.h"
#include "robot/vurl_db.h"
#include "robot/vurl_id_memory.h"
#include "robot/vurl_record.h"

namespace {

constexpr char kSource[] = "vurl";
constexpr size_t kStatusOffset = 16;

using Record = VisitedUrlPtr;

struct FreeDbt {
    void operator()(DBT *dbt) const { destroy_DBT(dbt); }
};
using EncodedDbt = std::unique_ptr<DBT, FreeDbt>;

char *copy_text(const char *text) {
    if (text == nullptr) return nullptr;
    char *copy = strdup(text);
    if (copy == nullptr) out_of_memory();
    return copy;
}

// The record in value, or null when it does not decode or has no URL.
Record decode(const void *data, uint32_t size, int resolve) {
    DBT stored = borrowed_dbt(data, size);
    Record obj(DBT2visited_url_obj_V2(&stored, resolve));
    if (obj != nullptr && obj->url == nullptr) obj.reset();
    return obj;
}

int get_record(const char *url, DBT *value) {
    DBT key = string_key(url);
    return vdb_url != nullptr ? vdb_url->get(vdb_url, &key, value) : 0;
}

int update_record(const char *url, DBT *value) {
    DBT key = string_key(url);
    return vdb_url->update(vdb_url, &key, value);
}

// Encodes obj and stores it under url with the update slot; 1 when stored.
int store(const char *url, const visited_url_obj *obj) {
    EncodedDbt encoded(visited_url_obj2DBT(obj));
    return encoded != nullptr ? update_record(url, encoded.get()) : 0;
}

// A copy of the URL of the first record (restart set) or the next one;
// records that hold no URL are passed over.
char *walk(bool restart) {
    VisitedDbHold hold;
    if (vdb_url == nullptr) return nullptr;
    for (;;) {
        DBT key{};
        MallocDbt value;
        sto_pair_fn step = restart ? vdb_url->first : vdb_url->next;
        if (step(vdb_url, &key, value.get()) == 0) return nullptr;
        Record obj = decode(value.data(), value.size(), 0);
        if (obj != nullptr) return copy_text(obj->url);
        restart = false;
    }
}

}  // namespace

int visited_url_get_status(const char *url, const char *referer, int create, int32_t depth) {
    VisitedDbHold hold;
    DBT key = string_key(url);
    if (vurl_known_met(&key)) return kVurlMetInThisCrawl;
    DBT value{};
    if (get_record(url, &value) == 0) {
        if (create != 0) visited_url_create_entry(url, 0, referer, 0, depth);
        return 1;
    }
    if (visited_url_stored_last_processed(value.data, value.size) == g_timestamp) {
        return kVurlMetInThisCrawl;
    }
    // The value stays in Berkeley DB's memory only until the next call on
    // the handle, which decoding makes; decode a copy.
    const std::vector<uint8_t> stored(static_cast<const uint8_t *>(value.data),
                                      static_cast<const uint8_t *>(value.data) + value.size);
    Record obj = decode(stored.data(), value.size, 1);
    if (obj == nullptr) {
        vellog_write(0, 3, kSource, __LINE__,
                     "visited_url_get_status: the record of %s cannot be decoded\n", url);
        return 1;
    }
    obj->last_processed = g_timestamp;
    obj->progress_status = 0;
    obj->depth_countdown = depth;
    // An encoding that fails has said why (its referer has no id); only a
    // failed write is this operation's own error.
    EncodedDbt encoded(visited_url_obj2DBT(obj.get()));
    if (encoded != nullptr && update_record(url, encoded.get()) == 0) {
        vellog_write(0, 3, kSource, __LINE__,
                     "visited_url_get_status: unable to update vurl for %s\n", url);
    }
    return 1;
}

void visited_url_get_data(const char *url, int32_t *server_status, uint32_t *last_visited,
                          uint32_t *last_modified, uint32_t *rd_expires, velhashtable **links,
                          char *md5, int32_t *depth, char **database) {
    if (server_status != nullptr) *server_status = 0;
    if (last_visited != nullptr) *last_visited = 0;
    if (last_modified != nullptr) *last_modified = 0;
    if (rd_expires != nullptr) *rd_expires = 0;
    if (links != nullptr) *links = nullptr;
    if (md5 != nullptr) md5[0] = '\0';

    VisitedDbHold hold;
    MallocDbt value;
    if (get_record(url, value.get()) == 0) return;
    // The table handed out outlives the record.
    Record obj(DBT2visited_url_obj_V2(value.get(), links != nullptr ? 1 : 0), FreeVisitedUrl{0});
    if (obj == nullptr) return;
    if (server_status != nullptr) *server_status = obj->server_status;
    if (last_visited != nullptr) *last_visited = obj->last_visited;
    if (last_modified != nullptr) *last_modified = obj->last_modified;
    if (rd_expires != nullptr) *rd_expires = obj->rd_expires;
    if (links != nullptr) *links = obj->links;
    if (md5 != nullptr) std::memcpy(md5, obj->md5, sizeof obj->md5);
    if (depth != nullptr) *depth = obj->depth_countdown;
    if (database != nullptr && obj->database != nullptr) *database = copy_text(obj->database);
}

int visited_url_update_data(const char *url, int32_t server_status, int32_t,
                            const uint32_t *last_visited, const uint32_t *last_modified,
                            const uint32_t *rd_expires, velhashtable *links, const char *md5,
                            const char *database) {
    VisitedDbHold hold;
    MallocDbt value;
    if (get_record(url, value.get()) == 0) return 0;
    // The given table stays the caller's: the record is then freed without it.
    Record obj = decode(value.data(), value.size(), 1);
    if (obj == nullptr) return 0;
    obj->last_processed = g_timestamp;
    if (last_visited != nullptr) obj->last_visited = *last_visited;
    if (last_modified != nullptr) obj->last_modified = *last_modified;
    if (rd_expires != nullptr) obj->rd_expires = *rd_expires;
    if (links != nullptr) {
        if (obj->links != nullptr) velhashtable_free(obj->links);
        obj->links = links;
        obj->link_count = static_cast<int32_t>(links->count);
        obj.get_deleter().free_links = 0;
    }
    if (md5 != nullptr && std::strlen(md5) == kVurlDigestLength)
        std::memcpy(obj->md5, md5, kVurlDigestLength + 1);
    if (database != nullptr) {
        std::free(obj->database);
        obj->database = copy_text(database);
    }
    obj->server_status = server_status;
    obj->progress_status = kVurlDataStored;
    return store(url, obj.get());
}

int visited_url_update_status(const char *url, int32_t status) {
    VisitedDbHold hold;
    MallocDbt value;
    if (get_record(url, value.get()) == 0 || value.size() < kStatusOffset + 4) return 0;
    encode_fixed32(static_cast<uint8_t *>(value.get()->data) + kStatusOffset,
                   static_cast<uint32_t>(status));
    return update_record(url, value.get());
}

int visited_url_clear_md5(const char *url) {
    VisitedDbHold hold;
    MallocDbt value;
    if (get_record(url, value.get()) == 0) return 0;
    auto *bytes = static_cast<uint8_t *>(value.get()->data);
    // A digest: 32 nonzero characters and a zero, not already cleared.
    const bool digest = value.size() >= kVurlDigestOffset + kVurlDigestLength + 1 &&
                        bytes[kVurlDigestOffset] != '*' &&
                        std::memchr(bytes + kVurlDigestOffset, 0, kVurlDigestLength) == nullptr &&
                        bytes[kVurlDigestOffset + kVurlDigestLength] == 0;
    if (digest) {
        bytes[kVurlDigestOffset] = '*';
        bytes[kVurlDigestOffset + 1] = 0;
    }
    return update_record(url, value.get());
}

int visited_url_create_entry(const char *url, int32_t status, const char *referer, int take_lock,
                             int32_t depth) {
    // The encoding reads vid.db, so the lock covers it as well as the write.
    std::optional<VisitedDbHold> hold;
    if (take_lock != 0) hold.emplace();
    auto *raw = static_cast<visited_url_obj *>(std::calloc(1, sizeof(visited_url_obj)));
    if (raw == nullptr) out_of_memory();
    // The record borrows url; only the referer copy is its own.
    Record obj(raw);
    obj->last_processed = g_timestamp;
    obj->progress_status = status;
    obj->referer = copy_text(referer);
    obj->depth_countdown = depth;
    obj->url = const_cast<char *>(url);
    EncodedDbt encoded(visited_url_obj2DBT(obj.get()));
    obj->url = nullptr;
    if (encoded == nullptr) return 0;
    DBT key = string_key(url);
    return vdb_url != nullptr ? vdb_url->put(vdb_url, &key, encoded.get()) : 0;
}

char *visited_url_first() {
    return walk(true);
}

char *visited_url_next() {
    return walk(false);
}
