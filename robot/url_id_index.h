// An exact map, in memory, from vid.db's keys to the record ids they name,
// so that the crawler can look up the URLs of its links without a B-tree
// search each.
//
// The index holds keys exactly as vid.db stores them (a URL with its zero
// byte, or any other bytes damage left) and the id each names. While it is
// complete it holds every key of vid.db whose value is a record id, so that
// a key it lacks is known to have none; once it is not (its memory budget is
// spent, or a write it mirrors failed), a key it lacks must be looked up in
// the file. A key it holds always names the id vid.db holds.
//
// Memory: each key costs its bytes, a 4-byte length and a 16-byte slot of a
// table kept at most three quarters full (so 21 to 43 bytes a key besides
// its bytes). The budget covers the table being doubled, when the old and the
// new table are both held for a moment.
//
// Keys are placed by a keyed hash with a secret key of each index: the URLs
// of the web being crawled cannot be chosen to collide.
//
// Not thread-safe: its owner serialises every call (the visited-URL lock).
#ifndef CRAWLPEEK_ROBOT_URL_ID_INDEX_H_
#define CRAWLPEEK_ROBOT_URL_ID_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class UrlIdIndex {
  public:
    // What find knows of a key.
    enum class Answer {
        kId,       // the key names *id
        kAbsent,   // vid.db has no id for the key
        kUnknown,  // the index cannot tell: look in the file
    };

    // An empty, complete index (the index of an empty file) that takes at
    // most budget_bytes.
    explicit UrlIdIndex(size_t budget_bytes);
    UrlIdIndex(const UrlIdIndex &) = delete;
    UrlIdIndex &operator=(const UrlIdIndex &) = delete;

    Answer find(std::string_view key, uint32_t *id) const;

    // Records that vid.db now maps key to id, a record id (nonzero): added,
    // or the id replaced for a key already held. When the budget has no room
    // for a new key, nothing is added and the index is no longer complete.
    void put(std::string_view key, uint32_t id);

    // Records that vid.db holds key without an id (a value that is none, or
    // no value): a key held is then found absent.
    void forget(std::string_view key);

    // From now on a key the index lacks may still be in the file.
    void mark_incomplete() { complete_ = false; }
    bool complete() const { return complete_; }

    size_t size() const { return count_; }
    // The bytes held: keys, their lengths and the table.
    size_t memory_used() const { return arena_bytes_ + slots_.size() * sizeof(Slot); }

  private:
    // The id of a slot whose key names none.
    static constexpr uint32_t kNoId = UINT32_MAX;

    struct Slot {
        uint32_t tag = 0;  // high bits of the key's hash, which also place the slot
        uint32_t id = 0;   // 0: the slot is empty; kNoId: the key names no id
        uint64_t ref = 0;  // where the key lies: block index << 32 | offset
    };

    uint64_t hash(std::string_view key) const;
    std::string_view key_at(uint64_t ref) const;
    // The slot holding key, or the empty slot where it belongs.
    size_t probe(std::string_view key, uint64_t h) const;
    // Whether the budget has room for a new key of size bytes; the table is
    // grown here when it must be. Throws std::bad_alloc.
    bool make_room(size_t size);
    void grow_table();
    size_t next_block_size(size_t entry) const;
    uint64_t store_key(std::string_view key);

    // The key of the keyed hash, drawn at random for each index, so that no
    // web can choose URLs that crowd one part of the table.
    uint8_t hash_key_[16] = {};
    size_t budget_;
    bool complete_ = true;
    size_t count_ = 0;
    std::vector<Slot> slots_;
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t block_used_ = 0;  // bytes used in the last block
    size_t block_size_ = 0;  // size of the last block
    size_t arena_bytes_ = 0;
};

#endif  // CRAWLPEEK_ROBOT_URL_ID_INDEX_H_
