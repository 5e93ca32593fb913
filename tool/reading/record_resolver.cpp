// The decoder's link table keeps each link at the tail of bucket hash(link)
// modulo its bucket count and is walked bucket by bucket, so ordering the
// resolved links by bucket, stably, gives its order.
#include "tool/reading/record_resolver.h"

#include <algorithm>

RecordResolver::RecordResolver(size_t budget_bytes, bool past_budget) {
    if (!past_budget) {
        table_.build(budget_bytes);
        return;
    }
    TempFile urls;
    table_.build(budget_bytes, [&urls](uint32_t id, std::string_view url) {
        SpilledRanges::add_url(urls, id, url);
    });
    if (table_.overflowed()) spilled_ = std::make_unique<SpilledRanges>(&table_, urls);
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
