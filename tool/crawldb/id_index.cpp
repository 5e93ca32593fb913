#include "tool/crawldb/id_index.h"

#include <algorithm>

size_t IdIndex::add(uint32_t id) {
    if (dense_ && id != count_ + 1) {
        dense_ = false;
        ids_.reserve(count_ + 1);
        for (size_t i = 1; i <= count_; ++i) ids_.push_back(static_cast<uint32_t>(i));
    }
    if (!dense_) ids_.push_back(id);
    return count_++;
}

size_t IdIndex::find(uint32_t id) const {
    if (id == 0) return kNone;
    if (dense_) return id <= count_ ? id - 1 : kNone;
    // Most ids still sit where a gapless run would put them.
    if (id <= count_ && ids_[id - 1] == id) return id - 1;
    const auto it = std::lower_bound(ids_.begin(), ids_.end(), id);
    return it != ids_.end() && *it == id ? static_cast<size_t>(it - ids_.begin()) : kNone;
}
