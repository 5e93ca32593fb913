#include "robot/url_id_index.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <sodium.h>

namespace {

constexpr size_t kInitialSlots = 1024;
constexpr size_t kMaxSlots = size_t{1} << 32;
// Blocks of keys start small, so that a small budget holds some, and double
// up to the largest size.
constexpr size_t kFirstBlock = 64 << 10;
constexpr size_t kBlockSize = 1 << 20;
constexpr size_t kLengthSize = 4;

}  // namespace

UrlIdIndex::UrlIdIndex(size_t budget_bytes) : budget_(budget_bytes) {
    static_assert(sizeof hash_key_ == crypto_shorthash_KEYBYTES);
    // Without the library's own start-up, a key of fixed bytes still hashes
    // rightly; it only loses its secret.
    if (sodium_init() >= 0) randombytes_buf(hash_key_, sizeof hash_key_);
}

uint64_t UrlIdIndex::hash(std::string_view key) const {
    static_assert(crypto_shorthash_BYTES == sizeof(uint64_t));
    uint8_t out[crypto_shorthash_BYTES];
    crypto_shorthash(out, reinterpret_cast<const unsigned char *>(key.data()), key.size(),
                     hash_key_);
    uint64_t h = 0;
    std::memcpy(&h, out, sizeof h);
    return h;
}

std::string_view UrlIdIndex::key_at(uint64_t ref) const {
    const char *at = blocks_[ref >> 32].get() + (ref & 0xffffffffu);
    uint32_t size = 0;
    std::memcpy(&size, at, kLengthSize);
    return std::string_view(at + kLengthSize, size);
}

size_t UrlIdIndex::probe(std::string_view key, uint64_t h) const {
    const size_t mask = slots_.size() - 1;
    const auto tag = static_cast<uint32_t>(h >> 32);
    for (size_t i = tag & mask;; i = (i + 1) & mask) {
        const Slot &slot = slots_[i];
        if (slot.id == 0 || (slot.tag == tag && key_at(slot.ref) == key)) return i;
    }
}

UrlIdIndex::Answer UrlIdIndex::find(std::string_view key, uint32_t *id) const {
    if (count_ != 0) {
        const Slot &slot = slots_[probe(key, hash(key))];
        if (slot.id == kNoId) return Answer::kAbsent;
        if (slot.id != 0) {
            *id = slot.id;
            return Answer::kId;
        }
    }
    return complete_ ? Answer::kAbsent : Answer::kUnknown;
}

void UrlIdIndex::put(std::string_view key, uint32_t id) {
    const uint64_t h = hash(key);
    if (count_ != 0) {
        Slot &held = slots_[probe(key, h)];
        if (held.id != 0) {
            held.id = id;
            return;
        }
    }
    // Memory refused by the system is treated as a spent budget.
    try {
        if (complete_ && make_room(key.size())) {
            const uint64_t ref = store_key(key);
            Slot &slot = slots_[probe(key, h)];
            slot.tag = static_cast<uint32_t>(h >> 32);
            slot.id = id;
            slot.ref = ref;
            ++count_;
            return;
        }
    } catch (const std::bad_alloc &) {
    }
    complete_ = false;
}

void UrlIdIndex::forget(std::string_view key) {
    if (count_ == 0) return;
    Slot &held = slots_[probe(key, hash(key))];
    if (held.id != 0) held.id = kNoId;
}

bool UrlIdIndex::make_room(size_t size) {
    // A key too long for its length field, or for a block offset, is never
    // held; the index then stops claiming that it knows every key.
    if (size > UINT32_MAX - kLengthSize) return false;
    const size_t entry = kLengthSize + size;
    const size_t new_block = block_used_ + entry > block_size_ ? next_block_size(entry) : 0;
    const bool grows = (count_ + 1) * 4 > slots_.size() * 3;
    // A place is drawn from a 32-bit tag: the table stops at 2^32 slots.
    if (grows && slots_.size() >= kMaxSlots) return false;
    const size_t table = slots_.size() * sizeof(Slot);
    const size_t grown = grows ? std::max(kInitialSlots * sizeof(Slot), 2 * table) : 0;
    // While the table is doubled, both tables are held.
    if (arena_bytes_ + new_block + table + grown > budget_) return false;
    if (grows) grow_table();
    return true;
}

void UrlIdIndex::grow_table() {
    std::vector<Slot> grown(slots_.empty() ? kInitialSlots : 2 * slots_.size());
    const size_t mask = grown.size() - 1;
    // A slot's place follows from its tag alone: no key is read or hashed.
    for (const Slot &slot : slots_) {
        if (slot.id == 0) continue;
        size_t i = slot.tag & mask;
        while (grown[i].id != 0) i = (i + 1) & mask;
        grown[i] = slot;
    }
    slots_.swap(grown);
}

size_t UrlIdIndex::next_block_size(size_t entry) const {
    return std::max(entry, std::clamp(arena_bytes_, kFirstBlock, kBlockSize));
}

uint64_t UrlIdIndex::store_key(std::string_view key) {
    const size_t entry = kLengthSize + key.size();
    if (blocks_.empty() || block_used_ + entry > block_size_) {
        block_size_ = next_block_size(entry);
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(block_size_));
        arena_bytes_ += block_size_;
        block_used_ = 0;
    }
    char *at = blocks_.back().get() + block_used_;
    const auto size = static_cast<uint32_t>(key.size());
    std::memcpy(at, &size, kLengthSize);
    std::memcpy(at + kLengthSize, key.data(), key.size());
    const uint64_t ref = (static_cast<uint64_t>(blocks_.size() - 1) << 32) | block_used_;
    block_used_ += entry;
    return ref;
}
