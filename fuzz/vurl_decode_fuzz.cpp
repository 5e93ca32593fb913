// The visited-URL decoder on any bytes, without resolving ids: it must never
// read outside the value, and its three readers must agree on what a value
// holds.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "robot/vurl_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const DBT dbt = dbt_over(data, size);
    visited_url_obj *obj = DBT2visited_url_obj_V2(&dbt, 0);
    visited_url_fields fields;
    const bool parsed = visited_url_parse(data, size, &fields);
    if (parsed != (obj != nullptr)) __builtin_trap();
    if (obj != nullptr) {
        std::string_view url;
        if (!visited_url_stored_url(data, size, &url) || url != fields.url) __builtin_trap();
        if (std::string_view(obj->url != nullptr ? obj->url : "") != fields.url) __builtin_trap();
        // The record keeps the 32 stored characters, zero bytes among them.
        if (obj->progress_status != fields.progress_status ||
            obj->server_status != fields.server_status ||
            (!fields.md5.empty() &&
             std::memcmp(obj->md5, fields.md5.data(), fields.md5.size()) != 0) ||
            (fields.md5.empty() && obj->md5[0] != '\0')) {
            __builtin_trap();
        }
        for (size_t i = 0; i < fields.link_id_count; ++i) (void)fields.link_id(i);
    }
    free_visited_url_obj(obj, 1);
    return 0;
}
