#include "tool/crawldb/export_records.h"

#include <db.h>
#include <regex.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string_view>
#include <vector>

#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_record.h"
#include "tool/crawldb/file_walk.h"
#include "tool/crawldb/progress.h"
#include "tool/crawldb/text_out.h"
#include "tool/crawldb/url_host.h"
#include "tool/reading/last_process_time.h"
#include "tool/reading/record_resolver.h"

namespace {

// The table of URLs that export resolves links through is held to a fixed
// size, documented in crawldb(1), so that an export takes the same memory on
// every machine.
constexpr size_t kUrlTableBudget = size_t{256} << 20;

// A compiled regex, freed when it goes.
class Regex {
  public:
    // Compiles pattern; error() tells whether that failed.
    explicit Regex(const std::string &pattern) {
        error_ = regcomp(&regex_, pattern.c_str(), REG_EXTENDED | REG_NOSUB);
    }
    ~Regex() {
        if (error_ == 0) regfree(&regex_);
    }
    Regex(const Regex &) = delete;
    Regex &operator=(const Regex &) = delete;

    // Regcomp's message for the failure; empty when it compiled.
    std::string error() const {
        if (error_ == 0) return std::string();
        char text[256];
        regerror(error_, &regex_, text, sizeof text);
        return text;
    }
    bool matches(const std::string &text) const {
        return regexec(&regex_, text.c_str(), 0, nullptr, 0) == 0;
    }

  private:
    regex_t regex_{};
    int error_ = 0;
};

// The names of the columns, in order; referer and links only with links.
constexpr const char *kLeadingFields[] = {"id", "url", "referer_id", "referer"};
constexpr const char *kRecordFields[] = {"progress_status", "server_status", "depth_countdown",
                                         "md5",             "database",      "last_processed",
                                         "last_visited",    "last_modified", "rd_expires"};
// With links, the links that have a record, as crawlpeek counts them; without,
// the ids stored, some of which may name no record: a number of another name.
constexpr const char *kResolvedCount = "link_count";
constexpr const char *kStoredCount = "link_ids";
// The last column: whether the line's URLs are written with kEscaped.
constexpr const char *kEscapedField = "escaped";

class Exporter {
  public:
    Exporter(const ExportOptions &options, std::unique_ptr<Regex> regex)
        : options_(options), regex_(std::move(regex)) {
        // A prefix asks for few records: their ids are read one by one rather
        // than from a table of every URL.
        if (options.links) resolver_.emplace(options.prefix ? 0 : kUrlTableBudget);
        if (options.tsv) write_header();
    }

    // Writes the record when it passes the filters; false once the limit is
    // reached.
    bool offer(uint32_t id, std::string_view value);
    uint64_t written() const { return written_; }
    uint64_t undecodable() const { return undecodable_; }

  private:
    bool passes(const visited_url_fields &f);
    void write_header();
    void write_json(uint32_t id, const visited_url_fields &f);
    void write_tsv(uint32_t id, const visited_url_fields &f);
    void append_time(std::string *out, uint32_t t, bool tsv);
    BadBytes url_escaping(const visited_url_fields &f) const;
    const char *count_name() const { return resolver_ ? kResolvedCount : kStoredCount; }
    int64_t link_number(const visited_url_fields &f) const {
        return static_cast<int64_t>(resolver_ ? resolver_->links().size() : f.link_id_count);
    }

    const ExportOptions &options_;
    std::unique_ptr<Regex> regex_;
    std::optional<RecordResolver> resolver_;
    Output output_;
    std::string url_;  // the URL as a C string, for the regex
    uint64_t written_ = 0;
    uint64_t undecodable_ = 0;
};

bool Exporter::passes(const visited_url_fields &f) {
    const ExportOptions &o = options_;
    if (o.server_status && !o.server_status->contains(f.server_status)) return false;
    if (o.progress_status && !o.progress_status->contains(f.progress_status)) return false;
    // A record never visited has no date to compare.
    if ((o.since || o.until) && f.last_visited == 0) return false;
    if (o.since && f.last_visited < *o.since) return false;
    if (o.until && f.last_visited > *o.until) return false;
    if (o.prefix && !f.url.starts_with(*o.prefix)) return false;
    if (o.host && url_host(f.url) != *o.host) return false;
    if (regex_ != nullptr) {
        url_.assign(f.url);
        if (!regex_->matches(url_)) return false;
    }
    return true;
}

bool Exporter::offer(uint32_t id, std::string_view value) {
    if (options_.limit && written_ >= *options_.limit) return false;
    visited_url_fields fields;
    if (!visited_url_parse(value.data(), value.size(), &fields) || fields.url.empty()) {
        ++undecodable_;
        return true;
    }
    if (is_last_process_time(fields.url) || !passes(fields)) return true;
    if (resolver_) resolver_->resolve(fields);
    if (options_.tsv) {
        write_tsv(id, fields);
    } else {
        write_json(id, fields);
    }
    ++written_;
    return !options_.limit || written_ < *options_.limit;
}

void Exporter::append_time(std::string *out, uint32_t t, bool tsv) {
    if (!options_.iso_times) {
        append_json_number(out, t);
        return;
    }
    const std::string text = t != 0 ? utc_time(t, "%Y-%m-%dT%H:%M:%SZ") : std::string();
    if (tsv) {
        out->append(text);
    } else {
        append_json_string(out, text, BadBytes::kReplacement);
    }
}

// A URL that kPercent would write as another URL could be written (a bad
// byte, or in TSV a space or control character, beside a literal "%XX")
// makes the whole line escaped: every URL of it with kEscaped, which a
// reader undoes by decoding every %XX.
BadBytes Exporter::url_escaping(const visited_url_fields &f) const {
    const bool json = !options_.tsv;
    bool needed = url_needs_escaping(f.url, json);
    if (resolver_ && !needed) {
        needed = resolver_->referer() && url_needs_escaping(*resolver_->referer(), json);
        for (std::string_view link : resolver_->links()) {
            if (needed) break;
            needed = url_needs_escaping(link, json);
        }
    }
    return needed ? BadBytes::kEscaped : BadBytes::kPercent;
}

void Exporter::write_json(uint32_t id, const visited_url_fields &f) {
    const BadBytes urls = url_escaping(f);
    {
        JsonObject object(output_.buffer());
        object.number("id", id).text("url", f.url, urls);
        if (f.has_referer) {
            object.number("referer_id", f.referer_id);
        } else {
            object.null("referer_id");
        }
        if (resolver_) {
            if (resolver_->referer()) {
                object.text("referer", *resolver_->referer(), urls);
            } else {
                object.null("referer");
            }
        }
        object.number("progress_status", f.progress_status)
            .number("server_status", f.server_status)
            .number("depth_countdown", f.depth_countdown)
            .text("md5", f.md5, BadBytes::kReplacement);
        if (f.database.empty()) {
            object.null("database");
        } else {
            object.text("database", f.database, BadBytes::kEscaped);
        }
        const std::pair<const char *, uint32_t> times[] = {{"last_processed", f.last_processed},
                                                           {"last_visited", f.last_visited},
                                                           {"last_modified", f.last_modified},
                                                           {"rd_expires", f.rd_expires}};
        for (const auto &[name, t] : times) append_time(object.key(name), t, false);
        object.number(count_name(), link_number(f));
        if (resolver_) {
            std::string *links = object.key("links");
            links->push_back('[');
            for (std::string_view link : resolver_->links()) {
                if (links->back() != '[') links->push_back(',');
                append_json_string(links, link, urls);
            }
            links->push_back(']');
        }
        object.key(kEscapedField)->append(urls == BadBytes::kEscaped ? "true" : "false");
    }
    output_.end_line();
}

void Exporter::write_header() {
    std::string header;
    for (const char *name : kLeadingFields) {
        if (!options_.links && std::string_view(name) == "referer") continue;
        header.append(name).push_back('\t');
    }
    for (const char *name : kRecordFields) header.append(name).push_back('\t');
    header.append(count_name()).push_back('\t');
    if (options_.links) header.append("links").push_back('\t');
    header.append(kEscapedField);
    output_.buffer()->append(header);
    output_.end_line();
}

void Exporter::write_tsv(uint32_t id, const visited_url_fields &f) {
    const BadBytes urls = url_escaping(f);
    std::string *out = output_.buffer();
    auto tab = [out] { out->push_back('\t'); };
    append_json_number(out, id);
    tab();
    append_tsv_field(out, f.url, urls);
    tab();
    if (f.has_referer) append_json_number(out, f.referer_id);
    if (resolver_) {
        tab();
        if (resolver_->referer()) append_tsv_field(out, *resolver_->referer(), urls);
    }
    for (int32_t number : {f.progress_status, f.server_status, f.depth_countdown}) {
        tab();
        append_json_number(out, number);
    }
    tab();
    append_tsv_field(out, f.md5, BadBytes::kReplacement);
    tab();
    append_tsv_field(out, f.database, BadBytes::kEscaped);
    for (uint32_t t : {f.last_processed, f.last_visited, f.last_modified, f.rd_expires}) {
        tab();
        append_time(out, t, true);
    }
    tab();
    append_json_number(out, link_number(f));
    if (resolver_) {
        tab();
        bool first = true;
        for (std::string_view link : resolver_->links()) {
            if (!first) out->push_back(' ');
            first = false;
            append_tsv_field(out, link, urls);
        }
    }
    tab();
    out->append(urls == BadBytes::kEscaped ? "true" : "false");
    output_.end_line();
}

// The ids of the URLs that start with prefix, by a range scan of vid.db, in
// id order. False on a read error (reported).
bool ids_with_prefix(const std::string &prefix, std::vector<uint32_t> *ids) {
    const bool read = scan_prefix(vdb_id, prefix, [ids](std::string_view key, std::string_view value) {
        const DBT key_dbt = borrowed_dbt(key.data(), key.size());
        if (vurl_is_meta_key(&key_dbt) || value.size() != 4) return;
        const uint32_t id = decode_fixed32(reinterpret_cast<const uint8_t *>(value.data()));
        if (vurl_names_stored_record(id)) ids->push_back(id);
    });
    if (!read) return false;
    std::sort(ids->begin(), ids->end());
    ids->erase(std::unique(ids->begin(), ids->end()), ids->end());
    return true;
}

// Offers the records of the ids found through the prefix; false on a read
// error (reported).
bool export_by_prefix(const std::string &prefix, Exporter *exporter) {
    std::vector<uint32_t> ids;
    if (!ids_with_prefix(prefix, &ids)) return false;
    Progress progress("export", ids.size());
    for (uint32_t id : ids) {
        progress.step();
        uint8_t key_bytes[4];
        encode_fixed32(key_bytes, id);
        DBT key = borrowed_dbt(key_bytes, sizeof key_bytes);
        MallocDbt value;
        const int rc = sto_read(vdb_url, &key, value.get());
        if (rc == DB_NOTFOUND) continue;
        if (rc != 0) {
            crawldb_error("reading %s: %s", vdb_url->name.c_str(), db_strerror(rc));
            return false;
        }
        const std::string_view bytes(static_cast<const char *>(value.data()), value.size());
        if (!exporter->offer(id, bytes)) break;
    }
    return true;
}

// Offers every record, in the order of the file; false on a read error
// (reported).
bool export_all(const CrawlDb &db, Exporter *exporter) {
    return walk_file(vdb_url, "export", db.last_id(),
                     [exporter](std::string_view key, std::string_view value) {
                         const uint32_t id = record_key_id(key);
                         return id == 0 || exporter->offer(id, value);
                     });
}

}  // namespace

int run_export(CrawlDb *db, const ExportOptions &options) {
    std::unique_ptr<Regex> regex;
    if (options.match) {
        regex = std::make_unique<Regex>(*options.match);
        if (!regex->error().empty()) {
            crawldb_error("--match %s: %s", options.match->c_str(), regex->error().c_str());
            return 2;
        }
    }
    uint64_t written = 0;
    bool read = false;
    {
        Exporter exporter(options, std::move(regex));
        read = options.prefix ? export_by_prefix(*options.prefix, &exporter)
                              : export_all(*db, &exporter);
        written = exporter.written();
        if (exporter.undecodable() != 0) {
            crawldb_error("%llu records cannot be decoded, skipped",
                          static_cast<unsigned long long>(exporter.undecodable()));
        }
    }
    std::fflush(stdout);
    if (!read) return db->read_failure_status();
    if (db->confirm() != CrawlDb::Opened::kOpen) return 2;
    return written != 0 ? 0 : 1;
}
