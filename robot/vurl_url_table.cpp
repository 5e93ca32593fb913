#include "robot/vurl_url_table.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "adt/velhashtable.h"
#include "extra/malloc_ptr.h"
#include "robot/record_walk.h"
#include "robot/coding.h"
#include "robot/id_indirect.h"
#include "robot/vurl_record.h"

namespace {

// Index bytes per id: an offset and a bucket.
constexpr size_t kIndexBytesPerId = sizeof(uint32_t) + sizeof(uint8_t);

// Address space for up to size bytes of URLs, or for less when the system
// will not give that much: reserved, not written, so only what is filled
// takes memory. The file's size is no bound: a crawler's newest pages may be
// in its cache only, and a dump of a live crawl would leave them out.
std::pair<char *, size_t> reserve_url_block(size_t size) {
    for (; size > 0; size /= 2) {
        void *block = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (block != MAP_FAILED) return {static_cast<char *>(block), size};
    }
    return {nullptr, 0};
}

// Each URL in the block is led by its length, seven bits a byte, low bits
// first, the high bit set on all bytes but the last: the printing walk then
// needs no strlen for each link (which was a tenth of its time).
size_t length_size(size_t length) {
    size_t size = 1;
    for (; length >= 0x80; length >>= 7) ++size;
    return size;
}

char *put_length(char *at, size_t length) {
    for (; length >= 0x80; length >>= 7) *at++ = static_cast<char>((length & 0x7f) | 0x80);
    *at++ = static_cast<char>(length);
    return at;
}

// Reads what put_length wrote; the URL that follows.
const char *get_length(const char *at, size_t *length) {
    size_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        value |= size_t{byte & 0x7fu} << shift;
        if ((byte & 0x80) == 0) break;
    }
    *length = value;
    return at;
}

}  // namespace

uint32_t vurl_link_bucket(const char *url) {
    return velhashtable_hf_default(url) % static_cast<uint32_t>(kVurlLinkBuckets);
}

void VisitedUrlTable::build(size_t budget_bytes, const Overflow &overflow) {
    if (budget_bytes == 0 || vdb_url == nullptr || vdb_url->db == nullptr) return;
    // Offsets into the block are 32 bits.
    budget_ = std::min<size_t>(budget_bytes, UINT32_MAX);
    std::tie(urls_, urls_capacity_) = reserve_url_block(budget_);
    if (urls_ == nullptr) return;

    RecordWalk walk(vdb_url);
    std::string_view key;
    std::string_view value;
    while (walk.next(&key, &value)) {
        if (overflowed_) {
            if (!overflow(key, value)) return;
            continue;
        }
        // Only 4-byte keys are ids; others are never looked up.
        if (key.size() != 4) continue;
        const uint32_t id = decode_fixed32(reinterpret_cast<const uint8_t *>(key.data()));
        std::string_view url;
        if (!visited_url_stored_url(value.data(), value.size(), &url) || url.empty() ||
            add(id, url)) {
            covered_ = id == UINT32_MAX ? id : id + 1;
            continue;
        }
        // Keys come in id order: everything below id has been seen.
        covered_ = id;
        overflowed_ = true;
        if (!overflow || !overflow(key, value)) return;
    }
}

void VisitedUrlTable::release() {
    if (urls_ != nullptr) munmap(urls_, urls_capacity_);
    urls_ = nullptr;
    urls_capacity_ = 0;
    urls_used_ = 0;
    std::vector<uint32_t>().swap(offsets_);
    std::vector<uint8_t>().swap(buckets_);
    covered_ = 0;
    reads_.clear();
}

bool VisitedUrlTable::add(uint32_t id, std::string_view url) {
    const size_t stored = length_size(url.size()) + url.size() + 1;
    if (urls_ == nullptr || stored > urls_capacity_ - urls_used_) return false;
    const size_t slot = id;
    if (slot >= offsets_.size() && !grow_index(slot + 1)) return false;
    if (memory_used() + stored > budget_) return false;
    char *at = urls_ + urls_used_;
    char *copy = put_length(at, url.size());
    std::memcpy(copy, url.data(), url.size());
    copy[url.size()] = '\0';
    offsets_[slot] = static_cast<uint32_t>(urls_used_);
    buckets_[slot] = static_cast<uint8_t>(vurl_link_bucket(copy));
    urls_used_ += stored;
    return true;
}

// Makes room in the index for needed slots, doubling so that a dense walk
// grows it a few times only, and never past what the budget leaves.
bool VisitedUrlTable::grow_index(size_t needed) {
    const size_t room = budget_ > memory_used() ? budget_ - memory_used() : 0;
    const size_t affordable = offsets_.capacity() + room / kIndexBytesPerId;
    if (needed > affordable) return false;
    const size_t size = std::min(std::max(needed, offsets_.size() * 2), affordable);
    offsets_.reserve(size);
    buckets_.reserve(size);
    offsets_.resize(size, kAbsent);
    buckets_.resize(size, 0);
    return true;
}

VisitedUrlTable::~VisitedUrlTable() {
    if (urls_ != nullptr) munmap(urls_, urls_capacity_);
}

bool VisitedUrlTable::find(uint32_t id, resolved_url *out) {
    if (id >= covered_) return find_in_file(id, out);
    return find_in_memory(id, out);
}

bool VisitedUrlTable::find_in_memory(uint32_t id, resolved_url *out) const {
    if (id >= covered_) return false;
    const size_t slot = id;
    if (slot >= offsets_.size() || offsets_[slot] == kAbsent) return false;
    size_t length = 0;
    const char *url = get_length(urls_ + offsets_[slot], &length);
    out->url = std::string_view(url, length);
    out->link_bucket = buckets_[slot];
    return true;
}

bool VisitedUrlTable::find_in_file(uint32_t id, resolved_url *out) {
    MallocPtr<char> url(visited_url_url_of_id(id));
    if (url == nullptr) return false;
    const std::string &kept = reads_.emplace_back(url.get());
    out->url = kept;
    out->link_bucket = vurl_link_bucket(kept.c_str());
    return true;
}

void VisitedUrlTable::forget_reads() {
    reads_.clear();
}

size_t VisitedUrlTable::memory_used() const {
    return urls_used_ + offsets_.capacity() * sizeof(uint32_t) + buckets_.capacity();
}
