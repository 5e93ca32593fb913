#include "tool/crawldb/date_option.h"

#include <charconv>
#include <ctime>
#include <string_view>

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

// The seconds of a UTC date and clock; none for a day past its month's end
// or a clock out of range. *weekday receives the date's (0 for Sunday).
std::optional<int64_t> utc_seconds(int year, int month, int day, int hour, int minute,
                                   int second, int *weekday = nullptr) {
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59) {
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
    if (weekday != nullptr) *weekday = fields.tm_wday;
    return static_cast<int64_t>(seconds);
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
    if (!text.empty()) return std::nullopt;
    const std::optional<int64_t> seconds = utc_seconds(year, month, day, hour, minute, second);
    if (!seconds) return std::nullopt;
    return *seconds - offset;
}

bool is_utc(std::string_view word) {
    return word.size() == 3 && (word[0] | 0x20) == 'u' && (word[1] | 0x20) == 't' &&
           (word[2] | 0x20) == 'c';
}

// Free text, read by the library's date scanner but held to one date: every
// item read (the scanner itself skips what it does not know), the fields in
// range, a weekday, when named, the date's. "UTC", which the scanner does not
// know, is taken when no zone or offset is given: the text is GMT then.
std::optional<int64_t> free_form_time(std::string_view text) {
    const TimeTextFields t = scan_time_text(text);
    if (t.unread.size() > 1 || (t.unread.size() == 1 && (t.zone || !is_utc(t.unread[0])))) {
        return std::nullopt;
    }
    // The scanner gives a clock's hour and minute together.
    const auto given = [](int field) { return field < 0 ? 0 : field; };
    int weekday = 0;
    const std::optional<int64_t> seconds =
        utc_seconds(t.year, t.month, t.day, given(t.hour), given(t.minute), given(t.second),
                    &weekday);
    if (!seconds || t.year < 0 || (t.weekday >= 0 && t.weekday != weekday)) return std::nullopt;
    return *seconds - int64_t{60} * t.offset_minutes;
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
    return free_form_time(text);
}
