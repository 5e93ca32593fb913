#include "tool/crawldb/check.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_record.h"
#include "tool/crawldb/id_index.h"
#include "tool/crawldb/file_walk.h"
#include "tool/crawldb/text_out.h"

namespace {

using json = nlohmann::ordered_json;

// The kinds of problem, in the order they are reported. The names are part
// of the JSON report and stay as they are.
constexpr const char *kKinds[] = {
    "damaged_file",         // a file fails Berkeley DB's verifier
    "metadata_missing",     // vid.db holds no metadata
    "metadata_size",        // the metadata is not 16 bytes
    "metadata_version",     // the metadata's version is not one this library knows
    "key_not_id",           // a key of url-visited.db is not a 4-byte record id
    "id_not_below_next_id", // a record id, or an id in vid.db, is not below next_id
    "undecodable_record",   // a value of url-visited.db does not decode, or has no URL
    "bad_digest",           // a digest is not 32 hexadecimal characters
    "url_not_in_vid",       // a record's URL has no entry in vid.db
    "url_with_two_ids",     // a record's URL has another id in vid.db
    "vid_key_not_url",      // a key of vid.db is not a URL and one zero byte at its end
    "vid_value_not_id",     // a value of vid.db is not a 4-byte record id
    "vid_id_without_record",// vid.db gives a URL an id that has no record
    "vid_url_mismatch",     // vid.db gives a URL the id of a record of another URL
    "referer_unresolved",   // a referer id has no record with a URL
    "link_unresolved",      // a link id has no record with a URL
};
constexpr size_t kKindCount = sizeof kKinds / sizeof kKinds[0];

enum Kind : size_t {
    kDamagedFile,
    kMetadataMissing,
    kMetadataSize,
    kMetadataVersion,
    kKeyNotId,
    kIdNotBelowNextId,
    kUndecodableRecord,
    kBadDigest,
    kUrlNotInVid,
    kUrlWithTwoIds,
    kVidKeyNotUrl,
    kVidValueNotId,
    kVidIdWithoutRecord,
    kVidUrlMismatch,
    kRefererUnresolved,
    kLinkUnresolved,
};

// Counts of each kind, with the first few examples.
class Findings {
  public:
    explicit Findings(size_t examples) : limit_(examples) {}

    // Counts a problem; example() is called only while examples are wanted.
    void add(Kind kind, const std::function<json()> &example) {
        ++counts_[kind];
        if (examples_[kind].size() < limit_) examples_[kind].push_back(example());
    }
    bool clean() const {
        return std::all_of(std::begin(counts_), std::end(counts_),
                           [](int64_t count) { return count == 0; });
    }
    void print_json(int64_t records) const;
    void print_text(int64_t records) const;

  private:
    size_t limit_;
    int64_t counts_[kKindCount] = {};
    std::vector<json> examples_[kKindCount];
};

void Findings::print_json(int64_t records) const {
    json problems = json::object();
    json examples = json::object();
    for (size_t k = 0; k < kKindCount; ++k) {
        if (counts_[k] == 0) continue;
        problems[kKinds[k]] = counts_[k];
        examples[kKinds[k]] = examples_[k];
    }
    const json report = {{"clean", clean()},
                         {"records", records},
                         {"problems", problems},
                         {"examples", examples}};
    std::puts(report.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
}

void Findings::print_text(int64_t records) const {
    std::printf("%lld records checked: %s\n", static_cast<long long>(records),
                clean() ? "clean" : "problems found");
    for (size_t k = 0; k < kKindCount; ++k) {
        if (counts_[k] == 0) continue;
        std::printf("%-22s %lld\n", kKinds[k], static_cast<long long>(counts_[k]));
        for (const json &example : examples_[k]) {
            std::string line;
            for (const auto &[name, value] : example.items()) {
                line += "  " + name + " " +
                        (value.is_string() ? printable(value.get<std::string>())
                                           : value.dump(-1, ' ', false,
                                                        json::error_handler_t::replace));
            }
            std::printf("   %s\n", line.c_str());
        }
    }
}

uint32_t url_hash(std::string_view url) {
    return static_cast<uint32_t>(std::hash<std::string_view>{}(url));
}

// What the first walk learns of each record of url-visited.db, by id.
class RecordIndex {
  public:
    static constexpr uint8_t kHasUrl = 1;     // the value decodes and holds a URL
    static constexpr uint8_t kMappedBack = 2; // vid.db gives that URL this id

    void reserve(size_t records) {
        flags_.reserve(records);
        hashes_.reserve(records);
    }
    void add(uint32_t id, uint8_t flags, uint32_t hash) {
        ids_.add(id);
        flags_.push_back(flags);
        hashes_.push_back(hash);
    }
    // Where id is, or IdIndex::kNone when it has no record.
    size_t find(uint32_t id) const { return ids_.find(id); }
    bool has_url(uint32_t id) const {
        const size_t at = find(id);
        return at != IdIndex::kNone && (flags_[at] & kHasUrl) != 0;
    }
    uint32_t last_id() const { return ids_.last(); }
    uint8_t &flags(size_t at) { return flags_[at]; }
    uint32_t hash(size_t at) const { return hashes_[at]; }

  private:
    IdIndex ids_;
    std::vector<uint8_t> flags_;
    std::vector<uint32_t> hashes_;
};

std::string hex(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text.push_back(kHex[c >> 4]);
        text.push_back(kHex[c & 0xF]);
    }
    return text;
}

bool is_hex_digest(std::string_view md5) {
    return md5.size() == kVurlDigestLength &&
           std::all_of(md5.begin(), md5.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

std::string text_of(std::string_view bytes) {
    return std::string(bytes);
}

class Checker {
  public:
    Checker(const CrawlDb &db, Findings *findings) : db_(db), findings_(*findings) {}

    // Runs every check; false when a read failed (reported).
    bool run();
    int64_t records() const { return records_; }

  private:
    void check_metadata();
    bool index_records();
    bool check_ids();
    bool check_references();
    void check_reference(Kind kind, uint32_t id, std::string_view url, const char *name,
                         uint32_t target);
    void explain_unmapped(uint32_t id, std::string_view url);
    // Whether id may belong to a record a live crawler stored after the
    // first walk: then its absence there is no problem.
    bool newer_than_walk(uint32_t id) const {
        return db_.being_written() && id > index_.last_id();
    }

    const CrawlDb &db_;
    Findings &findings_;
    RecordIndex index_;
    int64_t records_ = 0;
    int64_t next_id_ = 0;  // 0 while the metadata is unusable
};

void Checker::check_metadata() {
    DBT key = string_key(VURL_META_KEY);
    MallocDbt value;
    const int rc = sto_read(vdb_id, &key, value.get());
    if (rc != 0) {
        findings_.add(kMetadataMissing, [] { return json::object(); });
        return;
    }
    if (value.size() != kVurlMetaStoredSize) {
        findings_.add(kMetadataSize, [&] { return json{{"size", value.size()}}; });
        return;
    }
    const auto *bytes = static_cast<const uint8_t *>(value.data());
    const auto version = static_cast<int32_t>(decode_fixed32(bytes));
    if (version < 1 || version > VURL_VERSION) {
        findings_.add(kMetadataVersion, [&] { return json{{"version", version}}; });
        return;
    }
    // A crawler stores next_id when it stops; while it writes, the stored
    // one lags the ids it hands out.
    if (!db_.being_written()) next_id_ = static_cast<int32_t>(decode_fixed32(bytes + 8));
}

bool Checker::index_records() {
    index_.reserve(db_.record_count_hint());
    visited_url_fields f;
    return walk_file(vdb_url, "check: url-visited.db, 1 of 3", db_.last_id(),
                     [&](std::string_view key, std::string_view value) {
        ++records_;
        const uint32_t id =
            key.size() == 4 ? decode_fixed32(reinterpret_cast<const uint8_t *>(key.data())) : 0;
        if (!vurl_is_record_id(id)) {
            findings_.add(kKeyNotId, [&] { return json{{"key", hex(key)}}; });
            return true;
        }
        if (next_id_ != 0 && id >= next_id_) {
            findings_.add(kIdNotBelowNextId,
                          [&] { return json{{"id", id}, {"next_id", next_id_}}; });
        }
        if (!visited_url_parse(value.data(), value.size(), &f) || f.url.empty()) {
            findings_.add(kUndecodableRecord, [&] { return json{{"id", id}}; });
            index_.add(id, 0, 0);
            return true;
        }
        if (!f.md5.empty() && !is_hex_digest(f.md5)) {
            findings_.add(kBadDigest,
                          [&] { return json{{"id", id}, {"url", text_of(f.url)}, {"md5", text_of(f.md5)}}; });
        }
        index_.add(id, RecordIndex::kHasUrl, url_hash(f.url));
        return true;
    });
}

bool Checker::check_ids() {
    return walk_file(vdb_id, "check: vid.db, 2 of 3", db_.last_id(),
                     [&](std::string_view key, std::string_view value) {
        const DBT key_dbt = borrowed_dbt(key.data(), key.size());
        if (vurl_is_meta_key(&key_dbt)) return true;
        // Only a key that is the URL and its zero byte is found by a lookup
        // of the URL: any other maps no URL, and the record it names is
        // reported as unmapped by the last walk.
        const std::optional<std::string_view> key_url = vid_key_url(key);
        if (!key_url) {
            findings_.add(kVidKeyNotUrl, [&] { return json{{"key", hex(key)}, {"value", hex(value)}}; });
            return true;
        }
        const std::string_view url = *key_url;
        const uint32_t id =
            value.size() == 4 ? decode_fixed32(reinterpret_cast<const uint8_t *>(value.data())) : 0;
        if (!vurl_is_record_id(id)) {
            findings_.add(kVidValueNotId,
                          [&] { return json{{"url", text_of(url)}, {"value", hex(value)}}; });
            return true;
        }
        if (next_id_ != 0 && id >= next_id_) {
            findings_.add(kIdNotBelowNextId,
                          [&] { return json{{"url", text_of(url)}, {"id", id}, {"next_id", next_id_}}; });
        }
        const size_t at = index_.find(id);
        if (at == IdIndex::kNone) {
            if (newer_than_walk(id)) return true;
            findings_.add(kVidIdWithoutRecord, [&] { return json{{"url", text_of(url)}, {"id", id}}; });
            return true;
        }
        if ((index_.flags(at) & RecordIndex::kHasUrl) == 0) return true;
        if (index_.hash(at) != url_hash(url)) {
            findings_.add(kVidUrlMismatch, [&] { return json{{"url", text_of(url)}, {"id", id}}; });
            return true;
        }
        index_.flags(at) |= RecordIndex::kMappedBack;
        return true;
    });
}

void Checker::check_reference(Kind kind, uint32_t id, std::string_view url, const char *name,
                              uint32_t target) {
    if (index_.has_url(target) || newer_than_walk(target)) return;
    findings_.add(kind, [&] { return json{{"id", id}, {"url", text_of(url)}, {name, target}}; });
}

// A record whose URL vid.db does not give its id: either the URL has no
// entry there, or one with another id.
void Checker::explain_unmapped(uint32_t id, std::string_view url) {
    std::string key_text(url);
    DBT key = borrowed_dbt(key_text.c_str(), key_text.size() + 1);
    MallocDbt value;
    const int rc = sto_read(vdb_id, &key, value.get());
    if (rc != 0) {
        findings_.add(kUrlNotInVid, [&] { return json{{"id", id}, {"url", text_of(url)}}; });
        return;
    }
    const uint32_t other =
        value.size() == 4 ? decode_fixed32(static_cast<const uint8_t *>(value.data())) : 0;
    // A value that is no id was reported by the walk of vid.db.
    if (other == id || !vurl_is_record_id(other)) return;
    findings_.add(kUrlWithTwoIds,
                  [&] { return json{{"id", id}, {"url", text_of(url)}, {"vid_id", other}}; });
}

bool Checker::check_references() {
    visited_url_fields f;
    return walk_file(vdb_url, "check: url-visited.db, 3 of 3", db_.last_id(),
                     [&](std::string_view key, std::string_view value) {
        const uint32_t id = record_key_id(key);
        const size_t at = id != 0 ? index_.find(id) : IdIndex::kNone;
        if (at == IdIndex::kNone || (index_.flags(at) & RecordIndex::kHasUrl) == 0) return true;
        // The value was decoded before; a live crawler may have changed it since.
        if (!visited_url_parse(value.data(), value.size(), &f) || f.url.empty()) return true;
        if ((index_.flags(at) & RecordIndex::kMappedBack) == 0) explain_unmapped(id, f.url);
        if (f.has_referer) check_reference(kRefererUnresolved, id, f.url, "referer_id", f.referer_id);
        for (size_t i = 0; i < f.link_id_count; ++i) {
            check_reference(kLinkUnresolved, id, f.url, "link_id", f.link_id(i));
        }
        return true;
    });
}

bool Checker::run() {
    check_metadata();
    return index_records() && check_ids() && check_references();
}

}  // namespace

int run_check(CrawlDb *db, CrawlDb::Opened opened, const CheckOptions &options) {
    auto findings = std::make_unique<Findings>(options.examples);
    int64_t records = 0;
    if (opened == CrawlDb::Opened::kOpen) {
        Checker checker(*db, findings.get());
        if (!checker.run()) return db->read_failure_status();
        records = checker.records();
        // What was read from a damaged file means nothing.
        opened = db->confirm(false);
        if (opened == CrawlDb::Opened::kTrouble) return 2;
    }
    if (opened == CrawlDb::Opened::kDamaged) {
        findings = std::make_unique<Findings>(options.examples);
        records = 0;
        for (const std::string &file : db->damaged()) {
            findings->add(kDamagedFile, [&] { return json{{"file", file}}; });
        }
    }
    if (options.json) {
        findings->print_json(records);
    } else {
        findings->print_text(records);
    }
    return findings->clean() ? 0 : 1;
}
