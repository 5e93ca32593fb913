// A walk of a storage object's whole file in batches.
//
// The walk has a cursor of its own and asks Berkeley DB for many records per
// call, copied into one buffer it owns, so reading the file front to back
// costs one call and no allocation per record. It does not touch the
// object's own cursor, and takes no lock: callers serialise the object as for
// its slots.
#ifndef CRAWLPEEK_ROBOT_BULK_CURSOR_H_
#define CRAWLPEEK_ROBOT_BULK_CURSOR_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "robot/storage_object.h"

class BulkCursor {
  public:
    // A walk from the first record of obj's file, which must stay open while
    // the walk is used. A null or closed object gives a walk that has failed.
    explicit BulkCursor(storage_object *obj, size_t batch_bytes = kDefaultBatchBytes);
    BulkCursor(const BulkCursor &) = delete;
    BulkCursor &operator=(const BulkCursor &) = delete;

    // The next record in key order. Its bytes stay valid until the next call.
    // False at the end of the file and on a read error.
    bool next(std::string_view *key, std::string_view *value);

    // Whether the walk stopped on an error rather than at the end.
    bool failed() const { return failed_; }

    static constexpr size_t kDefaultBatchBytes = 1 << 20;

  private:
    bool fetch_batch();
    bool take_from_batch(std::string_view *key, std::string_view *value);

    std::unique_ptr<DBC, storage::CloseCursor> cursor_;
    std::vector<uint32_t> buffer_;  // words, so that the batch's index is aligned
    uint32_t batch_size_ = 0;       // bytes of the buffer holding the current batch
    size_t index_word_ = 0;         // the batch's next index entry, while in_batch_
    bool in_batch_ = false;
    bool at_end_ = false;
    bool failed_ = false;
};

#endif  // CRAWLPEEK_ROBOT_BULK_CURSOR_H_
