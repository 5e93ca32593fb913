// The text of one entry of the dump, built in a buffer that is reused from
// entry to entry and written to standard output in one piece.
#ifndef CRAWLPEEK_TOOL_CRAWLPEEK_ENTRY_TEXT_H_
#define CRAWLPEEK_TOOL_CRAWLPEEK_ENTRY_TEXT_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tool/crawlpeek/dump.h"

// What one entry prints, whichever way its record was read.
struct entry_view {
    std::string_view url;
    std::optional<std::string_view> referer;  // none: a starting point
    int32_t progress_status = 0;
    int32_t server_status = 0;
    int32_t depth_countdown = 0;
    std::string_view md5;  // printed up to its first zero byte
    std::string_view database;
    uint32_t last_processed = 0;
    uint32_t last_visited = 0;
    uint32_t last_modified = 0;
    uint32_t rd_expires = 0;
    std::span<const std::string_view> links;  // in the order they are printed
};

class EntryPrinter {
  public:
    // Prints the URL line and, when details is set, the detail block and the
    // links; counts the entry and its links into *counters.
    void print(const entry_view &entry, bool details, dump_counters *counters);

  private:
    // The text of a time value, kept for the next entry: neighbouring records
    // mostly share their crawl times.
    struct TimeText {
        uint32_t time = 0;
        std::string text;  // "" for time 0
        std::string_view of(uint32_t t);
    };

    void append_details(const entry_view &entry);
    void append_number(int32_t value);

    std::string text_;
    TimeText last_processed_, last_visited_, last_modified_, rd_expires_;
};

#endif  // CRAWLPEEK_TOOL_CRAWLPEEK_ENTRY_TEXT_H_
