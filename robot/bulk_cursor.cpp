#include "robot/bulk_cursor.h"

namespace {

// A batch ends its index with this word.
constexpr uint32_t kIndexEnd = UINT32_MAX;
// Each index entry: key offset, key length, value offset, value length.
constexpr size_t kEntryWords = 4;

size_t words_for(size_t bytes) {
    return (bytes + sizeof(uint32_t) - 1) / sizeof(uint32_t);
}

}  // namespace

BulkCursor::BulkCursor(storage_object *obj, size_t batch_bytes)
    : buffer_(words_for(batch_bytes < 4096 ? 4096 : batch_bytes)) {
    DBC *cursor = nullptr;
    if (obj == nullptr || obj->db == nullptr ||
        obj->db->cursor(obj->db.get(), nullptr, &cursor, 0) != 0) {
        failed_ = true;
        return;
    }
    cursor_.reset(cursor);
}

bool BulkCursor::next(std::string_view *key, std::string_view *value) {
    for (;;) {
        if (in_batch_) {
            if (take_from_batch(key, value)) return true;
            if (failed_) return false;
        }
        if (at_end_ || failed_ || !fetch_batch()) return false;
    }
}

bool BulkCursor::fetch_batch() {
    for (;;) {
        DBT key{};
        DBT batch{};
        batch.data = buffer_.data();
        batch.ulen = static_cast<uint32_t>(buffer_.size() * sizeof(uint32_t));
        batch.flags = DB_DBT_USERMEM;
        int ret = cursor_->get(cursor_.get(), &key, &batch, DB_MULTIPLE_KEY | DB_NEXT);
        if (ret == DB_BUFFER_SMALL) {
            // One record is larger than the buffer; batch.size says how large.
            buffer_.assign(words_for(static_cast<size_t>(batch.size) * 2), 0);
            continue;
        }
        if (ret == DB_NOTFOUND) {
            at_end_ = true;
            return false;
        }
        if (ret != 0) {
            failed_ = true;
            return false;
        }
        batch_size_ = batch.ulen;
        index_word_ = buffer_.size() - 1;
        in_batch_ = true;
        return true;
    }
}

// Reads the entry at index_word_ and steps to the one before it; the index
// runs from the end of the buffer towards its start. Every offset and length
// is checked against the batch before it is used.
bool BulkCursor::take_from_batch(std::string_view *key, std::string_view *value) {
    in_batch_ = false;
    if (buffer_[index_word_] == kIndexEnd) return false;
    if (index_word_ < kEntryWords) {
        failed_ = true;
        return false;
    }
    const uint32_t *entry = &buffer_[index_word_];
    const char *base = reinterpret_cast<const char *>(buffer_.data());
    const uint64_t limit = batch_size_;
    const uint32_t key_off = entry[0], key_len = entry[-1];
    const uint32_t value_off = entry[-2], value_len = entry[-3];
    if (uint64_t{key_off} + key_len > limit || uint64_t{value_off} + value_len > limit) {
        failed_ = true;
        return false;
    }
    *key = std::string_view(base + key_off, key_len);
    *value = std::string_view(base + value_off, value_len);
    index_word_ -= kEntryWords;
    in_batch_ = true;
    return true;
}
