#include "robot/robot_db_env.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "log/objlog.h"
#include "robot/crawler_hooks.h"
#include "robot/memory_budget.h"

namespace {

constexpr char kSource[] = "robot_db";
constexpr size_t kCwdCapacity = 8192;

// Kept for the life of the process once computed: callers hold its c_str().
std::string *robot_db_path = nullptr;
url_pool *robot_url_pool = nullptr;
DB_ENV *robot_db_env = nullptr;

}  // namespace

int32_t robot_db_page_size = 0;

int32_t robot_db_set_page_size(int32_t kb) {
    if (kb < 1 || kb > 64) {
        rlog_write(0, 3, kSource, __LINE__, "Invalid database page size %dkb\n", kb);
        return 0;
    }
    robot_db_page_size = kb * 1024;
    return kb;
}

const char *get_robot_db_path() {
    if (robot_db_path != nullptr) return robot_db_path->c_str();
    std::string home = robot_absolute_path(sys_get_robot_state_path());
    if (home.empty()) return nullptr;
    robot_db_path = new std::string(std::move(home));
    return robot_db_path->c_str();
}

std::string robot_absolute_path(const std::string &path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[kCwdCapacity];
    if (getcwd(cwd, sizeof cwd) == nullptr) return std::string();
    return std::string(cwd) + "/" + path;
}

int mk_fullpath(const char *path, mode_t mode) {
    if (path == nullptr) return -1;
    struct stat st;
    if (stat(path, &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -1;

    std::string parent(path);
    size_t cut = parent.rfind('/');
    if (cut == std::string::npos) cut = parent.rfind('\\');
    if (cut == std::string::npos) return -1;
    parent.resize(cut);
    // The root itself ("/x" cut to "") exists; there is nothing to make.
    if (!parent.empty() && mk_fullpath(parent.c_str(), mode) != 0) return -1;
    return mkdir(path, mode) == 0 ? 0 : -1;
}

int robot_db_init() {
    mk_fullpath(get_robot_db_path(), 0755);
    sys_set_db_env(robot_db_open_env(get_robot_db_path()));
    return 0;
}

namespace {

// A new environment with a cache of cache_bytes opened in home with flags;
// null, with Berkeley DB's code in *rc, when it cannot be made or opened.
DB_ENV *open_env(const char *home, uint32_t flags, size_t cache_bytes, int *rc,
                 robot_db_errcall errcall = nullptr) {
    DB_ENV *env = nullptr;
    *rc = db_env_create(&env, 0);
    if (*rc != 0) return nullptr;
    env->set_errpfx(env, "robot");
    if (errcall != nullptr) env->set_errcall(env, errcall);
    // A size Berkeley DB refuses (far past the address space) falls back to a
    // reader's, rather than to Berkeley DB's own default of 256 KB.
    constexpr size_t kGigabyte = size_t{1} << 30;
    const size_t gigabytes = std::min<size_t>(cache_bytes / kGigabyte, UINT32_MAX);
    if (env->set_cachesize(env, static_cast<uint32_t>(gigabytes),
                           static_cast<uint32_t>(cache_bytes % kGigabyte), 0) != 0) {
        env->set_cachesize(env, 0, robot_db_cache_size, 0);
    }
    *rc = env->open(env, home, flags, 0);
    if (*rc != 0) {
        // A handle whose open failed may only be closed.
        env->close(env, 0);
        return nullptr;
    }
    return env;
}

}  // namespace

DB_ENV *robot_db_open_env(const char *home) {
    int rc = 0;
    DB_ENV *env = open_env(home, DB_CREATE | DB_PRIVATE | DB_INIT_MPOOL, robot_cache_budget(), &rc);
    if (env == nullptr) {
        errno = rc;
        rlog_write(0, 3, kSource, __LINE__, "DBENV->open failed: (errno %d)\n", rc);
    }
    return env;
}

DB_ENV *robot_db_open_env_read_only(const char *home, robot_db_errcall errcall) {
    int rc = 0;
    DB_ENV *env =
        open_env(home, DB_CREATE | DB_PRIVATE | DB_INIT_MPOOL, robot_db_cache_size, &rc, errcall);
    if (env == nullptr) errno = rc;
    return env;
}

int robot_db_shutdown() {
    DB_ENV *env = robot_db_env;
    robot_db_env = nullptr;
    if (env == nullptr) return 0;
    return robot_db_call([env] { return env->close(env, 0); });
}

std::mutex &robot_db_call_lock() {
    // Never destroyed: a handle closed while the process exits still takes it.
    static std::mutex *lock = new std::mutex;
    return *lock;
}

void sys_set_db_env(DB_ENV *env) {
    robot_db_env = env;
}

DB_ENV *sys_get_db_env() {
    return robot_db_env;
}

void sys_set_url_pool(url_pool *pool) {
    robot_url_pool = pool;
}

url_pool *sys_get_url_pool() {
    return robot_url_pool;
}
