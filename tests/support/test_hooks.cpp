#include "support/test_hooks.h"

#include <cstdlib>
#include <cstring>

#include "robot/crawler_hooks.h"
#include "robot/url_record.h"

TestHooks &test_hooks() {
    static TestHooks hooks;
    return hooks;
}

void reset_test_hooks() {
    test_hooks() = TestHooks{};
}

const char *sys_get_robot_state_path() {
    return test_hooks().state_path.c_str();
}

int sys_get_erase_status() {
    return test_hooks().erase_status;
}

char *VEL_GetErrorString() {
    ++test_hooks().error_string_calls;
    return strdup(test_hooks().error_text.c_str());
}

// A small real host object: key_digit in host_a, the host constant in host_b.
url_obj *create_url_obj(const char *url, int32_t num_a, int32_t num_b, int32_t key_digit,
                        int32_t num_c, const char *text_a, const char *text_b,
                        int32_t host_constant) {
    auto *obj = static_cast<url_obj *>(std::calloc(1, sizeof(url_obj)));
    obj->url = strdup(url);
    obj->num_a = num_a;
    obj->num_b = num_b;
    obj->host_a = key_digit;
    obj->num_c = num_c;
    obj->host_b = host_constant;
    obj->text_a = text_a != nullptr ? strdup(text_a) : nullptr;
    obj->text_b = text_b != nullptr ? strdup(text_b) : nullptr;
    return obj;
}

char *create_url_obj_key(url_obj *obj) {
    return strdup(obj->key != nullptr ? obj->key : "");
}

void destroy_url_obj(url_obj *obj) {
    if (obj == nullptr) return;
    std::free(obj->url);
    std::free(obj->text_a);
    std::free(obj->key);
    std::free(obj->text_b);
    std::free(obj);
}

char *_vel_normalize_url(const char *url) {
    for (const std::string &refused : test_hooks().refuse_normalize) {
        if (refused == url) return nullptr;
    }
    return strdup(url);
}

char *ParseURL_MakeAbsolute(const char *base, const char *link, int32_t) {
    test_hooks().made_absolute.push_back(std::string(base) + " " + link);
    if (std::strstr(link, "://") != nullptr) return strdup(link);
    return strdup((std::string(base) + link).c_str());
}

int rd_depot_put_delete(const char *url, const char *database) {
    test_hooks().depot_deletes.push_back(std::string(url) + " " + (database ? database : "-"));
    return 0;
}

int site_manager_spawn_url_str(const char *url, int32_t depth, int32_t, int32_t, int32_t,
                               const char *referer, const char *, int32_t) {
    test_hooks().spawned.push_back(std::string(url) + " " + std::to_string(depth) + " " +
                                   (referer ? referer : "-"));
    return 0;
}

const char *sys_get_charset() {
    return nullptr;
}

int sys_if_paused() {
    ++test_hooks().paused_calls;
    return 0;
}

int sys_if_stopped() {
    TestHooks &hooks = test_hooks();
    ++hooks.stopped_calls;
    return hooks.stop_at_call != 0 && hooks.stopped_calls >= hooks.stop_at_call ? 1 : 0;
}
