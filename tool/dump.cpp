#include "tool/dump.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>

#include "extra/timestr.h"
#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"

int g_show_details = 1;
int64_t g_total_key_size = 0;
int64_t g_total_data_size = 0;

namespace {

constexpr size_t kTimeTextSize = 256;
constexpr char kLastProcessTimeUrl[] = "LastProcessTime";

struct FreeChars {
    void operator()(char *text) const { std::free(text); }
};
using OwnedText = std::unique_ptr<char, FreeChars>;

struct FreeRecord {
    void operator()(visited_url_obj *obj) const { free_visited_url_obj(obj, 1); }
};
using OwnedRecord = std::unique_ptr<visited_url_obj, FreeRecord>;

void count_sizes(const DBT &key, const MallocDbt &value) {
    g_total_key_size += key.size;
    g_total_data_size += value.size();
}

// Ids are the record file's keys; a key of another size is named by its size.
void report_skipped(const DBT &key) {
    if (key.size == 4 && key.data != nullptr) {
        std::fprintf(stderr, "crawlpeek: record %" PRIu32 " cannot be decoded, skipped\n",
                     decode_fixed32(static_cast<const uint8_t *>(key.data)));
    } else {
        std::fprintf(stderr,
                     "crawlpeek: a record with a %" PRIu32 "-byte key cannot be decoded, skipped\n",
                     key.size);
    }
}

// The decoded record, or null when the value holds none or no URL.
OwnedRecord decode_record(const MallocDbt &value) {
    DBT stored = borrowed_dbt(value.data(), value.size());
    OwnedRecord obj(DBT2visited_url_obj(&stored));
    if (obj != nullptr && obj->url == nullptr) obj.reset();
    return obj;
}

// The time as text, or an empty text for 0.
void time_text(uint32_t t, char (&buf)[kTimeTextSize]) {
    buf[0] = '\0';
    if (t != 0) vel_time2str(static_cast<time_t>(t), buf, kTimeTextSize);
}

void print_links(const visited_url_obj *obj, dump_counters *counters) {
    if (obj->links == nullptr) return;
    for (void *item = velhashtable_iterate(obj->links, nullptr, nullptr); item != nullptr;
         item = velhashtable_iterate(obj->links, item, item)) {
        const char *link = static_cast<const char *>(item);
        std::printf("                  %s\n", link);
        counters->total_links++;
        counters->links_size += static_cast<int64_t>(std::strlen(link));
    }
}

void print_details(const visited_url_obj *obj, dump_counters *counters) {
    char last_processed[kTimeTextSize];
    char last_visited[kTimeTextSize];
    char last_modified[kTimeTextSize];
    char rd_expires[kTimeTextSize];
    time_text(obj->last_processed, last_processed);
    time_text(obj->last_visited, last_visited);
    time_text(obj->last_modified, last_modified);
    time_text(obj->rd_expires, rd_expires);
    std::printf(
        "  referer:         %s\n  progress status: %d\n  server status:   %d\n"
        "  depth countdown: %d\n  md5:             %s\n  database:        %s\n"
        "  last_processed:  %s\n  last_visited:    %s\n  last_modified:   %s\n"
        "  rd_expires:      %s\n  links:           %d\n",
        obj->referer != nullptr ? obj->referer : "starting-point", obj->progress_status,
        obj->server_status, obj->depth_countdown, obj->md5,
        obj->database != nullptr ? obj->database : "", last_processed, last_visited, last_modified,
        rd_expires, obj->link_count);
    if (obj->link_count > 0) {
        counters->with_links++;
        print_links(obj, counters);
    }
    std::printf("\n");
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
            report_skipped(key);
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
    if (vdb_url->get(vdb_url, &key, value.get()) == 0) return nullptr;
    count_sizes(key, value);
    OwnedRecord obj = decode_record(value);
    if (obj == nullptr) {
        std::fprintf(stderr, "crawlpeek: the record of %s cannot be decoded\n", url);
        return nullptr;
    }
    *obj_out = obj.release();
    return (*obj_out)->url;
}

void print_url(const visited_url_obj *obj, dump_counters *counters) {
    counters->entries++;
    if (obj->last_modified != 0) counters->with_last_modified++;
    if (obj->md5[0] != '\0') counters->with_md5++;
    std::printf("%s\n", obj->url);
    if (g_show_details != 0) print_details(obj, counters);
}

void dump_all_entries(dump_counters *counters) {
    visited_url_obj *raw = nullptr;
    while (const char *url = dump_visited_url_next(&raw)) {
        OwnedRecord obj(raw);
        if (std::strcmp(url, kLastProcessTimeUrl) != 0) print_url(obj.get(), counters);
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

void print_crawl_banner(int32_t crawl_start) {
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
