#include "tool/crawldb/stats.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "robot/id_indirect.h"
#include "robot/vurl_db.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_record.h"
#include "tool/crawldb/file_walk.h"
#include "tool/crawldb/text_out.h"
#include "tool/crawldb/url_host.h"
#include "tool/reading/last_process_time.h"

namespace {

using json = nlohmann::ordered_json;

constexpr uint32_t kDay = 86400;

struct HostRow {
    std::string host;
    int64_t records = 0;
    int64_t unfetched = 0;
    int64_t by_class[4] = {0, 0, 0, 0};  // 2xx to 5xx
};

struct Counts {
    int64_t records = 0;
    int64_t undecodable = 0;
    int64_t start_points = 0;
    int64_t with_digest = 0;
    int64_t never_fetched = 0;
    int64_t processed_this_crawl = 0;
    std::map<int32_t, int64_t> by_progress_status;
    std::map<int32_t, int64_t> by_server_status;
    int64_t by_status_class[6] = {0, 0, 0, 0, 0, 0};  // 1xx to 5xx, other
    std::map<std::string, int64_t, std::less<>> by_database;
    std::map<int32_t, int64_t> by_depth_countdown;
    std::vector<uint32_t> visit_times;  // per record; 0 when never visited
    uint32_t newest_visit = 0;
    std::unordered_map<std::string, HostRow> hosts;
};

constexpr const char *kClassNames[6] = {"1xx", "2xx", "3xx", "4xx", "5xx", "other"};
constexpr const char *kFreshnessNames[5] = {"1d", "7d", "30d", "older", "never"};

// 0 for 1xx up to 4 for 5xx; 5 for any other status.
int status_class(int32_t status) {
    return status >= 100 && status <= 599 ? status / 100 - 1 : 5;
}

void count_record(const visited_url_fields &f, const StatsOptions &options, Counts *c) {
    ++c->records;
    if (!f.has_referer) ++c->start_points;
    if (!f.md5.empty()) ++c->with_digest;
    if (f.server_status == 0) ++c->never_fetched;
    if (g_timestamp != 0 && f.last_processed == g_timestamp) ++c->processed_this_crawl;
    ++c->by_progress_status[f.progress_status];
    ++c->by_server_status[f.server_status];
    const int cls = status_class(f.server_status);
    ++c->by_status_class[cls];
    // Looked up by the stored bytes: a record costs no string of its own.
    auto database = c->by_database.find(f.database);
    if (database == c->by_database.end()) database = c->by_database.emplace(f.database, 0).first;
    ++database->second;
    ++c->by_depth_countdown[f.depth_countdown];
    // Freshness needs the newest visit, known only at the end: the times are
    // kept, 4 bytes a record.
    c->visit_times.push_back(f.last_visited);
    c->newest_visit = std::max(c->newest_visit, f.last_visited);
    if (!options.hosts) return;
    HostRow &row = c->hosts[url_host(f.url)];
    ++row.records;
    if (f.server_status == 0) ++row.unfetched;
    if (cls >= 1 && cls <= 4) ++row.by_class[cls - 1];
}

// The freshness classes: visited within a day, a week, a month of the
// newest visit, earlier, never.
std::vector<int64_t> freshness(const Counts &c) {
    std::vector<int64_t> classes(5, 0);
    for (uint32_t visited : c.visit_times) {
        if (visited == 0) {
            ++classes[4];
            continue;
        }
        const uint32_t age = c.newest_visit - visited;
        classes[age <= kDay ? 0 : age <= 7 * kDay ? 1 : age <= 30 * kDay ? 2 : 3]++;
    }
    return classes;
}

// The rows of the host table, most records first, at most limit of them.
std::vector<HostRow> host_rows(const Counts &c, const StatsOptions &options) {
    std::unordered_map<std::string, HostRow> grouped;
    if (options.by_domain) {
        for (const auto &[host, row] : c.hosts) {
            HostRow &group = grouped[registrable_domain(host)];
            group.records += row.records;
            group.unfetched += row.unfetched;
            for (int i = 0; i < 4; ++i) group.by_class[i] += row.by_class[i];
        }
    }
    std::vector<HostRow> rows;
    for (const auto &[host, row] : options.by_domain ? grouped : c.hosts) {
        rows.push_back(row);
        rows.back().host = host;
    }
    std::sort(rows.begin(), rows.end(), [](const HostRow &a, const HostRow &b) {
        return a.records != b.records ? a.records > b.records : a.host < b.host;
    });
    if (rows.size() > options.host_rows) rows.resize(options.host_rows);
    return rows;
}

template <typename Key, typename Order>
json counts_object(const std::map<Key, int64_t, Order> &counts) {
    json object = json::object();
    for (const auto &[key, count] : counts) {
        if constexpr (std::is_same_v<Key, std::string>) {
            object[json_name(key)] = count;
        } else {
            object[std::to_string(key)] = count;
        }
    }
    return object;
}

void print_json(const Counts &c, const StatsOptions &options) {
    json report;
    report["records"] = c.records;
    report["undecodable"] = c.undecodable;
    report["crawl"] = {{"in_progress", g_timestamp != 0},
                       {"started", g_timestamp != 0 ? json(g_timestamp) : json(nullptr)}};
    report["start_points"] = c.start_points;
    report["with_digest"] = c.with_digest;
    report["never_fetched"] = c.never_fetched;
    report["processed_this_crawl"] = c.processed_this_crawl;
    report["by_progress_status"] = counts_object(c.by_progress_status);
    report["by_server_status"] = counts_object(c.by_server_status);
    json classes = json::object();
    for (int i = 0; i < 6; ++i) classes[kClassNames[i]] = c.by_status_class[i];
    report["by_status_class"] = classes;
    report["by_database"] = counts_object(c.by_database);
    report["by_depth_countdown"] = counts_object(c.by_depth_countdown);
    const std::vector<int64_t> fresh = freshness(c);
    json fresh_object = json::object();
    for (int i = 0; i < 5; ++i) fresh_object[kFreshnessNames[i]] = fresh[i];
    report["freshness"] = fresh_object;
    if (options.hosts) {
        json hosts = json::array();
        for (const HostRow &row : host_rows(c, options)) {
            hosts.push_back({{options.by_domain ? "domain" : "host", json_name(row.host)},
                             {"records", row.records},
                             {"unfetched", row.unfetched},
                             {"2xx", row.by_class[0]},
                             {"3xx", row.by_class[1]},
                             {"4xx", row.by_class[2]},
                             {"5xx", row.by_class[3]}});
        }
        report["hosts"] = hosts;
    }
    // Hosts and databases are stored bytes, written by json_name as text
    // that gives them back.
    std::puts(report.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
}

// Prints a titled table of name/count rows, names left-aligned.
void print_table(const char *title, const std::vector<std::pair<std::string, int64_t>> &rows,
                 bool first = false) {
    std::printf(first ? "%s\n" : "\n%s\n", title);
    size_t width = 0;
    for (const auto &row : rows) width = std::max(width, row.first.size());
    for (const auto &[name, count] : rows) {
        std::printf("  %-*s  %12" PRId64 "\n", static_cast<int>(width), name.c_str(), count);
    }
}

template <typename Key, typename Order>
std::vector<std::pair<std::string, int64_t>> table_rows(const std::map<Key, int64_t, Order> &counts) {
    std::vector<std::pair<std::string, int64_t>> rows;
    for (const auto &[key, count] : counts) {
        if constexpr (std::is_same_v<Key, std::string>) {
            rows.emplace_back(text_name(key), count);
        } else {
            rows.emplace_back(std::to_string(key), count);
        }
    }
    return rows;
}

void print_text(const Counts &c, const StatsOptions &options) {
    print_table("records", {{"records", c.records},
                            {"undecodable", c.undecodable},
                            {"start points", c.start_points},
                            {"with digest", c.with_digest},
                            {"never fetched", c.never_fetched},
                            {"processed this crawl", c.processed_this_crawl}},
                true);
    if (g_timestamp != 0) {
        std::printf("  crawl in progress since %s\n",
                    utc_time(g_timestamp, "%Y-%m-%d %H:%M:%S UTC").c_str());
    } else {
        std::printf("  no crawl in progress\n");
    }
    print_table("by progress status", table_rows(c.by_progress_status));
    print_table("by server status", table_rows(c.by_server_status));
    std::vector<std::pair<std::string, int64_t>> classes;
    for (int i = 0; i < 6; ++i) classes.emplace_back(kClassNames[i], c.by_status_class[i]);
    print_table("by status class", classes);
    print_table("by database", table_rows(c.by_database));
    print_table("by depth countdown", table_rows(c.by_depth_countdown));
    const std::vector<int64_t> fresh = freshness(c);
    std::vector<std::pair<std::string, int64_t>> fresh_rows;
    for (int i = 0; i < 5; ++i) fresh_rows.emplace_back(kFreshnessNames[i], fresh[i]);
    print_table("freshness (last visit, against the newest)", fresh_rows);
    if (!options.hosts) return;
    const std::vector<HostRow> rows = host_rows(c, options);
    size_t width = 4;
    for (const HostRow &row : rows) width = std::max(width, text_name(row.host).size());
    std::printf("\n%s\n  %-*s  %10s  %10s  %10s  %10s  %10s  %10s\n",
                options.by_domain ? "domains" : "hosts", static_cast<int>(width),
                options.by_domain ? "domain" : "host", "records", "unfetched", "2xx", "3xx",
                "4xx", "5xx");
    for (const HostRow &row : rows) {
        std::printf("  %-*s  %10" PRId64 "  %10" PRId64 "  %10" PRId64 "  %10" PRId64
                    "  %10" PRId64 "  %10" PRId64 "\n",
                    static_cast<int>(width), text_name(row.host).c_str(),
                    row.records, row.unfetched, row.by_class[0], row.by_class[1],
                    row.by_class[2], row.by_class[3]);
    }
}

}  // namespace

int run_stats(CrawlDb *db, const StatsOptions &options) {
    Counts counts;
    counts.visit_times.reserve(db->record_count_hint());
    visited_url_fields fields;
    const bool read = walk_file(vdb_url, "stats", db->last_id(),
                                [&](std::string_view, std::string_view value) {
                                    if (!visited_url_parse(value.data(), value.size(), &fields)) {
                                        ++counts.undecodable;
                                    } else if (!is_last_process_time(fields.url)) {
                                        count_record(fields, options, &counts);
                                    }
                                    return true;
                                });
    if (!read) return db->read_failure_status();
    if (db->confirm() != CrawlDb::Opened::kOpen) return 2;
    if (options.json) {
        print_json(counts, options);
    } else {
        print_text(counts, options);
    }
    return 0;
}
