// The hooks' bodies. ParseURL_MakeAbsolute joins a link without "://" to its
// page's URL; _vel_normalize_url gives the URL as it is.
#include "support/test_hooks.h"

#include <cstdlib>
#include <cstring>

#include "robot/crawler_hooks.h"
#include "robot/url_record.h"
#include "tool/hooks/hook_settings.h"

// crawldb's commands name their state directory through this.
void tool_set_state_path(const char *dir) {
    test_hooks().state_path = dir;
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
    *obj = {num_a,
            num_b,
            strdup(url),
            key_digit,
            num_c,
            host_constant,
            text_a != nullptr ? strdup(text_a) : nullptr,
            nullptr,
            text_b != nullptr ? strdup(text_b) : nullptr};
    return obj;
}

char *create_url_obj_key(url_obj *obj) {
    return strdup(obj->key != nullptr ? obj->key : "");
}

void destroy_url_obj(url_obj *obj) {
    if (obj == nullptr) return;
    for (char *text : {obj->url, obj->text_a, obj->key, obj->text_b}) std::free(text);
    std::free(obj);
}

char *_vel_normalize_url(const char *url) {
    return strdup(url);
}

char *ParseURL_MakeAbsolute(const char *base, const char *link, int32_t) {
    return strdup(std::strstr(link, "://") != nullptr ? link : (std::string(base) + link).c_str());
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
    return 0;
}

int sys_if_stopped() {
    TestHooks &hooks = test_hooks();
    ++hooks.stopped_calls;
    return hooks.stop_at_call != 0 && hooks.stopped_calls >= hooks.stop_at_call ? 1 : 0;
}
