#include "robot/vurl_db.h"

#include <db.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "log/objlog.h"
#include "robot/crawler_hooks.h"
#include "robot/id_indirect.h"
#include "robot/memory_budget.h"
#include "robot/robot_db_env.h"
#include "robot/vurl_id_memory.h"
#include "robot/vurl_marking.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_writer_lock.h"

uint32_t g_timestamp = 0;
int32_t g_mode_iterating = 0;

namespace {

// The path of a file in the database home; empty while the home is unknown.
std::string home_file(const char *name) {
    const char *home = get_robot_db_path();
    return home != nullptr ? std::string(home) + "/" + name : std::string();
}

constexpr char kRecordFile[] = "url-visited.db";

// Opens the files; on failure perror names the file that is not open when
// report is set.
bool open_files(uint32_t flags, bool report) {
    for (storage_object *obj : {vdb_url, vdb_id}) {
        obj->open(obj, flags);
        if (obj->db != nullptr) continue;
        if (report) std::perror(obj->name.c_str());
        return false;
    }
    return true;
}

// Loads and checks the metadata. Sets *new_crawl when a crawl start is due.
bool load_meta(int create, bool *new_crawl) {
    if (vurl_read_meta(&g_vurl_meta) == 0) return false;
    if (g_vurl_meta.version <= 0) {
        if (create == 0) return false;
        g_vurl_meta.version = VURL_VERSION;
        g_vurl_meta.next_id = 1;
        *new_crawl = true;
        return true;
    }
    if (vurl_meta_sanity_check(&g_vurl_meta, create) == 0) return false;
    // Unsigned: a crawl started after January 2038 is still in progress.
    g_timestamp = g_vurl_meta.crawl_start;
    if (g_timestamp != 0) {
        if ((g_vurl_meta.flags & kVurlMetaIterating) != 0) g_mode_iterating = 1;
    } else {
        *new_crawl = true;
    }
    return true;
}

// A reader's open: both files are read from their pages while a crawler
// writes them. False when they cannot be (the reason on standard error when
// report is set).
bool read_pages_if_written(bool report) {
    if (visited_url_is_being_written() == 0) return true;
    for (storage_object *obj : {vdb_url, vdb_id}) {
        std::string why;
        if (sto_read_pages(obj, &why) != 0) continue;
        if (report) std::fprintf(stderr, "%s: %s\n", obj->name.c_str(), why.c_str());
        return false;
    }
    return true;
}

}  // namespace

// Forgets what a failed open left, or a database still open (the metadata in
// memory belongs to the database opened next), and makes the two objects.
// False while the home is unknown.
bool make_objects() {
    visited_url_shutdown(0);
    g_vurl_meta = vurl_meta{};
    g_timestamp = 0;
    g_mode_iterating = 0;
    g_brokenlinks_scanned = 0;
    const std::string records = home_file(kRecordFile);
    if (records.empty()) return false;
    vdb_url = create_storage_object(records.c_str());
    vdb_id = create_storage_object(home_file("vid.db").c_str());
    vurl_install_slots(vdb_url);
    vurl_install_id_slots(vdb_id);
    return true;
}

int visited_url_init(int create) {
    if (!make_objects()) return 0;
    if (!open_files(create != 0 ? DB_CREATE : DB_RDONLY, true)) return 0;
    if (create == 0 && !read_pages_if_written(true)) return 0;
    // Two writers would ruin the file: the environment has no locking.
    if (create != 0 && vurl_writer_lock_take(vdb_url->name.c_str()) == 0) {
        rlog_write(0, 3, "robot_db", __LINE__,
                   "Visited url database is open for writing in another process\n");
        return 0;
    }
    bool new_crawl = false;
    if (!load_meta(create, &new_crawl)) return 0;
    if (create != 0) vurl_learn_ids(robot_index_budget());
    if (create == 0 || !new_crawl) return 1;
    g_vurl_meta.crawl_start = g_timestamp = static_cast<uint32_t>(std::time(nullptr));
    return vurl_write_meta();
}

int visited_url_open_read_only() {
    if (!make_objects()) return 0;
    if (!open_files(DB_RDONLY, false) || !read_pages_if_written(false)) return 0;
    if (vurl_read_meta(&g_vurl_meta) == 0) return 0;
    if (g_vurl_meta.version > 0) g_timestamp = g_vurl_meta.crawl_start;
    return 1;
}

std::string visited_url_record_path() {
    return home_file(kRecordFile);
}

int visited_url_is_being_written() {
    const std::string records = home_file(kRecordFile);
    return records.empty() ? 0 : vurl_writer_lock_held(records.c_str());
}

void visited_url_shutdown(int save_meta) {
    if (vdb_url == nullptr) {
        vurl_forget_ids();
        vurl_writer_lock_release();
        return;
    }
    if (sys_get_erase_status() != 0) g_timestamp = g_vurl_meta.crawl_start = 0;
    if (save_meta != 0) vurl_write_meta();
    vurl_forget_ids();
    // The record file's close slot closes vid.db too.
    destroy_storage_object(vdb_url, 0);
    vdb_url = nullptr;
    destroy_storage_object(vdb_id, 0);
    vdb_id = nullptr;
    // Only now is everything the crawler wrote in the files: a reader that
    // sees no mark may take them as they lie on disk.
    vurl_writer_lock_release();
}
