#include "robot/vurl_record.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "extra/malloc_ptr.h"
#include "log/log.h"
#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/robot_db_env.h"
#include "robot/vurl_id_memory.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_ops.h"

namespace {

constexpr char kSource[] = "vurl";
constexpr size_t kFixedSize = kVurlDigestOffset;  // the five leading words

// A malloc'd copy of text, or null for empty text.
char *copy_or_none(std::string_view text) {
    if (text.empty()) return nullptr;
    char *copy = strndup(text.data(), text.size());
    if (copy == nullptr) out_of_memory();
    return copy;
}

// Reads the digest area; digest receives the 32 characters of one that is
// stored and not cleared, else nothing.
bool read_digest(ByteReader &in, std::string_view *digest) {
    std::optional<uint8_t> first = in.peek_byte();
    if (!first) return false;
    if (*first == 0) {
        in.read_byte();
        return true;
    }
    std::optional<std::string_view> area = in.read_bytes(kVurlDigestLength + 1);
    if (!area) return false;
    if (*first != '*') *digest = area->substr(0, kVurlDigestLength);
    return true;
}

// The five words, the digest area and the URL.
bool read_head(ByteReader &in, visited_url_fields *out) {
    if (in.remaining() < kFixedSize) return false;
    out->last_processed = *in.read_fixed32();
    out->last_visited = *in.read_fixed32();
    out->last_modified = *in.read_fixed32();
    out->rd_expires = *in.read_fixed32();
    out->progress_status = static_cast<int32_t>(*in.read_fixed32());
    if (!read_digest(in, &out->md5)) return false;
    std::optional<std::string_view> url = in.read_cstring();
    if (!url) return false;
    out->url = *url;
    return true;
}

bool read_referer(ByteReader &in, visited_url_fields *out) {
    std::optional<uint8_t> flag = in.read_byte();
    if (!flag) return false;
    if (*flag == 0) return true;
    std::optional<uint32_t> id = in.read_fixed32();
    if (!id) return false;
    out->has_referer = true;
    out->referer_id = *id;
    return true;
}

// Reads link ids up to the end mark or the end of the value; ids points at
// the reader's position.
bool read_link_list(ByteReader &in, const uint8_t *ids, visited_url_fields *out) {
    if (in.at_end()) return true;
    out->has_link_list = true;
    out->link_ids = ids;
    while (!in.at_end()) {
        std::optional<uint32_t> id = in.read_fixed32();
        if (!id) return false;
        if (*id == 0) break;
        ++out->link_id_count;
    }
    return true;
}

// The database and the two last words, each part present only when the
// value goes on.
bool read_tail(ByteReader &in, visited_url_fields *out) {
    if (in.at_end()) return true;
    std::optional<std::string_view> database = in.read_cstring();
    if (!database) return false;
    out->database = *database;
    if (in.remaining() == 8) {
        out->depth_countdown = static_cast<int32_t>(*in.read_fixed32());
        out->server_status = static_cast<int32_t>(*in.read_fixed32());
    }
    return in.at_end();
}

const char *text_or_empty(const char *text) {
    return text != nullptr ? text : "";
}

visited_url_obj *new_record(const visited_url_fields &fields) {
    auto *obj = static_cast<visited_url_obj *>(std::calloc(1, sizeof(visited_url_obj)));
    if (obj == nullptr) out_of_memory();
    obj->last_processed = fields.last_processed;
    obj->last_visited = fields.last_visited;
    obj->last_modified = fields.last_modified;
    obj->rd_expires = fields.rd_expires;
    obj->progress_status = fields.progress_status;
    if (!fields.md5.empty()) std::memcpy(obj->md5, fields.md5.data(), kVurlDigestLength);
    obj->url = copy_or_none(fields.url);
    obj->database = copy_or_none(fields.database);
    obj->depth_countdown = fields.depth_countdown;
    obj->server_status = fields.server_status;
    return obj;
}

// Turns the stored referer and link ids into URLs.
void resolve_ids(const visited_url_fields &fields, visited_url_obj *obj) {
    if (fields.has_referer) {
        obj->referer = visited_url_url_of_id(fields.referer_id);
        if (obj->referer == nullptr) visited_url_log_missing_referer(fields.referer_id, obj->url);
    }
    if (!fields.has_link_list) return;
    if (velhashtable_create(kVurlLinkBuckets, &obj->links) != 0) out_of_memory();
    for (size_t i = 0; i < fields.link_id_count; ++i) {
        const uint32_t id = fields.link_id(i);
        MallocPtr<char> link(visited_url_url_of_id(id));
        if (link == nullptr) {
            visited_url_log_missing_link(id, obj->url);
            continue;
        }
        if (velhashtable_insert(obj->links, link.get(), link.get()) != 0) out_of_memory();
        ++obj->link_count;
    }
}

// Whether text is the metadata's key, which no URL may use.
bool is_meta_text(const char *text) {
    DBT key = string_key(text);
    return vurl_is_meta_key(&key);
}

// The id vid.db holds for url: a value of exactly 4 bytes that can be an id
// (the metadata's 16 bytes are none, and a damaged 0 would end a link list).
std::optional<uint32_t> id_of(const char *url) {
    if (is_meta_text(url)) return std::nullopt;
    DBT key = string_key(url);
    uint32_t indexed = 0;
    switch (vurl_indexed_id(&key, &indexed)) {
        case UrlIdIndex::Answer::kId:
            return indexed;
        case UrlIdIndex::Answer::kAbsent:
            return std::nullopt;
        case UrlIdIndex::Answer::kUnknown:
            break;
    }
    MallocDbt value;
    if (sto_get(vdb_id, &key, value.get()) == 0 || value.size() != 4) return std::nullopt;
    const uint32_t id = decode_fixed32(static_cast<const uint8_t *>(value.data()));
    if (!vurl_is_record_id(id)) return std::nullopt;
    return id;
}

// The entries of a table, counted by walking it, and those of them that are
// the metadata's key and are left out of the stored list.
struct LinkCount {
    int32_t entries = 0;
    int32_t left_out = 0;
};

LinkCount count_links(velhashtable *links) {
    LinkCount n;
    for (void *item = velhashtable_iterate(links, nullptr, nullptr); item != nullptr;
         item = velhashtable_iterate(links, item, item)) {
        ++n.entries;
        if (is_meta_text(static_cast<const char *>(item))) ++n.left_out;
    }
    return n;
}

// The id of a linked URL, made now (with its record) when it has none.
std::optional<uint32_t> link_id(const char *link, const visited_url_obj *page) {
    if (std::optional<uint32_t> id = id_of(link)) return id;
    // A URL that vid.db lacks is given exactly next_id by the creation.
    uint32_t id = static_cast<uint32_t>(g_vurl_meta.next_id);
    if (visited_url_create_entry(link, 0, page->url, 0, page->depth_countdown - 1) == 0) {
        return std::nullopt;
    }
    return id;
}

size_t stored_size(const visited_url_obj *obj, int32_t links) {
    auto text_size = [](const char *text) { return (text != nullptr ? std::strlen(text) : 0) + 1; };
    return kFixedSize + (obj->md5[0] != '\0' ? kVurlDigestLength + 1 : 1) + text_size(obj->url) + 1 +
           (obj->referer != nullptr ? 4 : 0) + 4 * static_cast<size_t>(links) + 4 +
           text_size(obj->database) + 8;
}

// Everything but the link list and what follows it.
bool write_head(ByteWriter &out, const visited_url_obj *obj) {
    bool ok = out.write_fixed32(obj->last_processed) && out.write_fixed32(obj->last_visited) &&
              out.write_fixed32(obj->last_modified) && out.write_fixed32(obj->rd_expires) &&
              out.write_fixed32(static_cast<uint32_t>(obj->progress_status));
    if (obj->md5[0] != '\0') {
        ok = ok && out.write_bytes(obj->md5, kVurlDigestLength) && out.write_byte(0);
    } else {
        ok = ok && out.write_byte(0);
    }
    ok = ok && out.write_cstring(obj->url != nullptr ? obj->url : "");
    if (obj->referer == nullptr) return ok && out.write_byte(0);
    std::optional<uint32_t> referer = id_of(obj->referer);
    if (!referer) {
        vellog_write(0, 3, kSource, __LINE__,
                     "Referer %s for url %s not found in visited url database\n", obj->referer,
                     text_or_empty(obj->url));
        return false;
    }
    return ok && out.write_byte(1) && out.write_fixed32(*referer);
}

bool write_links(ByteWriter &out, const visited_url_obj *obj) {
    if (obj->links == nullptr) return true;
    for (void *item = velhashtable_iterate(obj->links, nullptr, nullptr); item != nullptr;
         item = velhashtable_iterate(obj->links, item, item)) {
        const char *link = static_cast<const char *>(item);
        if (is_meta_text(link)) {
            vellog_write(0, 3, kSource, __LINE__,
                         "Link %s of %s is the visited url metadata's key, not a URL; left out\n",
                         link, text_or_empty(obj->url));
            continue;
        }
        std::optional<uint32_t> id = link_id(link, obj);
        if (!id || !out.write_fixed32(*id)) return false;
    }
    return true;
}

}  // namespace

uint32_t visited_url_fields::link_id(size_t i) const {
    return decode_fixed32(link_ids + 4 * i);
}

bool visited_url_parse(const void *data, size_t size, visited_url_fields *out) {
    *out = visited_url_fields{};
    ByteReader in(data, size);
    if (!read_head(in, out) || !read_referer(in, out)) return false;
    const uint8_t *ids = static_cast<const uint8_t *>(data) + in.position();
    return read_link_list(in, ids, out) && read_tail(in, out);
}

bool visited_url_stored_url(const void *data, size_t size, std::string_view *url) {
    visited_url_fields head;
    ByteReader in(data, size);
    if (!read_head(in, &head)) return false;
    *url = head.url;
    return true;
}

char *visited_url_url_of_id(uint32_t id) {
    if (vdb_url == nullptr || vdb_url->db == nullptr) return nullptr;
    uint8_t id_bytes[4];
    encode_fixed32(id_bytes, id);
    DBT key = borrowed_dbt(id_bytes, sizeof id_bytes);
    MallocDbt value;
    if (sto_read(vdb_url, &key, value.get()) != 0) return nullptr;
    std::string_view url;
    if (!visited_url_stored_url(value.data(), value.size(), &url)) return nullptr;
    return copy_or_none(url);
}

void visited_url_log_missing_referer(uint32_t id, const char *url) {
    vellog_write(0, 2, kSource, __LINE__,
                 "Referer (id %d) not found in visited url database for url %s\n",
                 static_cast<int32_t>(id), text_or_empty(url));
}

void visited_url_log_missing_link(uint32_t id, const char *url) {
    vellog_write(0, 2, kSource, __LINE__,
                 "Referenced URL (id %d) not found in visited url database for referer %s\n",
                 static_cast<int32_t>(id), text_or_empty(url));
}

DBT *visited_url_obj2DBT(const visited_url_obj *obj) {
    if (obj == nullptr) return nullptr;
    const int32_t links = obj->links != nullptr ? obj->link_count : 0;
    // Checked before anything is looked up, so that a record whose count
    // lies creates no records for its links.
    const LinkCount counted = obj->links != nullptr ? count_links(obj->links) : LinkCount{};
    if (links < 0 || (obj->links != nullptr && counted.entries != links)) return nullptr;
    const size_t size = stored_size(obj, links - counted.left_out);
    MallocPtr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(size)));
    if (bytes == nullptr) out_of_memory();

    ByteWriter out(bytes.get(), size);
    if (!write_head(out, obj) || !write_links(out, obj)) return nullptr;
    bool ok = out.write_fixed32(0) &&
              out.write_cstring(obj->database != nullptr ? obj->database : "") &&
              out.write_fixed32(static_cast<uint32_t>(obj->depth_countdown)) &&
              out.write_fixed32(static_cast<uint32_t>(obj->server_status));
    if (!ok || out.position() != size) return nullptr;

    auto *dbt = static_cast<DBT *>(std::calloc(1, sizeof(DBT)));
    if (dbt == nullptr) out_of_memory();
    dbt->data = bytes.release();
    dbt->size = static_cast<uint32_t>(size);
    return dbt;
}

visited_url_obj *DBT2visited_url_obj_V2(const DBT *dbt, int resolve) {
    visited_url_fields fields;
    if (dbt == nullptr || !visited_url_parse(dbt->data, dbt->size, &fields)) return nullptr;
    visited_url_obj *obj = new_record(fields);
    if (resolve != 0) resolve_ids(fields, obj);
    return obj;
}

visited_url_obj *DBT2visited_url_obj(const DBT *dbt) {
    return DBT2visited_url_obj_V2(dbt, 1);
}

std::optional<uint32_t> visited_url_stored_last_processed(const void *data, size_t size) {
    return ByteReader(data, size).read_fixed32();
}

void free_visited_url_obj(visited_url_obj *obj, int free_links) {
    if (obj == nullptr) return;
    std::free(obj->database);
    std::free(obj->referer);
    std::free(obj->url);
    if (obj->links != nullptr && free_links != 0) velhashtable_free(obj->links);
    std::free(obj);
}
