// crawldb's readers of operator text and writers of stored bytes, over any
// input: the JSON string and the tab-separated field must be valid UTF-8
// without a raw control character, escaped text must give the bytes back,
// and a list, a date and a URL's host are read without a fault.
#include <cstdint>
#include <string>
#include <string_view>

#include "tool/crawldb/date_option.h"
#include "tool/crawldb/int_ranges.h"
#include "tool/crawldb/text_out.h"
#include "tool/crawldb/url_host.h"

namespace {

// Traps unless text is valid UTF-8 with no control character but those a
// JSON string escapes.
void check_clean(std::string_view text) {
    while (!text.empty()) {
        const size_t length = utf8_sequence_length(text);
        if (length == 0) __builtin_trap();
        const auto c = static_cast<unsigned char>(text.front());
        if (c < 0x20 || c == 0x7F) __builtin_trap();
        text.remove_prefix(length);
    }
}

// Every %XX decoded to its byte.
std::string percent_decoded(std::string_view text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto hex = [&](size_t at) {
            const char c = text[at];
            return c <= '9' ? c - '0' : c - 'A' + 10;
        };
        if (text[i] == '%' && i + 2 < text.size()) {
            bytes.push_back(static_cast<char>(hex(i + 1) * 16 + hex(i + 2)));
            i += 2;
        } else {
            bytes.push_back(text[i]);
        }
    }
    return bytes;
}

// Traps unless the escaped forms give text back: a tab-separated field, a
// name, and a name in a table.
void check_reversible(std::string_view text) {
    std::string field;
    append_tsv_field(&field, text, BadBytes::kEscaped);
    check_clean(field);
    if (field.find(' ') != std::string::npos || percent_decoded(field) != text) __builtin_trap();
    const std::string name = json_name(text);
    if (utf8_sequence_length(name) == 0 && !name.empty()) __builtin_trap();
    if (percent_decoded(name) != text) __builtin_trap();
    const std::string shown = text_name(text);
    if (!text.empty() && (shown == "(none)" || percent_decoded(shown) != text)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    check_reversible(text);
    for (BadBytes bad : {BadBytes::kPercent, BadBytes::kReplacement, BadBytes::kEscaped}) {
        std::string json;
        append_json_string(&json, text, bad);
        check_clean(json);
        std::string field;
        append_tsv_field(&field, text, bad);
        check_clean(field);
    }
    IntRanges ranges;
    if (ranges.parse(text)) ranges.contains(404);
    parse_date_option(std::string(text));
    const std::string host = url_host(text);
    if (host.find('\0') == std::string::npos) registrable_domain(host);
    return 0;
}
