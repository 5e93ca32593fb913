// The marking pass stamps a start point and, depth first, every record its
// stored links reach, but never goes through a record already stamped: a
// record processed in this crawl, or one stamped before by the same pass.
// Since a stamped record's own links were followed when it was stamped, the
// records stamped in the end are those reachable from an unstamped start
// point through unstamped records, whatever the order; that set is worked
// out here with one flag a record. Links mostly point to higher ids (a
// link's record is made when its page is stored), so a walk in id order
// reaches most of the set; the records it reaches behind itself are
// followed with one read each.
//
// The passes find records the way the crawler does: a start point's tree is
// entered through the id vid.db gives its URL, and a link reaches the
// record vid.db gives the linked URL. The plan looks up each start point's
// URL so, and takes a link to lead to the record of its id, which is the
// same record wherever vid.db and url-visited.db agree (crawldb check).
#include "tool/crawldb/plan.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "extra/malloc_ptr.h"
#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/vurl_db.h"
#include "robot/vurl_record.h"
#include "tool/crawldb/file_walk.h"
#include "tool/crawldb/id_index.h"
#include "tool/crawldb/text_out.h"
#include "tool/crawldb/url_host.h"

namespace {

using json = nlohmann::ordered_json;

constexpr uint8_t kDecodes = 1;    // the value decodes: the pass can stamp it
constexpr uint8_t kHasUrl = 2;     // it decodes with a URL: a start point or a page to hand on
constexpr uint8_t kNamed = 4;      // its URL can be read: links and referers to it resolve
constexpr uint8_t kProcessed = 8;  // processed in this crawl before the pass
constexpr uint8_t kStamped = 16;   // processed, or stamped by the pass
constexpr uint8_t kExpanded = 32;  // stamped by the pass, and its links followed

// The 4-byte number a key of url-visited.db holds, which the passes read a
// record under whatever its value; 0 for a key of another size.
uint32_t key_number(std::string_view key) {
    return key.size() == 4 ? decode_fixed32(reinterpret_cast<const uint8_t *>(key.data())) : 0;
}

// A record under a key that is no id, which no link reaches but which may
// be a start point.
struct OddRecord {
    std::string url;
    uint32_t referer = 0;  // 0 for none
    bool has_referer = false;
};

class Planner {
  public:
    Planner(CrawlDb *db, const PlanOptions &options) : db_(*db), options_(options) {}
    int run();

  private:
    bool learn();
    bool resolves(uint32_t referer) const;
    void enter_tree(const std::string &url);
    void find_start_points();
    bool mark();
    void expand(size_t at, const visited_url_fields &f, size_t walked_to);
    bool follow_behind();
    bool hand_on();
    void print_counts();

    CrawlDb &db_;
    const PlanOptions &options_;
    IdIndex index_;
    std::vector<uint8_t> flags_;
    std::vector<uint32_t> referers_;  // referer id by position, while has_referer_ says so
    std::vector<bool> has_referer_;
    std::vector<OddRecord> odd_;      // start point candidates under keys that are no id
    std::vector<size_t> behind_;      // reached behind the walk, still to follow
    Output output_;
    uint64_t handed_on_ = 0;
    std::map<std::string, uint64_t> by_database_;
    std::unordered_map<std::string, uint64_t> by_host_;
};

bool Planner::learn() {
    const size_t hint = db_.record_count_hint();
    flags_.reserve(hint);
    referers_.reserve(hint);
    visited_url_fields f;
    return walk_file(vdb_url, "plan: url-visited.db, 1 of 3", db_.last_id(),
                     [&](std::string_view key, std::string_view value) {
                         const bool parses = visited_url_parse(value.data(), value.size(), &f);
                         const bool unprocessed = parses && f.last_processed != g_timestamp;
                         const uint32_t id = key_number(key);
                         if (id == 0) {
                             if (unprocessed && !f.url.empty()) {
                                 odd_.push_back({std::string(f.url), f.referer_id, f.has_referer});
                             }
                             return true;
                         }
                         index_.add(id);
                         std::string_view url;
                         uint8_t flags = 0;
                         if (visited_url_stored_url(value.data(), value.size(), &url) &&
                             !url.empty()) {
                             flags |= kNamed;
                         }
                         if (parses) {
                             flags |= kDecodes;
                             if (!f.url.empty()) flags |= kHasUrl;
                             if (!unprocessed) flags |= kProcessed | kStamped;
                         }
                         flags_.push_back(flags);
                         referers_.push_back(parses ? f.referer_id : 0);
                         has_referer_.push_back(parses && f.has_referer);
                         return true;
                     });
}

// Whether a referer id turns into a URL, as the record decoder reads it.
bool Planner::resolves(uint32_t referer) const {
    const size_t at = index_.find(referer);
    return at != IdIndex::kNone && (flags_[at] & kNamed) != 0;
}

// Stamps the record vid.db gives url, when the pass can: its links are
// followed by the walk that comes next.
void Planner::enter_tree(const std::string &url) {
    const std::optional<uint32_t> id = vid_value_of(url);
    if (!id) return;
    const size_t at = index_.find(*id);
    if (at != IdIndex::kNone && (flags_[at] & (kDecodes | kStamped)) == kDecodes) {
        flags_[at] |= kStamped;
    }
}

// A start point is a record whose decoded form has no referer: none stored,
// or one whose id gives no URL. Its tree is entered through vid.db.
void Planner::find_start_points() {
    std::vector<size_t> starts;
    for (size_t at = 0; at < flags_.size(); ++at) {
        if ((flags_[at] & (kHasUrl | kProcessed)) != kHasUrl) continue;
        if (!has_referer_[at] || !resolves(referers_[at])) starts.push_back(at);
    }
    std::vector<std::string> urls;
    for (const OddRecord &odd : odd_) {
        if (!odd.has_referer || !resolves(odd.referer)) urls.push_back(odd.url);
    }
    referers_ = std::vector<uint32_t>();
    has_referer_ = std::vector<bool>();
    odd_ = std::vector<OddRecord>();
    for (size_t at : starts) {
        MallocPtr<char> url(visited_url_url_of_id(index_.id_at(at)));
        if (url != nullptr) urls.emplace_back(url.get());
    }
    for (const std::string &url : urls) enter_tree(url);
}

// Stamps the unstamped records f links to; those before walked_to are left
// for follow_behind.
void Planner::expand(size_t at, const visited_url_fields &f, size_t walked_to) {
    flags_[at] |= kExpanded;
    for (size_t i = 0; i < f.link_id_count; ++i) {
        // A link that gives no URL is dropped; one that does leads to its record.
        const size_t target = index_.find(f.link_id(i));
        if (target == IdIndex::kNone ||
            (flags_[target] & (kNamed | kDecodes | kStamped)) != (kNamed | kDecodes)) {
            continue;
        }
        flags_[target] |= kStamped;
        if (target <= walked_to) behind_.push_back(target);
    }
}

bool Planner::mark() {
    size_t at = 0;
    visited_url_fields f;
    const bool walked = walk_file(
        vdb_url, "plan: url-visited.db, 2 of 3", db_.last_id(),
        [&](std::string_view key, std::string_view value) {
            const uint32_t id = key_number(key);
            if (id == 0) return true;
            at = index_.find(id);
            // Only records the pass stamped have their links followed.
            if (at == IdIndex::kNone ||
                (flags_[at] & (kProcessed | kStamped | kExpanded)) != kStamped) {
                return true;
            }
            if (visited_url_parse(value.data(), value.size(), &f)) expand(at, f, at);
            return true;
        });
    return walked && follow_behind();
}

bool Planner::follow_behind() {
    visited_url_fields f;
    while (!behind_.empty()) {
        const size_t at = behind_.back();
        behind_.pop_back();
        if ((flags_[at] & kExpanded) != 0) continue;
        uint8_t key_bytes[4];
        encode_fixed32(key_bytes, index_.id_at(at));
        DBT key = borrowed_dbt(key_bytes, sizeof key_bytes);
        MallocDbt value;
        const int rc = sto_read(vdb_url, &key, value.get());
        if (rc != 0 && rc != DB_NOTFOUND) {
            crawldb_error("reading %s: %s", vdb_url->name.c_str(), db_strerror(rc));
            return false;
        }
        flags_[at] |= kExpanded;
        // Nothing is left behind from here on: every target is followed.
        if (rc == 0 && visited_url_parse(value.data(), value.size(), &f)) {
            expand(at, f, flags_.size());
        }
    }
    return true;
}

bool Planner::hand_on() {
    visited_url_fields f;
    return walk_file(
        vdb_url, "plan: url-visited.db, 3 of 3", db_.last_id(),
        [&](std::string_view key, std::string_view value) {
            // The scan hands on records under any key; only those under ids can
            // have been stamped by the marking pass.
            const uint32_t id = key_number(key);
            const size_t at = id != 0 ? index_.find(id) : IdIndex::kNone;
            if (at != IdIndex::kNone && (flags_[at] & kStamped) != 0) return true;
            if (!visited_url_parse(value.data(), value.size(), &f) || f.url.empty() ||
                f.md5.empty() || f.last_processed == g_timestamp) {
                return true;
            }
            ++handed_on_;
            ++by_database_[std::string(f.database)];
            ++by_host_[url_host(f.url)];
            if (options_.summary) return true;
            if (options_.json) {
                JsonObject object(output_.buffer());
                object.url("url", f.url);
                if (f.database.empty()) {
                    object.null("database");
                } else {
                    object.text("database", f.database, BadBytes::kEscaped);
                }
                if (id != 0) {
                    object.number("id", id);
                } else {
                    object.null("id");
                }
            } else {
                append_tsv_field(output_.buffer(), f.url, BadBytes::kPercent);
                output_.buffer()->push_back('\t');
                append_tsv_field(output_.buffer(), f.database, BadBytes::kEscaped);
            }
            output_.end_line();
            return true;
        });
}

void Planner::print_counts() {
    std::vector<std::pair<std::string, uint64_t>> hosts(by_host_.begin(), by_host_.end());
    std::sort(hosts.begin(), hosts.end(), [](const auto &a, const auto &b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    if (options_.json) {
        json databases = json::object();
        for (const auto &[name, count] : by_database_) databases[json_name(name)] = count;
        json by_host = json::object();
        for (const auto &[name, count] : hosts) by_host[json_name(name)] = count;
        const json summary = {{"summary",
                               {{"handed_on", handed_on_},
                                {"by_database", databases},
                                {"by_host", by_host}}}};
        output_.buffer()->append(summary.dump(-1, ' ', false, json::error_handler_t::replace));
        output_.end_line();
        return;
    }
    std::string *out = output_.buffer();
    if (!options_.summary) out->push_back('\n');
    out->append("handed on: ").append(std::to_string(handed_on_)).append("\nby database\n");
    for (const auto &[name, count] : by_database_) {
        out->append("  ").append(text_name(name)).append("\t");
        out->append(std::to_string(count)).push_back('\n');
    }
    out->append("by host\n");
    for (const auto &[name, count] : hosts) {
        out->append("  ").append(text_name(name)).append("\t");
        out->append(std::to_string(count)).push_back('\n');
    }
}

int Planner::run() {
    if (g_timestamp == 0) {
        output_.flush();
        if (db_.confirm() != CrawlDb::Opened::kOpen) return 2;
        crawldb_error("no crawl is in progress: the end-of-crawl passes would hand on nothing");
        return 0;
    }
    if (!learn()) return db_.read_failure_status();
    find_start_points();
    if (!mark() || !hand_on()) return db_.read_failure_status();
    output_.flush();
    if (db_.confirm() != CrawlDb::Opened::kOpen) return 2;
    print_counts();
    output_.flush();
    return 0;
}

}  // namespace

int run_plan(CrawlDb *db, const PlanOptions &options) {
    return Planner(db, options).run();
}
