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
    // "%XX", and '%' itself as "%25", so that decoding every %XX gives the
    // bytes back: for names, and for the URLs of a line marked escaped.
    kEscaped,
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
// as bad bytes; with kPercent and kEscaped so is the space, so that URLs
// joined by spaces stay apart.
void append_tsv_field(std::string *out, std::string_view text, BadBytes bad);

// seconds since 1970, read as an unsigned 32-bit time (right until 2106),
// in UTC as strftime's format gives it.
std::string utc_time(uint32_t seconds, const char *format);

// Whether a URL written as a JSON string (json) or a tab-separated field
// holds a byte that kPercent changes, so that it cannot be told from
// another URL unless written with kEscaped.
bool url_needs_escaping(std::string_view url, bool json);

// A name (of a database, a host, a collection) as text that gives its bytes
// back: with kEscaped, for a JSON writer that escapes control characters
// itself. Names that differ stay apart.
std::string json_name(std::string_view name);

// The same for a table or a line of text: a tab-separated field with
// kEscaped; the empty name as "(none)", and a name that would read so with
// its '(' as %28.
std::string text_name(std::string_view name);

// text as it may be shown on a terminal: as a tab-separated field with bad
// bytes replaced, so that no control character (an escape sequence, say)
// reaches the terminal.
std::string printable(std::string_view text);

// One JSON object written field by field onto the end of a buffer.
class JsonObject {
  public:
    explicit JsonObject(std::string *out) : out_(out) { out_->push_back('{'); }
    // Ends the object.
    ~JsonObject() { out_->push_back('}'); }
    JsonObject(const JsonObject &) = delete;
    JsonObject &operator=(const JsonObject &) = delete;

    JsonObject &text(const char *name, std::string_view value, BadBytes bad) {
        append_json_string(key(name), value, bad);
        return *this;
    }
    JsonObject &url(const char *name, std::string_view value) {
        return text(name, value, BadBytes::kPercent);
    }
    JsonObject &number(const char *name, int64_t value) {
        append_json_number(key(name), value);
        return *this;
    }
    JsonObject &null(const char *name) {
        key(name)->append("null");
        return *this;
    }
    // The name written; the caller appends the value to the buffer returned.
    std::string *key(const char *name);

  private:
    std::string *out_;
    bool first_ = true;
};

// Lines for standard output, gathered and written in large pieces.
class Output {
  public:
    Output() = default;
    // Writes what is left.
    ~Output() { flush(); }
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    // The buffer lines are written into.
    std::string *buffer() { return &buffer_; }
    // Ends a line; the buffer goes out once it is large.
    void end_line();
    void flush();

  private:
    std::string buffer_;
};

#endif  // CRAWLPEEK_TOOL_CRAWLDB_TEXT_OUT_H_
