// The tool programs' bodies for the crawler hooks but the URL-pool object
// ones: the state directory is "robot" (or the one named with -h), nothing is
// erased unless a program says so, URLs are taken as they are, the crawl never
// pauses or stops, and nothing is handed back to a depot or site manager. The
// pool object hooks are in no_pool_hooks.cpp for the readers and in
// crawlsim_pool.cpp for crawlsim.
#include <cerrno>
#include <cstring>
#include <string>

#include "robot/crawler_hooks.h"
#include "tool/hooks/hook_settings.h"

namespace {

std::string &state_path() {
    static std::string path = "robot";
    return path;
}

int erase_status = 0;

}  // namespace

void tool_set_state_path(const char *dir) {
    state_path() = dir;
}

void tool_set_erase_status(int status) {
    erase_status = status;
}

const char *sys_get_robot_state_path() {
    return state_path().c_str();
}

int sys_get_erase_status() {
    return erase_status;
}

char *VEL_GetErrorString() {
    return strdup(std::strerror(errno));
}

char *_vel_normalize_url(const char *url) {
    return strdup(url);
}

char *ParseURL_MakeAbsolute(const char *base, const char *, int32_t) {
    return strdup(base);
}

int rd_depot_put_delete(const char *, const char *) {
    return 0;
}

int site_manager_spawn_url_str(const char *, int32_t, int32_t, int32_t, int32_t, const char *,
                               const char *, int32_t) {
    return 0;
}

const char *sys_get_charset() {
    return nullptr;
}

int sys_if_paused() {
    return 0;
}

int sys_if_stopped() {
    return 0;
}
