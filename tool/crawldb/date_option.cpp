#include "tool/crawldb/date_option.h"

#include <charconv>
#include <string_view>
#include <ctime>

#include "extra/date_parse.h"

namespace {

// Reads exactly count decimal digits from the front of *text.
bool take_digits(std::string_view *text, size_t count, int *value) {
    if (text->size() < count) return false;
    *value = 0;
    for (size_t i = 0; i < count; ++i) {
        const char c = (*text)[i];
        if (c < '0' || c > '9') return false;
        *value = *value * 10 + (c - '0');
    }
    text->remove_prefix(count);
    return true;
}

bool take_char(std::string_view *text, char c) {
    if (text->empty() || text->front() != c) return false;
    text->remove_prefix(1);
    return true;
}

// The ISO forms, which the library's parser, made for the texts of HTTP
// headers, does not read: YYYY-MM-DD, then optionally THH:MM or THH:MM:SS,
// then optionally Z or an offset +HH:MM or -HH:MM.
std::optional<int64_t> iso_time(std::string_view text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!take_digits(&text, 4, &year) || !take_char(&text, '-') ||
        !take_digits(&text, 2, &month) || !take_char(&text, '-') || !take_digits(&text, 2, &day)) {
        return std::nullopt;
    }
    int offset = 0;
    if (take_char(&text, 'T')) {
        if (!take_digits(&text, 2, &hour) || !take_char(&text, ':') ||
            !take_digits(&text, 2, &minute)) {
            return std::nullopt;
        }
        if (take_char(&text, ':') && !take_digits(&text, 2, &second)) return std::nullopt;
        if (!take_char(&text, 'Z') && !text.empty()) {
            const int sign = text.front() == '+' ? 1 : text.front() == '-' ? -1 : 0;
            int offset_hours = 0, offset_minutes = 0;
            text.remove_prefix(1);
            if (sign == 0 || !take_digits(&text, 2, &offset_hours) || !take_char(&text, ':') ||
                !take_digits(&text, 2, &offset_minutes) || offset_hours > 23 ||
                offset_minutes > 59) {
                return std::nullopt;
            }
            offset = sign * (offset_hours * 3600 + offset_minutes * 60);
        }
    }
    if (!text.empty() || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 ||
        second > 59) {
        return std::nullopt;
    }
    struct tm fields = {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    const time_t seconds = timegm(&fields);
    // A day past the month's end comes back in the next month.
    if (fields.tm_mday != day || fields.tm_mon != month - 1) return std::nullopt;
    return static_cast<int64_t>(seconds) - offset;
}

}  // namespace

std::optional<int64_t> parse_date_option(const std::string &text) {
    if (std::optional<int64_t> iso = iso_time(text)) return iso;
    // Seconds since 1970 as export writes them: the times stored are
    // unsigned 32-bit numbers.
    uint32_t seconds = 0;
    const char *end = text.data() + text.size();
    const auto number = std::from_chars(text.data(), end, seconds);
    if (!text.empty() && text.front() != '-' && number.ec == std::errc() && number.ptr == end) {
        return seconds;
    }
    const time_t parsed = ZEZ_ParseTimeString(text.c_str(), 1);
    if (parsed == 0) return std::nullopt;
    return static_cast<int64_t>(parsed);
}
