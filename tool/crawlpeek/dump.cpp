#include "tool/crawlpeek/dump.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "extra/malloc_ptr.h"
#include "extra/timestr.h"
#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "tool/crawlpeek/entry_text.h"
#include "tool/reading/last_process_time.h"

int g_show_details = 1;
int64_t g_total_key_size = 0;
int64_t g_total_data_size = 0;
size_t g_url_table_budget = default_url_table_budget();

namespace {

constexpr size_t kTimeTextSize = 256;

using OwnedText = MallocPtr<char>;

using OwnedRecord = VisitedUrlPtr;

void count_sizes(const DBT &key, const MallocDbt &value) {
    g_total_key_size += key.size;
    g_total_data_size += value.size();
}

// The decoded record, or null when the value holds none or no URL.
OwnedRecord decode_record(const MallocDbt &value) {
    DBT stored = borrowed_dbt(value.data(), value.size());
    OwnedRecord obj(DBT2visited_url_obj(&stored));
    if (obj != nullptr && obj->url == nullptr) obj.reset();
    return obj;
}

EntryPrinter &printer() {
    static EntryPrinter the_printer;
    return the_printer;
}

OwnedText copy_text(const char *text) {
    return OwnedText(text != nullptr ? strdup(text) : nullptr);
}

}  // namespace

const char *dump_visited_url_next(visited_url_obj **obj_out) {
    *obj_out = nullptr;
    if (vdb_url == nullptr) return nullptr;
    for (;;) {
        DBT key{};
        MallocDbt value;
        if (vdb_url->next(vdb_url, &key, value.get()) == 0) return nullptr;
        count_sizes(key, value);
        OwnedRecord obj = decode_record(value);
        if (obj == nullptr) {
            report_skipped_record(
                std::string_view(static_cast<const char *>(key.data), key.data ? key.size : 0));
            continue;
        }
        *obj_out = obj.release();
        return (*obj_out)->url;
    }
}

const char *dump_visited_url_geturl(const char *url, visited_url_obj **obj_out) {
    *obj_out = nullptr;
    if (vdb_url == nullptr) return nullptr;
    DBT key = string_key(url);
    MallocDbt value;
    // Found as the whole dump finds it, whatever id is stored.
    if (vurl_get_stored(&key, value.get()) == 0) return nullptr;
    count_sizes(key, value);
    OwnedRecord obj = decode_record(value);
    if (obj == nullptr) {
        std::fprintf(stderr, "crawlpeek: the record of %s cannot be decoded\n", url);
        return nullptr;
    }
    *obj_out = obj.release();
    return (*obj_out)->url;
}

void report_skipped_record(std::string_view key) {
    // Ids are the record file's keys; a key of another size is named by its size.
    if (key.size() == 4) {
        std::fprintf(stderr, "crawlpeek: record %" PRIu32 " cannot be decoded, skipped\n",
                     decode_fixed32(reinterpret_cast<const uint8_t *>(key.data())));
    } else {
        std::fprintf(stderr, "crawlpeek: a record with a %zu-byte key cannot be decoded, skipped\n",
                     key.size());
    }
}

void print_url(const visited_url_obj *obj, dump_counters *counters) {
    std::vector<std::string_view> links;
    if (obj->links != nullptr && obj->link_count > 0) {
        for (void *item = velhashtable_iterate(obj->links, nullptr, nullptr); item != nullptr;
             item = velhashtable_iterate(obj->links, item, item)) {
            links.emplace_back(static_cast<const char *>(item));
        }
    }
    entry_view entry;
    entry.url = obj->url;
    if (obj->referer != nullptr) entry.referer = obj->referer;
    entry.progress_status = obj->progress_status;
    entry.server_status = obj->server_status;
    entry.depth_countdown = obj->depth_countdown;
    entry.md5 = obj->md5;
    entry.database = obj->database != nullptr ? obj->database : "";
    entry.last_processed = obj->last_processed;
    entry.last_visited = obj->last_visited;
    entry.last_modified = obj->last_modified;
    entry.rd_expires = obj->rd_expires;
    entry.links = links;
    printer().print(entry, g_show_details != 0, counters);
}

size_t default_url_table_budget() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return size_t{256} << 20;
    return static_cast<size_t>(pages) / 4 * static_cast<size_t>(page_size);
}

void dump_all_entries_from_file(dump_counters *counters) {
    visited_url_obj *raw = nullptr;
    while (const char *url = dump_visited_url_next(&raw)) {
        OwnedRecord obj(raw);
        if (!is_last_process_time(url)) print_url(obj.get(), counters);
    }
}

void dump_entry(const char *url, bool follow_referers, dump_counters *counters) {
    OwnedText wanted = copy_text(url);
    if (wanted == nullptr) return;
    // Stored referers may form a cycle; the chain ends where it would repeat.
    std::unordered_set<std::string> printed;
    visited_url_obj *raw = nullptr;
    while (dump_visited_url_geturl(wanted.get(), &raw) != nullptr) {
        OwnedRecord obj(raw);
        print_url(obj.get(), counters);
        if (!follow_referers || obj->referer == nullptr) return;
        printed.insert(obj->url);
        if (printed.count(obj->referer) != 0) return;
        wanted = copy_text(obj->referer);
        if (wanted == nullptr) return;
    }
}

void print_crawl_banner(uint32_t crawl_start) {
    std::printf("  =====================================================\n");
    if (crawl_start != 0) {
        char started[kTimeTextSize];
        vel_time2str(static_cast<time_t>(crawl_start), started, kTimeTextSize);
        std::printf("  Last crawl started at %s is not completed\n", started);
    } else {
        std::printf("  Last crawl is completed\n");
    }
    std::printf("  =====================================================\n");
}

void print_summary(const dump_counters &c) {
    int64_t average_links = c.with_links != 0 ? c.total_links / c.with_links : 0;
    int64_t average_link_size = c.total_links != 0 ? c.links_size / c.total_links : 0;
    std::printf("  === Summary ====================================\n");
    std::printf("  Number of entries                   : %" PRId64 "\n", c.entries);
    std::printf("  Number of entries with LastModified : %" PRId64 "\n", c.with_last_modified);
    std::printf("  Number of entries with MD5          : %" PRId64 "\n", c.with_md5);
    std::printf("  Number of entries with links        : %" PRId64 "\n", c.with_links);
    std::printf("  Total number of links               : %" PRId64 "\n", c.total_links);
    std::printf("  Average number of links             : %" PRId64 "\n", average_links);
    std::printf("  Total size of links                 : %" PRId64 "\n", c.links_size);
    std::printf("  Average size of links               : %" PRId64 "\n", average_link_size);
    std::printf("  Total db key size                   : %" PRId64 "\n", g_total_key_size);
    std::printf("  Total db data size                  : %" PRId64 "\n", g_total_data_size);
}
