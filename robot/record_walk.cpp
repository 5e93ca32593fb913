#include "robot/record_walk.h"

#include <algorithm>

#include "robot/robot_db_env.h"

namespace {

constexpr size_t kInitialBufferSize = 4096;

DBT user_memory(std::vector<char> &buffer) {
    DBT dbt{};
    dbt.data = buffer.data();
    dbt.ulen = static_cast<uint32_t>(buffer.size());
    dbt.flags = DB_DBT_USERMEM;
    return dbt;
}

}  // namespace

RecordWalk::RecordWalk(storage_object *obj, std::string_view from)
    : key_buffer_(kInitialBufferSize), value_buffer_(kInitialBufferSize) {
    if (const PageSnapshot *snapshot = sto_page_snapshot(obj)) {
        pages_ = std::make_unique<PageSnapshot::Cursor>(snapshot);
        pages_->seek(from);
        return;
    }
    cursor_ = sto_open_cursor(obj, &error_);
    if (cursor_ == nullptr || from.empty()) return;
    // Positioned on the record before the first one wanted would do, but
    // there may be none; so the first is read now and handed out first.
    last_key_.assign(from.begin(), from.end());
    if (key_buffer_.size() < from.size()) key_buffer_.resize(from.size());
    std::copy(from.begin(), from.end(), key_buffer_.begin());
    first_read_ = read(DB_SET_RANGE);
}

int RecordWalk::read(uint32_t flag) {
    for (;;) {
        DBT k = user_memory(key_buffer_);
        DBT v = user_memory(value_buffer_);
        if (flag == DB_SET_RANGE) k.size = static_cast<uint32_t>(last_key_.size());
        DBC *cursor = cursor_.get();
        const int ret = robot_db_call([&] { return cursor->get(cursor, &k, &v, flag); });
        if (ret == DB_BUFFER_SMALL) {
            // The cursor has not moved; the sizes say what the record needs.
            if (k.size > key_buffer_.size()) key_buffer_.resize(k.size);
            if (v.size > value_buffer_.size()) value_buffer_.resize(v.size);
            continue;
        }
        key_size_ = k.size;
        value_size_ = v.size;
        return ret;
    }
}

bool RecordWalk::after_last() const {
    if (!started_) return true;
    const std::string_view key(key_buffer_.data(), key_size_);
    return key > std::string_view(last_key_.data(), last_key_.size());
}

bool RecordWalk::next(std::string_view *key, std::string_view *value) {
    if (at_end_ || error_ != 0) return false;
    if (pages_ != nullptr) {
        at_end_ = !pages_->next(key, value);
        return !at_end_;
    }
    // Evaluated only without a first read: read moves the cursor.
    int ret = first_read_ ? *first_read_ : read(DB_NEXT);
    first_read_.reset();
    if (ret == 0 && !after_last()) {
        std::copy(last_key_.begin(), last_key_.end(), key_buffer_.begin());
        ret = read(DB_SET_RANGE);
        if (ret == 0 && !after_last()) ret = read(DB_NEXT);
        if (ret == 0 && !after_last()) ret = DB_VERIFY_BAD;
    }
    if (ret == DB_NOTFOUND) {
        at_end_ = true;
        return false;
    }
    if (ret != 0) {
        error_ = ret;
        return false;
    }
    last_key_.assign(key_buffer_.begin(), key_buffer_.begin() + key_size_);
    started_ = true;
    *key = std::string_view(key_buffer_.data(), key_size_);
    *value = std::string_view(value_buffer_.data(), value_size_);
    return true;
}
