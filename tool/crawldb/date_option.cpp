#include "tool/crawldb/date_option.h"

#include <charconv>
#include <cstdio>
#include <ctime>

#include "extra/date_parse.h"

namespace {

// The ISO forms, which the library's parser, made for the texts of HTTP
// headers, does not read.
std::optional<int64_t> iso_time(const std::string &text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int end = -1;
    std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &end);
    if (end != 10) return std::nullopt;
    const char *rest = text.c_str() + end;
    if (*rest == 'T') {
        int time_end = -1;
        std::sscanf(rest, "T%2d:%2d%n:%2d%n", &hour, &minute, &time_end, &second, &time_end);
        if (time_end < 0) return std::nullopt;
        rest += time_end;
        if (*rest == 'Z') ++rest;
    }
    if (*rest != '\0') return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60) {
        return std::nullopt;
    }
    struct tm fields = {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return static_cast<int64_t>(timegm(&fields));
}

}  // namespace

std::optional<int64_t> parse_date_option(const std::string &text) {
    if (std::optional<int64_t> iso = iso_time(text)) return iso;
    // Seconds since 1970, as export writes them.
    int64_t seconds = 0;
    const char *end = text.data() + text.size();
    const auto number = std::from_chars(text.data(), end, seconds);
    if (!text.empty() && number.ec == std::errc() && number.ptr == end) return seconds;
    const time_t parsed = ZEZ_ParseTimeString(text.c_str(), 1);
    if (parsed == 0) return std::nullopt;
    return static_cast<int64_t>(parsed);
}
