#include "tool/crawldb/pool.h"

#include <db.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "robot/robot_db_env.h"
#include "robot/url_pool.h"
#include "robot/url_record.h"
#include "robot/vurl_db.h"
#include "robot/vurl_writer_lock.h"
#include "tool/crawldb/crawl_db.h"
#include "tool/crawldb/file_walk.h"
#include "tool/crawldb/text_out.h"
#include "tool/crawldb/url_host.h"
#include "tool/reading/pages_passed_over.h"

namespace {

using json = nlohmann::ordered_json;

constexpr const char *kBankNames[2] = {"waiting", "in_work"};

struct Bank {
    std::string path;
    StorageObjectPtr file;  // null when the bank is missing
};

struct Row {
    uint64_t in_bank[2] = {0, 0};
};

// The collection of a stored key: up to its separator, without the key's
// zero byte.
std::string_view collection_of(std::string_view key) {
    key = key.substr(0, key.find('\0'));
    return key.substr(0, key.find(kUrlPoolSeparator));
}

class PoolReport {
  public:
    explicit PoolReport(const PoolOptions &options) : options_(options) {}

    bool count(Bank *bank, int which);
    bool list(Bank *bank, int which);
    void print_counts();
    uint64_t listed() const { return listed_; }

  private:
    void print_rows(const char *title, const char *name,
                    const std::vector<std::pair<std::string, Row>> &rows, json *report);

    const PoolOptions &options_;
    std::map<std::string, Row> collections_;
    std::unordered_map<std::string, Row> hosts_;
    uint64_t undecodable_[2] = {0, 0};
    uint64_t listed_ = 0;
    Output output_;
};

bool PoolReport::count(Bank *bank, int which) {
    url_record_fields fields;
    const std::string what = std::string("pool: ") + kBankNames[which];
    return walk_file(bank->file.get(), what.c_str(), 0,
                     [&](std::string_view key, std::string_view value) {
                         ++collections_[std::string(collection_of(key))].in_bank[which];
                         if (!options_.hosts) return true;
                         if (!url_record_parse(value.data(), value.size(), &fields)) {
                             ++undecodable_[which];
                             return true;
                         }
                         ++hosts_[url_host(fields.url)].in_bank[which];
                         return true;
                     });
}

bool PoolReport::list(Bank *bank, int which) {
    url_record_fields f;
    // The collection's keys start with its name and the separator.
    const std::string start = *options_.collection + kUrlPoolSeparator;
    const bool read = scan_prefix(bank->file.get(), start, [&](std::string_view stored_key,
                                                               std::string_view value) {
        ++listed_;
        const bool decodes = url_record_parse(value.data(), value.size(), &f);
        const std::string_view key_text = stored_key.substr(0, stored_key.find('\0'));
        std::string *out = output_.buffer();
        if (options_.json) {
            JsonObject object(out);
            object.text("bank", kBankNames[which], BadBytes::kReplacement)
                .url("key", key_text);
            if (decodes) {
                object.url("url", f.url)
                    .number("num_a", f.num_a)
                    .number("num_b", f.num_b)
                    .number("num_c", f.num_c);
                for (const auto &[name, text] : {std::pair{"text_a", f.text_a}, std::pair{"text_b", f.text_b}}) {
                    if (text) {
                        object.text(name, *text, BadBytes::kReplacement);
                    } else {
                        object.null(name);
                    }
                }
            } else {
                object.null("url");
            }
        } else {
            out->append(kBankNames[which]).push_back('\t');
            append_tsv_field(out, key_text, BadBytes::kPercent);
            if (decodes) {
                out->push_back('\t');
                append_tsv_field(out, f.url, BadBytes::kPercent);
                for (int32_t number : {f.num_a, f.num_b, f.num_c}) {
                    out->push_back('\t');
                    append_json_number(out, number);
                }
                for (const auto &text : {f.text_a, f.text_b}) {
                    out->push_back('\t');
                    if (text) append_tsv_field(out, *text, BadBytes::kReplacement);
                }
            } else {
                // Every line has the same columns; a value that holds no URL
                // leaves them empty.
                out->append(6, '\t');
            }
        }
        output_.end_line();
    });
    output_.flush();
    return read;
}

void PoolReport::print_rows(const char *title, const char *name,
                            const std::vector<std::pair<std::string, Row>> &rows, json *report) {
    if (report != nullptr) {
        json array = json::array();
        for (const auto &[key, row] : rows) {
            array.push_back(
                {{name, json_name(key)}, {"waiting", row.in_bank[0]}, {"in_work", row.in_bank[1]}});
        }
        (*report)[title] = array;
        return;
    }
    size_t width = std::string_view(name).size();
    for (const auto &row : rows) width = std::max(width, text_name(row.first).size());
    std::printf("%-*s  %10s  %10s\n", static_cast<int>(width), name, "waiting", "in work");
    for (const auto &[key, row] : rows) {
        std::printf("%-*s  %10llu  %10llu\n", static_cast<int>(width),
                    text_name(key).c_str(),
                    static_cast<unsigned long long>(row.in_bank[0]),
                    static_cast<unsigned long long>(row.in_bank[1]));
    }
}

void PoolReport::print_counts() {
    Row total;
    for (const auto &[name, row] : collections_) {
        for (int i = 0; i < 2; ++i) total.in_bank[i] += row.in_bank[i];
    }
    const std::vector<std::pair<std::string, Row>> collections(collections_.begin(),
                                                               collections_.end());
    std::vector<std::pair<std::string, Row>> hosts(hosts_.begin(), hosts_.end());
    auto size = [](const Row &row) { return row.in_bank[0] + row.in_bank[1]; };
    std::sort(hosts.begin(), hosts.end(), [&](const auto &a, const auto &b) {
        return size(a.second) != size(b.second) ? size(a.second) > size(b.second)
                                                : a.first < b.first;
    });
    if (hosts.size() > options_.host_rows) hosts.resize(options_.host_rows);
    if (options_.json) {
        json report = {{"waiting", total.in_bank[0]}, {"in_work", total.in_bank[1]}};
        print_rows("collections", "collection", collections, &report);
        if (options_.hosts) {
            print_rows("hosts", "host", hosts, &report);
            report["undecodable"] = undecodable_[0] + undecodable_[1];
        }
        std::puts(report.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
        return;
    }
    std::printf("waiting %llu, in work %llu\n\n", static_cast<unsigned long long>(total.in_bank[0]),
                static_cast<unsigned long long>(total.in_bank[1]));
    print_rows("collections", "collection", collections, nullptr);
    if (!options_.hosts) return;
    std::printf("\n");
    print_rows("hosts", "host", hosts, nullptr);
}

}  // namespace

int run_pool(const PoolOptions &options) {
    const std::string dir = options.pool_dir.value_or(options.home);
    if (!crawldb_readable(dir, true)) return 2;
    const std::string absolute = robot_absolute_path(dir);
    // The crawler that fills the pool marks its visited-URL database.
    const std::string mark = robot_absolute_path(options.home) + "/url-visited.db";
    Bank banks[2] = {{absolute + "/" + kUrlPoolMainFile, nullptr},
                     {absolute + "/" + kUrlPoolBackupFile, nullptr}};
    Verification verification;
    for (const Bank &bank : banks) {
        if (access(bank.path.c_str(), F_OK) != 0) {
            crawldb_error("%s is missing: counted as empty", bank.path.c_str());
        } else if (!crawldb_readable(bank.path, false)) {
            return 2;
        } else if (!verification.add(bank.path, mark, Verification::When::kAlongside)) {
            return 2;
        }
    }
    // Files verified first are refused before they are read.
    if (!verification.damaged().empty()) {
        verification.finish(true);
        return 2;
    }
    const bool crawler_writing = vurl_writer_lock_held(mark.c_str()) != 0;
    if (crawler_writing) {
        crawldb_error("a crawler is writing the pool; URLs it moves meanwhile may be counted as "
                      "they were, or not at all");
    }
    DB_ENV *env = crawldb_open_env(absolute);
    if (env == nullptr) return 2;
    sys_set_db_env(env);
    PoolReport report(options);
    bool read = true;
    for (int which = 0; which < 2 && read; ++which) {
        Bank &bank = banks[which];
        if (access(bank.path.c_str(), F_OK) != 0) continue;
        bank.file = open_file_read_only(bank.path, crawler_writing);
        if (bank.file == nullptr) {
            read = false;
            break;
        }
        read = options.collection ? report.list(&bank, which) : report.count(&bank, which);
        report_pages_passed_over("crawldb", bank.file.get());
        bank.file.reset();
    }
    robot_db_shutdown();
    if (!read) return verification.read_failure_status();
    if (verification.finish(true) != Verification::Outcome::kSound) return 2;
    if (options.collection) return report.listed() != 0 ? 0 : 1;
    report.print_counts();
    return 0;
}
