// The URL-pool decoder on any key and value: the first byte of the input is
// the key's length, the key follows, the rest is the value. Nothing may be
// read outside either, and a decoded record must store back to a value that
// decodes to the same record.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_input.h"
#include "robot/crawler_hooks.h"
#include "robot/storage_object.h"
#include "robot/url_record.h"

namespace {

// A text that is absent and an empty one are stored alike.
bool same_text(const char *a, const char *b) {
    return std::strcmp(a != nullptr ? a : "", b != nullptr ? b : "") == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    // Copies of exactly the given sizes, so that a read past either is seen.
    std::string key(input.bytes(input.byte()));
    std::string value(input.bytes(size));
    const DBT key_dbt = dbt_over(key.data(), key.size());
    const DBT value_dbt = dbt_over(value.data(), value.size());
    url_obj *obj = DBT2url_obj(&key_dbt, &value_dbt);
    if (obj == nullptr) return 0;
    DBT *stored = url_obj2DBT(obj);
    if (stored == nullptr) __builtin_trap();
    std::string again(static_cast<const char *>(stored->data), stored->size);
    const DBT again_dbt = dbt_over(again.data(), again.size());
    url_obj *copy = DBT2url_obj(&key_dbt, &again_dbt);
    if (copy == nullptr || !same_text(copy->url, obj->url) || copy->num_a != obj->num_a ||
        copy->num_b != obj->num_b || copy->num_c != obj->num_c ||
        !same_text(copy->text_a, obj->text_a) || !same_text(copy->text_b, obj->text_b)) {
        __builtin_trap();
    }
    destroy_DBT(stored);
    destroy_url_obj(copy);
    destroy_url_obj(obj);
    return 0;
}
