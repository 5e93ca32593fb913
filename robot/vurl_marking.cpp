#include "robot/vurl_marking.h"

#include <cstdlib>
#include <forward_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "extra/malloc_ptr.h"
#include "robot/coding.h"
#include "robot/crawler_hooks.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/vurl_db.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_record.h"

int32_t g_save_relative_links = 0;
std::atomic<int32_t> g_brokenlinks_scanned{0};

namespace {

constexpr size_t kDigestOffset = 20;

struct FreeRecord {
    int free_links;
    void operator()(visited_url_obj *obj) const { free_visited_url_obj(obj, free_links); }
};
using Record = std::unique_ptr<visited_url_obj, FreeRecord>;

using OwnedText = MallocPtr<char>;

uint32_t stamp() {
    return static_cast<uint32_t>(g_timestamp);
}

bool stamped(const void *data, uint32_t size) {
    return size >= 4 && decode_fixed32(static_cast<const uint8_t *>(data)) == stamp();
}

// The link as it is looked up: as stored, or made absolute and normalised
// when records keep link texts. Empty when the hooks give none.
std::string lookup_form(const char *page, const char *link) {
    if (g_save_relative_links == 0) return link;
    OwnedText absolute(ParseURL_MakeAbsolute(page, link, 0));
    if (absolute == nullptr) return std::string();
    OwnedText normal(_vel_normalize_url(absolute.get()));
    return normal != nullptr ? std::string(normal.get()) : std::string();
}

// Stamps one record in place, every other byte as it was, and returns its
// decoded form for its links; null when there is nothing to follow.
Record stamp_record(const std::string &url) {
    DBT key = string_key(url.c_str());
    MallocDbt value;
    if (vdb_url->get(vdb_url, &key, value.get()) == 0) return Record(nullptr, FreeRecord{1});
    if (stamped(value.data(), value.size())) return Record(nullptr, FreeRecord{1});
    Record obj(DBT2visited_url_obj(value.get()), FreeRecord{1});
    encode_fixed32(static_cast<uint8_t *>(value.get()->data), stamp());
    // A failed store does not keep the walk from following the links.
    vdb_url->update(vdb_url, &key, value.get());
    return obj;
}

// A cursor of this module's own on the record file.
std::unique_ptr<DBC, storage::CloseCursor> record_cursor() {
    DBC *raw = nullptr;
    if (vdb_url == nullptr || vdb_url->db == nullptr ||
        vdb_url->db->cursor(vdb_url->db.get(), nullptr, &raw, 0) != 0) {
        raw = nullptr;
    }
    return std::unique_ptr<DBC, storage::CloseCursor>(raw);
}

// Hands one unprocessed page with content on; true when it was handed on.
bool hand_on(const DBT &value, int delete_mode) {
    if (delete_mode != 0) {
        Record obj(DBT2visited_url_obj_V2(&value, 0), FreeRecord{0});
        if (obj == nullptr || obj->url == nullptr) return false;
        rd_depot_put_delete(obj->url, obj->database);
        return true;
    }
    // Resolving reads other records through the handle; decode a copy.
    const std::vector<uint8_t> stored(static_cast<const uint8_t *>(value.data),
                                      static_cast<const uint8_t *>(value.data) + value.size);
    DBT copy = borrowed_dbt(stored.data(), stored.size());
    Record obj(DBT2visited_url_obj_V2(&copy, 1), FreeRecord{1});
    if (obj == nullptr || obj->url == nullptr) return false;
    site_manager_spawn_url_str(obj->url, obj->depth_countdown, 1, 1, 1, obj->referer,
                               sys_get_charset(), 0);
    return true;
}

bool has_content(const DBT &value) {
    if (value.size <= kDigestOffset) return false;
    const uint8_t first = static_cast<const uint8_t *>(value.data)[kDigestOffset];
    return first != 0 && first != '*';
}

}  // namespace

void MarkTreeProcessed(const char *url) {
    if (vdb_url == nullptr || url == nullptr) return;
    // Pending URLs, the next one last: links are pushed in reverse so that
    // they are taken in table order, as a recursive walk would.
    std::vector<std::string> pending{url};
    std::vector<std::string> links;
    while (!pending.empty()) {
        std::string current = std::move(pending.back());
        pending.pop_back();
        Record obj = stamp_record(current);
        if (obj == nullptr || obj->links == nullptr) continue;
        links.clear();
        for (void *item = velhashtable_iterate(obj->links, nullptr, nullptr); item != nullptr;
             item = velhashtable_iterate(obj->links, item, item)) {
            std::string link = lookup_form(current.c_str(), static_cast<const char *>(item));
            if (!link.empty()) links.push_back(std::move(link));
        }
        for (auto it = links.rbegin(); it != links.rend(); ++it) pending.push_back(std::move(*it));
    }
}

int ProcessDisabledStartPoint() {
    std::lock_guard<std::mutex> hold(db_lock);
    // Collected first and marked after the walk: no record is written while
    // the cursor is open. The last one found is marked first.
    std::forward_list<std::string> start_points;
    if (auto cursor = record_cursor()) {
        for (;;) {
            DBT key{};
            MallocDbt value;
            if (cursor->get(cursor.get(), &key, value.get(), DB_NEXT) != 0) break;
            Record obj(DBT2visited_url_obj(value.get()), FreeRecord{1});
            if (obj != nullptr && obj->url != nullptr && obj->referer == nullptr &&
                obj->last_processed != stamp()) {
                start_points.emplace_front(obj->url);
            }
        }
    }
    for (const std::string &url : start_points) MarkTreeProcessed(url.c_str());
    return 0;
}

int visited_url_scan_brokenlinks(int delete_mode) {
    if (g_brokenlinks_scanned.exchange(1) != 0) return 0;
    std::lock_guard<std::mutex> hold(db_lock);
    if (delete_mode == 0 && (g_vurl_meta.flags & kVurlMetaIterating) == 0) {
        g_vurl_meta.flags |= kVurlMetaIterating;
        vurl_write_meta();
    }
    int handed_on = 0;
    auto cursor = record_cursor();
    if (cursor == nullptr) return 0;
    DBT key{}, value{};
    while (cursor->get(cursor.get(), &key, &value, DB_NEXT) == 0) {
        if (!stamped(value.data, value.size) && has_content(value) && hand_on(value, delete_mode)) {
            ++handed_on;
        }
        sys_if_paused();
        if (sys_if_stopped() != 0) break;
    }
    return handed_on;
}
