// The decoder's link table keeps each link at the tail of bucket hash(link)
// modulo its bucket count and is walked bucket by bucket, so ordering the
// resolved links by bucket, stably, gives its order.
#include "tool/record_resolver.h"

#include <algorithm>

void RecordResolver::resolve(const visited_url_fields &fields) {
    table_.forget_reads();
    // The URL as a C string is needed only for a log line, which is rare.
    auto url = [&]() -> const char * {
        if (fields.url.empty()) return nullptr;
        url_.assign(fields.url);
        return url_.c_str();
    };
    referer_.reset();
    resolved_url found;
    if (fields.has_referer) {
        if (table_.find(fields.referer_id, &found)) {
            referer_ = found.url;
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
}
