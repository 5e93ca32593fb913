#include "robot/vurl_marking.h"

#include <forward_list>
#include <string>
#include <string_view>
#include <vector>

#include "extra/malloc_ptr.h"
#include "robot/coding.h"
#include "robot/crawler_hooks.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/record_walk.h"
#include "robot/vurl_db.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_record.h"

int32_t g_save_relative_links = 0;
std::atomic<int32_t> g_brokenlinks_scanned{0};

namespace {

using OwnedText = MallocPtr<char>;

bool stamped(std::string_view value) {
    return visited_url_stored_last_processed(value.data(), value.size()) == g_timestamp;
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

// Stamps one record, every other byte as it was, and returns its decoded
// form for its links; null when there is nothing to follow. A value that
// does not decode is passed over, unstamped.
VisitedUrlPtr stamp_record(const std::string &url) {
    DBT key = string_key(url.c_str());
    MallocDbt value;
    if (vdb_url->get(vdb_url, &key, value.get()) == 0) return nullptr;
    const std::string_view stored(static_cast<const char *>(value.data()), value.size());
    if (stamped(stored)) return nullptr;
    VisitedUrlPtr obj(DBT2visited_url_obj(value.get()));
    // A value that decodes holds the five leading words, so the stamp fits.
    if (obj == nullptr) return nullptr;
    encode_fixed32(static_cast<uint8_t *>(value.get()->data), g_timestamp);
    // A failed store does not keep the walk from following the links.
    vdb_url->update(vdb_url, &key, value.get());
    return obj;
}

// Hands one unprocessed page with content on; true when it was handed on.
// The value is the walk's copy, which resolving ids does not disturb.
bool hand_on(std::string_view value, int delete_mode) {
    DBT stored = borrowed_dbt(value.data(), value.size());
    VisitedUrlPtr obj(DBT2visited_url_obj_V2(&stored, delete_mode != 0 ? 0 : 1),
                      FreeVisitedUrl{delete_mode != 0 ? 0 : 1});
    if (obj == nullptr || obj->url == nullptr) return false;
    if (delete_mode != 0) {
        rd_depot_put_delete(obj->url, obj->database);
    } else {
        site_manager_spawn_url_str(obj->url, obj->depth_countdown, 1, 1, 1, obj->referer,
                                   sys_get_charset(), 0);
    }
    return true;
}

bool has_content(std::string_view value) {
    if (value.size() <= kVurlDigestOffset) return false;
    const char first = value[kVurlDigestOffset];
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
        VisitedUrlPtr obj = stamp_record(current);
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
    VisitedDbHold hold;
    // Collected first and marked after the walk: no record is written while
    // the cursor is open. The last one found is marked first.
    std::forward_list<std::string> start_points;
    {
        RecordWalk walk(vdb_url);
        std::string_view key, value;
        while (walk.next(&key, &value)) {
            DBT stored = borrowed_dbt(value.data(), value.size());
            VisitedUrlPtr obj(DBT2visited_url_obj(&stored));
            if (obj != nullptr && obj->url != nullptr && obj->referer == nullptr &&
                obj->last_processed != g_timestamp) {
                start_points.emplace_front(obj->url);
            }
        }
    }
    for (const std::string &url : start_points) MarkTreeProcessed(url.c_str());
    return 0;
}

int visited_url_scan_brokenlinks(int delete_mode) {
    if (g_brokenlinks_scanned.exchange(1) != 0) return 0;
    VisitedDbHold hold;
    if (delete_mode == 0 && (g_vurl_meta.flags & kVurlMetaIterating) == 0) {
        g_vurl_meta.flags |= kVurlMetaIterating;
        vurl_write_meta();
    }
    int handed_on = 0;
    RecordWalk walk(vdb_url);
    std::string_view key, value;
    while (walk.next(&key, &value)) {
        if (!stamped(value) && has_content(value) && hand_on(value, delete_mode)) ++handed_on;
        sys_if_paused();
        if (sys_if_stopped() != 0) break;
    }
    return handed_on;
}
