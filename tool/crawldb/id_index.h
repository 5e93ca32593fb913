// Positions of the record ids of url-visited.db, learnt in one walk of the
// file, so that arrays of a few bytes a record can be indexed by id.
//
// Ids come in ascending order and take positions 0, 1, 2, ... While they
// run 1, 2, 3 without a gap (a crawler hands them out so) nothing is stored:
// id n is at position n - 1. The first gap makes the index keep every id,
// 4 bytes a record.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_ID_INDEX_H_
#define CRAWLPEEK_TOOL_CRAWLDB_ID_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <vector>

class IdIndex {
  public:
    static constexpr size_t kNone = SIZE_MAX;

    // Takes the next id, which must be above every id taken before; its
    // position.
    size_t add(uint32_t id);
    // The position of id; kNone when it was not taken.
    size_t find(uint32_t id) const;
    // The id at a position below size().
    uint32_t id_at(size_t position) const {
        return dense_ ? static_cast<uint32_t>(position + 1) : ids_[position];
    }
    size_t size() const { return count_; }
    // The highest id taken; 0 before the first.
    uint32_t last() const { return count_ == 0 ? 0 : id_at(count_ - 1); }

  private:
    size_t count_ = 0;
    bool dense_ = true;          // the ids taken are 1 to count_
    std::vector<uint32_t> ids_;  // every id, once dense_ is false
};

#endif  // CRAWLPEEK_TOOL_CRAWLDB_ID_INDEX_H_
