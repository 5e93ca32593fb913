#include "tool/crawldb/diff.h"

#include <db.h>
#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/record_walk.h"
#include "robot/robot_db_env.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_record.h"
#include "robot/vurl_writer_lock.h"
#include "tool/crawldb/crawl_db.h"
#include "tool/crawldb/file_walk.h"
#include "tool/crawldb/id_index.h"
#include "tool/crawldb/progress.h"
#include "tool/reading/pages_passed_over.h"
#include "tool/crawldb/text_out.h"

namespace {

constexpr uint64_t kNoDigest = 0;

// Closes an environment once its files are closed.
struct CloseEnv {
    void operator()(DB_ENV *env) const { env->close(env, 0); }
};

// One crawl database: its environment and two files, and what its records
// say by id. The files are declared after the environment, so that they
// close first.
struct Side {
    std::string home;
    std::unique_ptr<DB_ENV, CloseEnv> env;
    std::string records_path;
    std::string ids_path;
    StorageObjectPtr records;
    StorageObjectPtr ids;
    bool being_written = false;  // its files are read from their pages
    IdIndex index;
    std::vector<uint64_t> digests;  // hash of the digest; kNoDigest for none
    std::vector<int32_t> statuses;
};

uint64_t digest_hash(std::string_view md5) {
    if (md5.empty()) return kNoDigest;
    const uint64_t hash = std::hash<std::string_view>{}(md5);
    return hash == kNoDigest ? 1 : hash;
}

// Names both files of side's home; false (reported) when one is not there.
bool find_files(Side *side) {
    if (!crawldb_readable(side->home, true)) return false;
    const std::string home = robot_absolute_path(side->home);
    side->records_path = home + "/url-visited.db";
    side->ids_path = home + "/vid.db";
    return crawldb_readable(side->records_path, false) && crawldb_readable(side->ids_path, false);
}

bool learn(Side *side) {
    // Room for as many records as the file could hold: pages never written
    // take no memory, and the arrays are never copied to grow.
    struct stat st;
    if (stat(side->records_path.c_str(), &st) == 0) {
        const size_t most = static_cast<size_t>(st.st_size) / 16;
        side->digests.reserve(most);
        side->statuses.reserve(most);
    }
    visited_url_fields f;
    const std::string what = "diff: " + side->records_path;
    return walk_file(side->records.get(), what.c_str(), 0,
                     [&](std::string_view key, std::string_view value) {
                         const uint32_t id = record_key_id(key);
                         if (id == 0 || !visited_url_parse(value.data(), value.size(), &f) ||
                             f.url.empty()) {
                             return true;
                         }
                         side->index.add(id);
                         side->digests.push_back(digest_hash(f.md5));
                         side->statuses.push_back(f.server_status);
                         return true;
                     });
}

// The next URL of side's vid.db that has a record, with that record's
// position; false at the end or on a read error.
bool next_url(RecordWalk *walk, const Side &side, std::string_view *url, size_t *at) {
    std::string_view key;
    std::string_view value;
    while (walk->next(&key, &value)) {
        // A key other than a URL and its zero byte maps no URL: two keys
        // are never taken for one URL.
        const std::optional<std::string_view> key_url = vid_key_url(key);
        if (!key_url || value.size() != 4) continue;
        *at = side.index.find(decode_fixed32(reinterpret_cast<const uint8_t *>(value.data())));
        if (*at == IdIndex::kNone) continue;
        *url = *key_url;
        return true;
    }
    return false;
}

struct Counts {
    uint64_t added = 0;
    uint64_t removed = 0;
    uint64_t digest_changed = 0;
    uint64_t status_changed = 0;
    uint64_t total() const { return added + removed + digest_changed + status_changed; }
};

class Differ {
  public:
    Differ(Side *old_side, Side *new_side, const DiffOptions &options)
        : old_(*old_side), new_(*new_side), options_(options) {}

    // Merges the two vid.db files; false on a read error (reported).
    bool merge();
    const Counts &counts() const { return counts_; }
    void print_counts();

  private:
    void change(char kind, std::string_view url, int32_t old_status = 0, int32_t new_status = 0);
    void compare(std::string_view url, size_t old_at, size_t new_at);

    Side &old_;
    Side &new_;
    const DiffOptions &options_;
    Output output_;
    Counts counts_;
};

void Differ::change(char kind, std::string_view url, int32_t old_status, int32_t new_status) {
    if (options_.summary) return;
    std::string *out = output_.buffer();
    if (options_.json) {
        JsonObject object(out);
        object.text("change", std::string_view(&kind, 1), BadBytes::kReplacement).url("url", url);
        if (kind == '!') object.number("old", old_status).number("new", new_status);
    } else {
        out->push_back(kind);
        out->push_back(' ');
        append_tsv_field(out, url, BadBytes::kPercent);
        if (kind == '!') {
            out->push_back(' ');
            append_json_number(out, old_status);
            out->append("->");
            append_json_number(out, new_status);
        }
    }
    output_.end_line();
}

void Differ::compare(std::string_view url, size_t old_at, size_t new_at) {
    const uint64_t old_digest = old_.digests[old_at];
    const uint64_t new_digest = new_.digests[new_at];
    if (old_digest != kNoDigest && new_digest != kNoDigest && old_digest != new_digest) {
        ++counts_.digest_changed;
        change('~', url);
    }
    const int32_t old_status = old_.statuses[old_at];
    const int32_t new_status = new_.statuses[new_at];
    if (old_status != new_status) {
        ++counts_.status_changed;
        change('!', url, old_status, new_status);
    }
}

bool Differ::merge() {
    RecordWalk old_walk(old_.ids.get());
    RecordWalk new_walk(new_.ids.get());
    Progress progress("diff: vid.db", 0);
    std::string_view old_url, new_url;
    size_t old_at = 0, new_at = 0;
    bool has_old = next_url(&old_walk, old_, &old_url, &old_at);
    bool has_new = next_url(&new_walk, new_, &new_url, &new_at);
    // A key is compared as Berkeley DB orders them: byte by byte, a prefix
    // first. The URLs stay valid until their walk moves on.
    while (has_old || has_new) {
        progress.step();
        const int order = !has_old ? 1 : !has_new ? -1 : old_url.compare(new_url);
        if (order < 0) {
            ++counts_.removed;
            change('-', old_url);
        } else if (order > 0) {
            ++counts_.added;
            change('+', new_url);
        } else {
            compare(old_url, old_at, new_at);
        }
        if (order <= 0) has_old = next_url(&old_walk, old_, &old_url, &old_at);
        if (order >= 0) has_new = next_url(&new_walk, new_, &new_url, &new_at);
    }
    output_.flush();
    for (const auto *walk : {&old_walk, &new_walk}) {
        if (walk->error() != 0) {
            crawldb_error("reading vid.db stopped: %s", db_strerror(walk->error()));
            return false;
        }
    }
    return true;
}

void Differ::print_counts() {
    if (options_.json) {
        const nlohmann::ordered_json counts = {{"added", counts_.added},
                                               {"removed", counts_.removed},
                                               {"digest_changed", counts_.digest_changed},
                                               {"status_changed", counts_.status_changed}};
        output_.buffer()->append(counts.dump());
        output_.end_line();
    } else {
        std::string *out = output_.buffer();
        out->append("added ").append(std::to_string(counts_.added));
        out->append("\nremoved ").append(std::to_string(counts_.removed));
        out->append("\ndigest changed ").append(std::to_string(counts_.digest_changed));
        out->append("\nstatus changed ").append(std::to_string(counts_.status_changed));
        output_.end_line();
    }
    output_.flush();
}

}  // namespace

int run_diff(const DiffOptions &options) {
    Side old_side, new_side;
    old_side.home = options.old_home;
    new_side.home = options.new_home;
    if (!find_files(&old_side) || !find_files(&new_side)) return 2;
    Verification verification;
    for (Side *side : {&old_side, &new_side}) {
        for (const std::string &path : {side->records_path, side->ids_path}) {
            if (!verification.add(path, side->records_path, Verification::When::kAlongside)) {
                return 2;
            }
        }
        side->being_written = vurl_writer_lock_held(side->records_path.c_str()) != 0;
        if (side->being_written) {
            crawldb_error("a crawler is writing %s; diff reads its files as they lie on disk",
                          side->home.c_str());
        }
    }
    // Files verified first are refused before they are read.
    if (!verification.damaged().empty()) {
        verification.finish(true);
        return 2;
    }
    // Each database has a private environment of its own: one a copy of the
    // other holds files with the same ids, which one cache would take for
    // the same files. A crawler's environment is not joined.
    for (Side *side : {&old_side, &new_side}) {
        side->env.reset(crawldb_open_env(side->home));
        if (side->env == nullptr) return 2;
        sys_set_db_env(side->env.get());
        side->records = open_file_read_only(side->records_path, side->being_written);
        side->ids = open_file_read_only(side->ids_path, side->being_written);
    }
    sys_set_db_env(nullptr);
    int status = verification.read_failure_status();
    if (old_side.records && old_side.ids && new_side.records && new_side.ids &&
        learn(&old_side) && learn(&new_side)) {
        Differ differ(&old_side, &new_side, options);
        if (differ.merge()) status = differ.counts().total() != 0 ? 1 : 0;
        if (status <= 1 && options.summary) differ.print_counts();
    }
    for (Side *side : {&old_side, &new_side}) {
        report_pages_passed_over("crawldb", side->records.get());
        report_pages_passed_over("crawldb", side->ids.get());
        side->records.reset();
        side->ids.reset();
        side->env.reset();
    }
    if (status > 1) return status;
    if (verification.finish(true) != Verification::Outcome::kSound) return 2;
    return status;
}
