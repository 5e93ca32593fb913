#include "tool/crawldb/text_out.h"

#include <charconv>
#include <ctime>
#include <cstdio>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

void append_bad_byte(std::string *out, unsigned char byte, BadBytes bad) {
    if (bad != BadBytes::kReplacement) {
        out->push_back('%');
        out->push_back(kHex[byte >> 4]);
        out->push_back(kHex[byte & 0xF]);
    } else {
        out->append(kReplacementCharacter);
    }
}

// Walks text in valid UTF-8 sequences and bytes that are not: runs of bytes
// for which plain(byte) holds are copied as they are, other ASCII bytes go
// to ascii(byte), longer valid sequences are copied, and each bad byte goes
// to bad_byte(byte).
template <typename Plain, typename Ascii, typename Bad>
void transcribe(std::string *out, std::string_view text, Plain plain, Ascii ascii, Bad bad_byte) {
    size_t i = 0;
    while (i < text.size()) {
        size_t run = i;
        while (run < text.size() && plain(static_cast<unsigned char>(text[run]))) ++run;
        out->append(text.data() + i, run - i);
        i = run;
        if (i == text.size()) break;
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            ascii(byte);
            ++i;
            continue;
        }
        const size_t length = utf8_sequence_length(text.substr(i));
        if (length == 0) {
            bad_byte(byte);
            ++i;
        } else {
            out->append(text.substr(i, length));
            i += length;
        }
    }
}

}  // namespace

size_t utf8_sequence_length(std::string_view text) {
    if (text.empty()) return 0;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length = 0;
    // The range of the second byte, which rules out overlong forms,
    // surrogates and code points past U+10FFFF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

void append_json_string(std::string *out, std::string_view text, BadBytes bad) {
    const bool escaped = bad == BadBytes::kEscaped;
    out->push_back('"');
    transcribe(
        out, text,
        [escaped](unsigned char c) {
            return c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && (c != '%' || !escaped);
        },
        [out, bad](unsigned char c) {
            if (c == '%') {
                append_bad_byte(out, c, bad);
            } else if (c == '"' || c == '\\') {
                out->push_back('\\');
                out->push_back(static_cast<char>(c));
            } else if (c < 0x20 || c == 0x7F) {
                out->append("\\u00");
                out->push_back(kHex[c >> 4]);
                out->push_back(kHex[c & 0xF]);
            } else {
                out->push_back(static_cast<char>(c));
            }
        },
        [out, bad](unsigned char c) { append_bad_byte(out, c, bad); });
    out->push_back('"');
}

void append_json_number(std::string *out, int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out->append(digits, result.ptr);
}

void append_tsv_field(std::string *out, std::string_view text, BadBytes bad) {
    const bool escaped = bad == BadBytes::kEscaped;
    transcribe(
        out, text, [escaped](unsigned char c) { return c > 0x20 && c < 0x7F && (c != '%' || !escaped); },
        [out, bad, escaped](unsigned char c) {
            const bool breaks_field = c < 0x20 || c == 0x7F ||
                                      (c == ' ' && bad != BadBytes::kReplacement) ||
                                      (c == '%' && escaped);
            if (breaks_field) {
                append_bad_byte(out, c, bad);
            } else {
                out->push_back(static_cast<char>(c));
            }
        },
        [out, bad](unsigned char c) { append_bad_byte(out, c, bad); });
}

std::string utc_time(uint32_t seconds, const char *format) {
    const time_t t = seconds;
    struct tm utc;
    gmtime_r(&t, &utc);
    char text[64] = "";
    std::strftime(text, sizeof text, format, &utc);
    return text;
}

bool url_needs_escaping(std::string_view url, bool json) {
    while (!url.empty()) {
        const size_t length = utf8_sequence_length(url);
        const auto c = static_cast<unsigned char>(url.front());
        if (length == 0 || (!json && (c <= 0x20 || c == 0x7F))) return true;
        url.remove_prefix(length);
    }
    return false;
}

std::string json_name(std::string_view name) {
    std::string text;
    transcribe(
        &text, name, [](unsigned char c) { return c < 0x80 && c != '%'; },
        [&text](unsigned char c) {
            if (c == '%') {
                append_bad_byte(&text, c, BadBytes::kEscaped);
            } else {
                text.push_back(static_cast<char>(c));
            }
        },
        [&text](unsigned char c) { append_bad_byte(&text, c, BadBytes::kEscaped); });
    return text;
}

std::string text_name(std::string_view name) {
    if (name.empty()) return "(none)";
    if (name == "(none)") return "%28none)";
    std::string text;
    append_tsv_field(&text, name, BadBytes::kEscaped);
    return text;
}

std::string printable(std::string_view text) {
    std::string shown;
    append_tsv_field(&shown, text, BadBytes::kReplacement);
    return shown;
}

std::string *JsonObject::key(const char *name) {
    if (!first_) out_->push_back(',');
    first_ = false;
    out_->push_back('"');
    out_->append(name);
    out_->append("\":");
    return out_;
}

void Output::end_line() {
    constexpr size_t kFlushSize = 1 << 16;
    buffer_.push_back('\n');
    if (buffer_.size() >= kFlushSize) flush();
}

void Output::flush() {
    std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
    buffer_.clear();
}
