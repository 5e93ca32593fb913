// The URL-pool object hooks of the programs that only read the crawler's
// state (crawlpeek, crawldb): none of them reaches the pool, so a call is a
// fault and ends the process.
#include <cstdlib>

#include "robot/crawler_hooks.h"

url_obj *create_url_obj(const char *, int32_t, int32_t, int32_t, int32_t, const char *,
                        const char *, int32_t) {
    std::abort();
}

char *create_url_obj_key(url_obj *) {
    std::abort();
}

void destroy_url_obj(url_obj *) {
    std::abort();
}
