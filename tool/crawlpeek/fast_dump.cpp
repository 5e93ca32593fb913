// The whole dump with referers and links resolved from a table of URLs by id.
//
// It prints what the literal walk prints (dump_visited_url_next, the record
// decoder and print_url) byte for byte: the same records skipped, the same
// ids dropped with the same log lines, and the links in the decoder's order.
#include <cstdio>
#include <memory>
#include <string_view>

#include "robot/record_walk.h"
#include "robot/id_indirect.h"
#include "robot/vurl_record.h"
#include "tool/crawlpeek/dump.h"
#include "tool/crawlpeek/entry_text.h"
#include "tool/reading/last_process_time.h"
#include "tool/reading/record_resolver.h"

// The whole dump through a table of URLs learnt within a budget.
class TableDump {
  public:
    explicit TableDump(size_t budget_bytes) : resolver_(budget_bytes, true) {}

    // The second walk: prints every record.
    void print(dump_counters *counters);

  private:
    void print_record(std::string_view key, std::string_view value, dump_counters *counters);

    RecordResolver resolver_;
    EntryPrinter printer_;
    entry_view entry_;
};

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
    resolver_.resolve(fields, key);
    entry_.referer = resolver_.referer();
    entry_.links = resolver_.links();
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

void TableDump::print(dump_counters *counters) {
    RecordWalk walk(vdb_url);
    std::string_view key;
    std::string_view value;
    while (walk.next(&key, &value)) print_record(key, value, counters);
    if (walk.error() != 0) {
        std::fprintf(stderr, "crawlpeek: reading %s stopped: %s\n", vdb_url->name.c_str(),
                     db_strerror(walk.error()));
    }
}

WholeDump::WholeDump() {
    if (g_url_table_budget != 0 && vdb_url != nullptr) {
        table_ = std::make_unique<TableDump>(g_url_table_budget);
    }
}

WholeDump::~WholeDump() = default;

void WholeDump::print(dump_counters *counters) {
    if (vdb_url == nullptr) return;
    if (table_ != nullptr) {
        table_->print(counters);
    } else {
        dump_all_entries_from_file(counters);
    }
}
