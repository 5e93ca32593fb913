#include "robot/record_walk.h"

#include <cerrno>

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

RecordWalk::RecordWalk(storage_object *obj)
    : key_buffer_(kInitialBufferSize), value_buffer_(kInitialBufferSize) {
    DBC *cursor = nullptr;
    if (obj == nullptr || obj->db == nullptr) {
        error_ = EINVAL;
        return;
    }
    if (int ret = obj->db->cursor(obj->db.get(), nullptr, &cursor, 0); ret != 0) {
        error_ = ret;
        return;
    }
    cursor_.reset(cursor);
}

bool RecordWalk::next(std::string_view *key, std::string_view *value) {
    if (at_end_ || error_ != 0) return false;
    for (;;) {
        DBT k = user_memory(key_buffer_);
        DBT v = user_memory(value_buffer_);
        const int ret = cursor_->get(cursor_.get(), &k, &v, DB_NEXT);
        if (ret == DB_BUFFER_SMALL) {
            // The cursor has not moved; the sizes say what the record needs.
            if (k.size > key_buffer_.size()) key_buffer_.resize(k.size);
            if (v.size > value_buffer_.size()) value_buffer_.resize(v.size);
            continue;
        }
        if (ret == DB_NOTFOUND) {
            at_end_ = true;
            return false;
        }
        if (ret != 0) {
            error_ = ret;
            return false;
        }
        *key = std::string_view(key_buffer_.data(), k.size);
        *value = std::string_view(value_buffer_.data(), v.size);
        return true;
    }
}
