#include "robot/url_record.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "extra/malloc_ptr.h"
#include "robot/coding.h"
#include "robot/crawler_hooks.h"

namespace {

constexpr size_t kNumbersSize = 12;
constexpr int32_t kHostConstant = 10;

size_t text_length(const char *text) {
    return text != nullptr ? std::strlen(text) : 0;
}

// Values written without closing zero bytes keep all their bytes after the
// url as text_a; otherwise text_a ends at its zero and text_b, when it holds
// at least one character, runs to the value's closing zero, which is no
// part of it.
void read_texts(std::string_view rest, bool ends_with_zero, url_record_fields *texts) {
    size_t third;
    if (rest.empty() || (ends_with_zero && rest[0] == '\0')) {
        third = 1;
    } else if (!ends_with_zero) {
        texts->text_a = rest;
        return;
    } else {
        const size_t zero = rest.find('\0');
        texts->text_a = rest.substr(0, zero);
        third = zero + 1;
    }
    if (third < rest.size() && rest.size() - third >= 2) {
        texts->text_b = rest.substr(third, rest.size() - third - 1);
    }
}

std::optional<std::string> copy_of(const std::optional<std::string_view> &text) {
    return text ? std::optional<std::string>(std::string(*text)) : std::nullopt;
}

const char *c_str_or_null(const std::optional<std::string> &text) {
    return text ? text->c_str() : nullptr;
}

}  // namespace

int32_t url_key_digit(const char *key) {
    const char *bar = key != nullptr ? std::strchr(key, '|') : nullptr;
    if (bar == nullptr || bar[1] < '0' || bar[1] > '9') return 0;
    return bar[1] - '0';
}

DBT *url_obj2DBT(const url_obj *obj) {
    if (obj == nullptr || obj->url == nullptr) return nullptr;
    const size_t u = text_length(obj->url), a = text_length(obj->text_a),
                 b = text_length(obj->text_b);
    const size_t size = kNumbersSize + u + a + b + 3;
    auto *bytes = static_cast<uint8_t *>(std::calloc(1, size));
    if (bytes == nullptr) out_of_memory();
    ByteWriter out(bytes, size);
    out.write_fixed32(static_cast<uint32_t>(obj->num_a));
    out.write_fixed32(static_cast<uint32_t>(obj->num_b));
    out.write_fixed32(static_cast<uint32_t>(obj->num_c));
    out.write_cstring(obj->url);
    out.write_cstring(obj->text_a != nullptr ? obj->text_a : "");
    out.write_cstring(obj->text_b != nullptr ? obj->text_b : "");

    auto *dbt = static_cast<DBT *>(std::calloc(1, sizeof(DBT)));
    if (dbt == nullptr) out_of_memory();
    dbt->data = bytes;
    dbt->size = static_cast<uint32_t>(size);
    return dbt;
}

bool url_record_parse(const void *data, size_t size, url_record_fields *out) {
    ByteReader in(data, size);
    std::optional<uint32_t> num_a = in.read_fixed32();
    std::optional<uint32_t> num_b = in.read_fixed32();
    std::optional<uint32_t> num_c = in.read_fixed32();
    if (!num_c) return false;
    std::optional<std::string_view> url = in.read_cstring();
    if (!url) return false;
    *out = url_record_fields{};
    out->num_a = static_cast<int32_t>(*num_a);
    out->num_b = static_cast<int32_t>(*num_b);
    out->num_c = static_cast<int32_t>(*num_c);
    out->url = *url;
    const std::string_view rest = *in.read_bytes(in.remaining());
    read_texts(rest, static_cast<const uint8_t *>(data)[size - 1] == 0, out);
    return true;
}

url_obj *DBT2url_obj(const DBT *key, const DBT *value) {
    if (key == nullptr || key->data == nullptr || value == nullptr || value->data == nullptr) {
        return nullptr;
    }
    url_record_fields fields;
    if (!url_record_parse(value->data, value->size, &fields)) return nullptr;
    std::string key_copy(static_cast<const char *>(key->data), key->size);
    const std::string url_copy(fields.url);
    const std::optional<std::string> text_a = copy_of(fields.text_a);
    const std::optional<std::string> text_b = copy_of(fields.text_b);
    url_obj *obj = create_url_obj(url_copy.c_str(), fields.num_a, fields.num_b,
                                  url_key_digit(key_copy.c_str()), fields.num_c,
                                  c_str_or_null(text_a), c_str_or_null(text_b), kHostConstant);
    if (obj == nullptr) return nullptr;
    if (key->size > 0) {
        obj->key = static_cast<char *>(std::malloc(key->size + 1));
        if (obj->key == nullptr) out_of_memory();
        std::memcpy(obj->key, key->data, key->size);
        obj->key[key->size] = '\0';
    }
    return obj;
}
