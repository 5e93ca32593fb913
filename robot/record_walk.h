// A walk of a storage object's whole file, front to back.
//
// The walk has a cursor of its own and reads each record into two buffers it
// owns and reuses, so reading a file costs no allocation per record. It does
// not touch the object's own cursor, and takes no lock: callers serialise the
// object as for its slots.
//
// Records are read one at a time rather than in Berkeley DB's multi-record
// batches: the batch copy trusts the page's item offsets, and on a damaged
// page it reads outside the file instead of reporting the damage.
//
// Keys come in strictly ascending byte order, each record once. A file that
// another process writes meanwhile can move records under the cursor (the
// environment has no locks to stop it); when the cursor then gives a key not
// above the last one, the walk finds its place again by a search for the
// first key above it. A file whose search cannot get past a key ends the
// walk with DB_VERIFY_BAD, so a cycle among damaged pages does not loop.
//
// A file read from its pages on disk (sto_read_pages) is walked through them,
// with the same promises.
#ifndef CRAWLPEEK_ROBOT_RECORD_WALK_H_
#define CRAWLPEEK_ROBOT_RECORD_WALK_H_

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "robot/page_snapshot.h"
#include "robot/storage_object.h"

class RecordWalk {
  public:
    // A walk from the first record of obj's file whose key is not below from,
    // The file must stay open while the walk is used. A null or closed object
    // gives a walk that has failed.
    explicit RecordWalk(storage_object *obj, std::string_view from = {});
    RecordWalk(const RecordWalk &) = delete;
    RecordWalk &operator=(const RecordWalk &) = delete;

    // The next record in key order. Its bytes stay valid until the next call.
    // False at the end of the file and on a read error.
    bool next(std::string_view *key, std::string_view *value);

    // Berkeley DB's code for the error that stopped the walk; 0 while none did.
    int error() const { return error_; }

  private:
    // Reads the record at the cursor after moving it by flag (DB_NEXT, or
    // DB_SET_RANGE from the key in the key buffer); Berkeley DB's result.
    int read(uint32_t flag);
    // Whether the record read last comes after the one returned before.
    bool after_last() const;

    // Reading from the file's pages: the cursor on them, else null.
    std::unique_ptr<PageSnapshot::Cursor> pages_;
    storage::CursorPtr cursor_;
    std::vector<char> key_buffer_;
    std::vector<char> value_buffer_;
    uint32_t key_size_ = 0;
    uint32_t value_size_ = 0;
    std::vector<char> last_key_;
    std::optional<int> first_read_;  // the result of a read made by the constructor
    bool started_ = false;
    bool at_end_ = false;
    int error_ = 0;
};

#endif  // CRAWLPEEK_ROBOT_RECORD_WALK_H_
