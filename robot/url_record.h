// A URL of the crawler's URL pool and its stored form.
//
// The host constructs url_obj (create_url_obj); the storage layer reads and
// writes the fields below and carries their values unchanged. Stored value,
// integers 32 bits, most significant byte first, texts each ended by a zero:
//
//   0   num_a, num_b, num_c                                  3 x 4 bytes
//   12  url                                                   U + 1
//       text_a (a lone zero when none)                        A + 1
//       text_b (a lone zero when none)                        B + 1
//
// The record's key is `key` and its zero byte: a collection prefix, '|', and
// the host's rest; a decimal digit right after the first '|' is key_digit.
#ifndef CRAWLPEEK_ROBOT_URL_RECORD_H_
#define CRAWLPEEK_ROBOT_URL_RECORD_H_

#include <db.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

struct url_obj {
    int32_t num_a;
    int32_t num_b;
    char *url;       // owned (malloc)
    int32_t host_a;  // the host's; the constructor keeps key_digit here in the tests
    int32_t num_c;
    int32_t host_b;  // the host's
    char *text_a;    // owned, or null
    char *key;       // owned, or null
    char *text_b;    // owned, or null
};

// A new heap DBT holding obj's stored form (destroy_DBT releases it), or null
// when obj or its url is null. Memory exhaustion ends the process with -1.
DBT *url_obj2DBT(const url_obj *obj);

// A stored value read as it lies; the views point into the value.
struct url_record_fields {
    int32_t num_a = 0;
    int32_t num_b = 0;
    int32_t num_c = 0;
    std::string_view url;
    std::optional<std::string_view> text_a;  // none when the value holds none
    std::optional<std::string_view> text_b;  // without the value's closing zero
};

// Reads the stored value of size bytes at data into *out: the fields
// DBT2url_obj gives its object. False when the value is shorter than 13
// bytes or its url has no zero byte. Nothing outside the value is read.
bool url_record_parse(const void *data, size_t size, url_record_fields *out);

// A new object from the stored key and value, made by the host's
// create_url_obj and owning a copy of the key; null when an argument or its
// data is null, or when the value is shorter than 13 bytes or its url has no
// zero byte. Nothing is read outside either descriptor; they may lie in
// Berkeley DB's memory. Memory exhaustion ends the process with -1.
url_obj *DBT2url_obj(const DBT *key, const DBT *value);

// The digit right after the first '|' of key, or 0.
int32_t url_key_digit(const char *key);

#endif  // CRAWLPEEK_ROBOT_URL_RECORD_H_
