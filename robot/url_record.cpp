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

// The texts that follow the url; absent ones stay none.
struct Texts {
    std::optional<std::string> text_a;
    std::optional<std::string> text_b;
};

// Values written without closing zero bytes keep all their bytes after the
// url as text_a; otherwise text_a ends at its zero and text_b, when it holds
// at least one character, runs to the end.
Texts read_texts(std::string_view rest, bool ends_with_zero) {
    Texts texts;
    size_t third;
    if (rest.empty() || (ends_with_zero && rest[0] == '\0')) {
        third = 1;
    } else if (!ends_with_zero) {
        texts.text_a.emplace(rest);
        return texts;
    } else {
        const size_t zero = rest.find('\0');
        texts.text_a.emplace(rest.substr(0, zero));
        third = zero + 1;
    }
    if (third < rest.size() && rest.size() - third >= 2) texts.text_b.emplace(rest.substr(third));
    return texts;
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

url_obj *DBT2url_obj(const DBT *key, const DBT *value) {
    if (key == nullptr || key->data == nullptr || value == nullptr || value->data == nullptr) {
        return nullptr;
    }
    ByteReader in(value->data, value->size);
    std::optional<uint32_t> num_a = in.read_fixed32();
    std::optional<uint32_t> num_b = in.read_fixed32();
    std::optional<uint32_t> num_c = in.read_fixed32();
    if (!num_c) return nullptr;
    std::optional<std::string_view> url = in.read_cstring();
    if (!url) return nullptr;
    const std::string_view rest = *in.read_bytes(in.remaining());
    const bool ends_with_zero = static_cast<const uint8_t *>(value->data)[value->size - 1] == 0;
    const Texts texts = read_texts(rest, ends_with_zero);

    std::string key_copy(static_cast<const char *>(key->data), key->size);
    const std::string url_copy(*url);
    url_obj *obj =
        create_url_obj(url_copy.c_str(), static_cast<int32_t>(*num_a), static_cast<int32_t>(*num_b),
                       url_key_digit(key_copy.c_str()), static_cast<int32_t>(*num_c),
                       c_str_or_null(texts.text_a), c_str_or_null(texts.text_b), kHostConstant);
    if (obj == nullptr) return nullptr;
    if (key->size > 0) {
        obj->key = static_cast<char *>(std::malloc(key->size + 1));
        if (obj->key == nullptr) out_of_memory();
        std::memcpy(obj->key, key->data, key->size);
        obj->key[key->size] = '\0';
    }
    return obj;
}
