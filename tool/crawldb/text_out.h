// Text for machines: JSON strings and numbers, and tab-separated fields,
// appended to a buffer. Every string written is valid UTF-8 whatever bytes
// it is given.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_TEXT_OUT_H_
#define CRAWLPEEK_TOOL_CRAWLDB_TEXT_OUT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What becomes of a byte that is not part of valid UTF-8.
enum class BadBytes {
    kPercent,      // "%XX", upper-case hex: for URLs
    kReplacement,  // U+FFFD: for other text
};

// The length of the valid UTF-8 sequence that starts text (1 to 4); 0 when
// text is empty or does not start with one (a stray continuation byte, an
// overlong form, a surrogate, a code point past U+10FFFF, a cut sequence).
size_t utf8_sequence_length(std::string_view text);

// Appends text as a JSON string with its quotes. Quotes, backslashes and
// control characters are escaped.
void append_json_string(std::string *out, std::string_view text, BadBytes bad);

// Appends value as a JSON number.
void append_json_number(std::string *out, int64_t value);

// Appends text as one field of a tab-separated line. Tabs, line ends and
// other control characters, which would break the line apart, are treated
// as bad bytes; with kPercent so is the space, so that URLs joined by spaces
// stay apart.
void append_tsv_field(std::string *out, std::string_view text, BadBytes bad);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_TEXT_OUT_H_
