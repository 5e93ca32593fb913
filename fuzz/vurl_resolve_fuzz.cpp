// The visited-URL decoder on any bytes, resolving the referer and link ids
// against a small database made by the crawler's own operations: ids of
// records, of missing records and of the metadata must all be safe, and a
// decoded record never counts more links than it stores ids.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "adt/velhashtable.h"
#include "fuzz/fuzz_input.h"
#include "robot/robot_db_env.h"
#include "robot/vurl_db.h"
#include "robot/vurl_ops.h"
#include "robot/vurl_record.h"
#include "support/test_hooks.h"

namespace {

std::string g_home;

void remove_home() {
    visited_url_shutdown(0);
    // The environment is the process's memory: closed once its files are.
    robot_db_shutdown();
    std::filesystem::remove_all(g_home);
}

// Ten pages, each linking to the next three: ids 1 to 12, some with their
// data stored, some only met.
void make_database() {
    if (visited_url_init(1) == 0) std::abort();
    const auto url = [](int page) { return "http://fuzz.test/" + std::to_string(page); };
    visited_url_get_status(url(0).c_str(), nullptr, 1, 5);
    for (int page = 0; page < 10; ++page) {
        velhashtable *links = nullptr;
        if (velhashtable_create(kVurlLinkBuckets, &links) != 0) std::abort();
        std::string targets[3];
        for (int i = 0; i < 3; ++i) {
            targets[i] = url(page + 1 + i);
            velhashtable_insert(links, targets[i].c_str(), targets[i].c_str());
        }
        const uint32_t visited = 1700000000, modified = 0, expires = 1700086400;
        visited_url_update_data(url(page).c_str(), 200, 0, &visited, &modified, &expires, links,
                                "0123456789abcdef0123456789abcdef", "pages");
        velhashtable_free(links);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    char pattern[] = "/tmp/vurl_fuzz.XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    g_home = pattern;
    test_hooks().state_path = g_home;
    robot_db_init();
    make_database();
    std::atexit(remove_home);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const DBT dbt = dbt_over(data, size);
    visited_url_obj *obj = DBT2visited_url_obj_V2(&dbt, 1);
    visited_url_fields fields;
    if (visited_url_parse(data, size, &fields) != (obj != nullptr)) __builtin_trap();
    if (obj != nullptr && static_cast<size_t>(obj->link_count) > fields.link_id_count) {
        __builtin_trap();
    }
    free_visited_url_obj(obj, 1);
    return 0;
}
