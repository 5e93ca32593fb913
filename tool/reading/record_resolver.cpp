// The decoder's link table keeps each link at the tail of bucket hash(link)
// modulo its bucket count and is walked bucket by bucket, so ordering the
// resolved links by bucket, stably, gives its order.
#include "tool/reading/record_resolver.h"

#include <sys/stat.h>

#include <algorithm>

#include "robot/vurl_db.h"

namespace {

uint64_t record_file_size() {
    struct stat st;
    return stat(visited_url_record_path().c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size)
                                                             : 0;
}

}  // namespace

RecordResolver::RecordResolver(size_t budget_bytes, bool past_budget) {
    if (!past_budget) {
        table_.build(budget_bytes);
        return;
    }
    auto spilled = std::make_unique<SpilledRanges>(budget_bytes, record_file_size());
    table_.build(budget_bytes, [&spilled](std::string_view key, std::string_view value) {
        return spilled->take_record(key, value);
    });
    if (!table_.overflowed()) return;
    spilled->resolve(&table_);
    spilled_ = std::move(spilled);
}

RecordResolver::~RecordResolver() = default;

// What the passes past the budget found first; the table, and the file
// through it, for the rest.
bool RecordResolver::find(uint32_t position, uint32_t id, resolved_url *out) {
    if (spilled_ != nullptr && spilled_->find(position, id, out)) return true;
    return table_.find(id, out);
}

void RecordResolver::resolve(const visited_url_fields &fields, std::string_view key) {
    table_.forget_reads();
    if (spilled_ != nullptr) spilled_->start_record(key);
    // The URL as a C string is needed only for a log line, which is rare.
    auto url = [&]() -> const char * {
        if (fields.url.empty()) return nullptr;
        url_.assign(fields.url);
        return url_.c_str();
    };
    referer_.reset();
    resolved_url found;
    if (fields.has_referer) {
        if (find(0, fields.referer_id, &found)) {
            referer_ = found.url;
        } else {
            visited_url_log_missing_referer(fields.referer_id, url());
        }
    }
    found_.clear();
    for (size_t i = 0; i < fields.link_id_count; ++i) {
        const uint32_t id = fields.link_id(i);
        if (find(static_cast<uint32_t>(i) + 1, id, &found)) {
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
}
