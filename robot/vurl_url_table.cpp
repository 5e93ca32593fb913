#include "robot/vurl_url_table.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "adt/velhashtable.h"
#include "extra/malloc_ptr.h"
#include "robot/record_walk.h"
#include "robot/coding.h"
#include "robot/id_indirect.h"
#include "robot/vurl_record.h"

namespace {

// Index bytes per id: an offset and a bucket.
constexpr size_t kIndexBytesPerId = sizeof(uint32_t) + sizeof(uint8_t);

uint32_t link_bucket_of(const char *url) {
    return velhashtable_hf_default(url) % static_cast<uint32_t>(kVurlLinkBuckets);
}

// Every URL the walk keeps is a copy of bytes of the file, zero included, so
// the file's size bounds the block. The block is reserved, not written: only
// what is filled takes memory.
size_t url_block_size(const std::string &path, size_t budget_bytes) {
    std::error_code error;
    const uintmax_t file_size = std::filesystem::file_size(path, error);
    if (error) return budget_bytes;
    return static_cast<size_t>(std::min<uintmax_t>(file_size, budget_bytes));
}

}  // namespace

void VisitedUrlTable::build(size_t budget_bytes) {
    if (budget_bytes == 0 || vdb_url == nullptr || vdb_url->db == nullptr) return;
    // Offsets into the block are 32 bits.
    budget_bytes = std::min<size_t>(budget_bytes, UINT32_MAX);
    urls_capacity_ = url_block_size(vdb_url->name, budget_bytes);
    urls_.reset(new char[urls_capacity_]);

    RecordWalk walk(vdb_url);
    std::string_view key;
    std::string_view value;
    while (walk.next(&key, &value)) {
        // Only 4-byte keys are ids; others are never looked up.
        if (key.size() != 4) continue;
        const uint32_t id = decode_fixed32(reinterpret_cast<const uint8_t *>(key.data()));
        std::string_view url;
        if (visited_url_stored_url(value.data(), value.size(), &url) && !url.empty() &&
            !add(id, url, budget_bytes)) {
            // Keys come in id order: everything below id has been seen.
            covered_ = id;
            return;
        }
        covered_ = id == UINT32_MAX ? id : id + 1;
    }
}

bool VisitedUrlTable::add(uint32_t id, std::string_view url, size_t budget_bytes) {
    if (url.size() >= urls_capacity_ - urls_used_) return false;
    if (id >= offsets_.size() && !grow_index(id, budget_bytes)) return false;
    if (memory_used() + url.size() + 1 > budget_bytes) return false;
    char *copy = urls_.get() + urls_used_;
    std::memcpy(copy, url.data(), url.size());
    copy[url.size()] = '\0';
    offsets_[id] = static_cast<uint32_t>(urls_used_);
    buckets_[id] = static_cast<uint8_t>(link_bucket_of(copy));
    urls_used_ += url.size() + 1;
    return true;
}

// Makes room in the index for id, doubling so that a dense walk grows it a
// few times only, and never past what the budget leaves.
bool VisitedUrlTable::grow_index(uint32_t id, size_t budget_bytes) {
    const size_t room = budget_bytes > memory_used() ? budget_bytes - memory_used() : 0;
    const size_t affordable = offsets_.size() + room / kIndexBytesPerId;
    const size_t needed = size_t{id} + 1;
    if (needed > affordable) return false;
    const size_t size = std::min(std::max(needed, offsets_.size() * 2), affordable);
    offsets_.reserve(size);
    buckets_.reserve(size);
    offsets_.resize(size, kAbsent);
    buckets_.resize(size, 0);
    return true;
}

bool VisitedUrlTable::find(uint32_t id, resolved_url *out) {
    if (id >= covered_) return find_in_file(id, out);
    if (id >= offsets_.size() || offsets_[id] == kAbsent) return false;
    const char *url = urls_.get() + offsets_[id];
    out->url = std::string_view(url);
    out->link_bucket = buckets_[id];
    return true;
}

bool VisitedUrlTable::find_in_file(uint32_t id, resolved_url *out) {
    MallocPtr<char> url(visited_url_url_of_id(id));
    if (url == nullptr) return false;
    const std::string &kept = reads_.emplace_back(url.get());
    out->url = kept;
    out->link_bucket = link_bucket_of(kept.c_str());
    return true;
}

void VisitedUrlTable::forget_reads() {
    reads_.clear();
}

size_t VisitedUrlTable::memory_used() const {
    return urls_used_ + offsets_.capacity() * sizeof(uint32_t) + buckets_.capacity();
}
