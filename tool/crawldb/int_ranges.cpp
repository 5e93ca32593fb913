#include "tool/crawldb/int_ranges.h"

#include <charconv>

namespace {

// Reads a 32-bit number from the front of *text and moves past it.
bool take_number(std::string_view *text, int64_t *value) {
    int32_t number = 0;
    const auto result = std::from_chars(text->data(), text->data() + text->size(), number);
    if (result.ec != std::errc()) return false;
    text->remove_prefix(static_cast<size_t>(result.ptr - text->data()));
    *value = number;
    return true;
}

}  // namespace

bool IntRanges::parse(std::string_view text) {
    std::vector<std::pair<int64_t, int64_t>> ranges;
    for (;;) {
        const size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        int64_t first = 0;
        if (!take_number(&item, &first)) return false;
        int64_t last = first;
        if (!item.empty()) {
            if (item.front() != '-') return false;
            item.remove_prefix(1);
            if (!take_number(&item, &last) || !item.empty() || last < first) return false;
        }
        ranges.emplace_back(first, last);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    ranges_ = std::move(ranges);
    return true;
}

bool IntRanges::contains(int64_t value) const {
    for (const auto &[first, last] : ranges_) {
        if (value >= first && value <= last) return true;
    }
    return false;
}
