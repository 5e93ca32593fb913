#include "robot/url_pool_fixture.h"

#include <cstdlib>
#include <cstring>

#include "robot/crawler_hooks.h"
#include "robot/robot_db_env.h"
#include "support/test_hooks.h"

void DestroyUrlObj::operator()(url_obj *obj) const {
    destroy_url_obj(obj);
}

UrlObj make_url(const std::string &key, const std::string &url, const char *text_a,
                const char *text_b) {
    UrlObj obj(create_url_obj(url.c_str(), 1, 2, 0, 3, text_a, text_b, 10));
    obj->key = strdup(key.c_str());
    return obj;
}

void UrlPoolTest::SetUp() {
    reset_test_hooks();
    pool_ = create_url_pool(dir_.path().c_str());
    sys_set_url_pool(pool_);
}

void UrlPoolTest::TearDown() {
    close_all_url_banks();
    sys_set_url_pool(nullptr);
    destroy_url_pool(pool_);
    url_pool_set_clock(nullptr);
}
