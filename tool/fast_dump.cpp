// The whole dump with referers and links resolved from a table of URLs by id.
//
// It prints what the literal walk prints (dump_visited_url_next, the record
// decoder and print_url) byte for byte: the same records skipped, the same
// ids dropped with the same log lines, and the links in the order in which
// the decoder's link table walks them. That table keeps each link at the tail
// of bucket hash(link) modulo its bucket count and is walked bucket by
// bucket, so ordering the resolved links by bucket, stably, gives its order.
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "robot/record_walk.h"
#include "robot/id_indirect.h"
#include "robot/vurl_record.h"
#include "robot/vurl_url_table.h"
#include "tool/dump.h"
#include "tool/entry_text.h"

namespace {

class TableDump {
  public:
    explicit TableDump(size_t budget_bytes) { table_.build(budget_bytes); }

    void print_record(std::string_view key, std::string_view value, dump_counters *counters);

  private:
    void resolve(const visited_url_fields &fields);

    VisitedUrlTable table_;
    EntryPrinter printer_;
    entry_view entry_;
    std::string url_;  // the record's URL as a C string, for the log lines
    std::vector<resolved_url> found_;
    std::vector<std::string_view> links_;
};

void TableDump::resolve(const visited_url_fields &fields) {
    table_.forget_reads();
    // The URL as a C string is needed only for a log line, which is rare.
    auto url = [&]() -> const char * {
        if (fields.url.empty()) return nullptr;
        url_.assign(fields.url);
        return url_.c_str();
    };
    entry_.referer.reset();
    resolved_url found;
    if (fields.has_referer) {
        if (table_.find(fields.referer_id, &found)) {
            entry_.referer = found.url;
        } else {
            visited_url_log_missing_referer(fields.referer_id, url());
        }
    }
    found_.clear();
    for (size_t i = 0; i < fields.link_id_count; ++i) {
        const uint32_t id = fields.link_id(i);
        if (table_.find(id, &found)) {
            found_.push_back(found);
        } else {
            visited_url_log_missing_link(id, url());
        }
    }
    std::stable_sort(found_.begin(), found_.end(),
                     [](const resolved_url &a, const resolved_url &b) {
                         return a.link_bucket < b.link_bucket;
                     });
    links_.clear();
    for (const resolved_url &link : found_) links_.push_back(link.url);
    entry_.links = links_;
}

void TableDump::print_record(std::string_view key, std::string_view value,
                             dump_counters *counters) {
    g_total_key_size += static_cast<int64_t>(key.size());
    g_total_data_size += static_cast<int64_t>(value.size());
    visited_url_fields fields;
    if (!visited_url_parse(value.data(), value.size(), &fields)) {
        report_skipped_record(key);
        return;
    }
    // Resolved before the URL is checked, as the decoder does, so that the
    // module log gets the same lines.
    resolve(fields);
    if (fields.url.empty()) {
        report_skipped_record(key);
        return;
    }
    if (is_last_process_time(fields.url)) return;
    entry_.url = fields.url;
    entry_.progress_status = fields.progress_status;
    entry_.server_status = fields.server_status;
    entry_.depth_countdown = fields.depth_countdown;
    entry_.md5 = fields.md5;
    entry_.database = fields.database;
    entry_.last_processed = fields.last_processed;
    entry_.last_visited = fields.last_visited;
    entry_.last_modified = fields.last_modified;
    entry_.rd_expires = fields.rd_expires;
    printer_.print(entry_, g_show_details != 0, counters);
}

}  // namespace

void dump_all_entries_from_table(dump_counters *counters, size_t budget_bytes) {
    if (vdb_url == nullptr) return;
    TableDump dump(budget_bytes);
    RecordWalk walk(vdb_url);
    std::string_view key;
    std::string_view value;
    while (walk.next(&key, &value)) dump.print_record(key, value, counters);
    if (walk.error() != 0) {
        std::fprintf(stderr, "crawlpeek: reading %s stopped: %s\n", vdb_url->name.c_str(),
                     db_strerror(walk.error()));
    }
}
