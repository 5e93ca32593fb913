#include "robot/url_pool.h"

#include <limits.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "extra/malloc_ptr.h"
#include "log/objlog.h"
#include "robot/crawler_hooks.h"
#include "robot/dbt.h"
#include "robot/robot_db_env.h"

namespace {

constexpr char kSource[] = "robot_db";

std::atomic<time_t (*)()> pool_clock{nullptr};

time_t now() {
    time_t (*clock)() = pool_clock.load();
    return clock != nullptr ? clock() : std::time(nullptr);
}

// Holds the registered pool's db2_lock, when there is a pool.
class PoolLock {
  public:
    PoolLock() : pool_(sys_get_url_pool()) {
        if (pool_ != nullptr) pool_->db2_lock.lock();
    }
    ~PoolLock() {
        if (pool_ != nullptr) pool_->db2_lock.unlock();
    }
    PoolLock(const PoolLock &) = delete;
    PoolLock &operator=(const PoolLock &) = delete;

  private:
    url_pool *pool_;
};

struct FreeDbt {
    void operator()(DBT *dbt) const { destroy_DBT(dbt); }
};

// The pool's directory made absolute, so that Berkeley DB's opens (which
// resolve a relative name against the environment's home) and the removals
// of the restore and of cleaning (which would resolve it against the working
// directory) name the same files. A relative dir is joined to the home of
// the environment open now, else to the working directory. Empty when the
// working directory cannot be read.
std::string absolute_dir(const char *dir) {
    std::string path = dir != nullptr ? dir : ".";
    if (path[0] != '/') {
        const char *home = nullptr;
        DB_ENV *env = sys_get_db_env();
        if (env != nullptr && robot_db_call([&] { return env->get_home(env, &home); }) == 0 &&
            home != nullptr) {
            path = std::string(home) + "/" + path;
        }
        path = robot_absolute_path(path);
    }
    // A trailing "/." names the directory itself.
    if (path.size() > 2 && path.ends_with("/.")) path.resize(path.size() - 2);
    return path;
}

bool open_created(storage_object *bank) {
    return bank->open(bank, DB_CREATE) != nullptr;
}

// The object of a record read into the bank's cursor key; null without data
// or key, or when the value does not decode.
url_obj *object_of(storage_object *bank, const DBT &value) {
    if (value.data == nullptr || value.size == 0 || bank->cursor_key.size == 0) return nullptr;
    return DBT2url_obj(&bank->cursor_key, &value);
}

// Whether the key read into the bank's cursor key is one of the collection
// whose smallest key is start ("P|"): P, '|' and at least one more byte.
// Every key is, with start empty.
bool in_collection(const storage_object *bank, const std::string &start) {
    const DBT &key = bank->cursor_key;
    return start.empty() || (key.size > start.size() + 1 &&
                             std::memcmp(key.data, start.data(), start.size()) == 0);
}

// The object of the record the bank's cursor has just read (found nonzero),
// or of the first record after it that decodes: one that does not is passed
// over with a log line, so that it cannot end every walk of the bank. Null
// at the end of the file, on a read error, or at a key outside the
// collection of start.
url_obj *decodable_from(storage_object *bank, int found, DBT *value, const std::string &start) {
    for (; found != 0 && in_collection(bank, start);
         found = bank->next(bank, &bank->cursor_key, value)) {
        if (url_obj *obj = object_of(bank, *value)) return obj;
        rlog_write(0, 3, kSource, __LINE__, "Record %s of %s cannot be decoded, passed over\n",
                   key_text(&bank->cursor_key).c_str(), bank->name.c_str());
        bank->cursor_key = DBT{};
        *value = DBT{};
    }
    return nullptr;
}

int store(storage_object *bank, url_obj *obj, bool replace) {
    if (bank == nullptr || obj == nullptr || obj->url == nullptr || obj->url[0] == '\0' ||
        obj->key == nullptr) {
        return 0;
    }
    PoolLock hold;
    if (!open_created(bank)) return 0;
    DBT key = string_key(obj->key);
    std::unique_ptr<DBT, FreeDbt> value(url_obj2DBT(obj));
    return replace ? bank->update(bank, &key, value.get()) : bank->put(bank, &key, value.get());
}

// Whether the bank holds key; the bank is open.
bool holds(storage_object *bank, const DBT &key) {
    DBT probe = key;
    DBT value{};
    value.flags = DB_DBT_PARTIAL;  // presence only: no bytes are copied
    return sto_read(bank, &probe, &value) == 0;
}

}  // namespace

url_pool *create_url_pool(const char *dir) {
    const std::string home = absolute_dir(dir);
    // A path is never cut: two banks cut to one name would be one file.
    if (home.empty() || home.size() + 1 + sizeof kUrlPoolBackupFile > PATH_MAX) {
        rlog_write(0, 3, kSource, __LINE__, "URL pool directory %s cannot hold its files\n",
                   dir != nullptr ? dir : ".");
        return nullptr;
    }
    url_pool *pool = new (std::nothrow) url_pool;
    if (pool == nullptr) out_of_memory();
    pool->main_bank = create_storage_object((home + "/" + kUrlPoolMainFile).c_str());
    pool->backup_bank = create_storage_object((home + "/" + kUrlPoolBackupFile).c_str());
    return pool;
}

int destroy_url_pool(url_pool *pool) {
    if (pool == nullptr) return 0;
    destroy_storage_object(pool->main_bank, 1);
    destroy_storage_object(pool->backup_bank, 1);
    delete pool;
    return 0;
}

int coll_open(storage_object *bank, uint32_t flags) {
    if (bank == nullptr) return 0;
    PoolLock hold;
    return bank->open(bank, flags) != nullptr ? 1 : 0;
}

int coll_close(storage_object *bank) {
    if (bank == nullptr) return 0;
    PoolLock hold;
    bank->close(bank);
    return 0;
}

int coll_put(storage_object *bank, url_obj *obj) {
    return store(bank, obj, false);
}

int coll_update(storage_object *bank, url_obj *obj) {
    return store(bank, obj, true);
}

int coll_get(storage_object *bank, const char *key, url_obj **out) {
    if (out != nullptr) *out = nullptr;
    if (bank == nullptr || key == nullptr || out == nullptr) return 0;
    PoolLock hold;
    if (!open_created(bank)) return 0;
    DBT k = string_key(key);
    DBT value{};
    if (bank->get(bank, &k, &value) == 0) return 0;
    *out = DBT2url_obj(&k, &value);
    return *out != nullptr ? 1 : 0;
}

int coll_del(storage_object *bank, const char *key) {
    if (bank == nullptr || key == nullptr) return 0;
    PoolLock hold;
    if (!open_created(bank)) return 0;
    DBT k = string_key(key);
    return bank->del(bank, &k);
}

int coll_set_cursor(storage_object *bank, url_obj *obj) {
    if (bank == nullptr || obj == nullptr || obj->key == nullptr) return 0;
    PoolLock hold;
    if (!open_created(bank)) return 0;
    DBT key = string_key(obj->key);
    DBT value{};
    return bank->set_cursor(bank, &key, &value);
}

int coll_cursor_del(storage_object *bank) {
    if (bank == nullptr) return 0;
    PoolLock hold;
    return bank->cursor_del(bank);
}

int32_t coll_count(storage_object *bank) {
    if (bank == nullptr) return 0;
    PoolLock hold;
    return bank->count;
}

int coll_first(storage_object *bank, url_obj **out, const char **prefix) {
    if (bank == nullptr) return 0;
    if (out != nullptr) *out = nullptr;
    PoolLock hold;
    if (out == nullptr || !open_created(bank)) return 0;
    bank->cursor_key = DBT{};
    // "P|" and its zero: the smallest key of the collection P.
    std::string start;
    if (prefix != nullptr && *prefix != nullptr) {
        start = std::string(*prefix) + '|';
        bank->cursor_key.data = start.data();
        bank->cursor_key.size = static_cast<uint32_t>(start.size() + 1);
    }
    DBT value{};
    const int found = bank->first(bank, &bank->cursor_key, &value);
    *out = decodable_from(bank, found, &value, start);
    return *out != nullptr ? 1 : 0;
}

int coll_next(storage_object *bank, url_obj **out) {
    if (bank == nullptr) return 0;
    if (out != nullptr) *out = nullptr;
    PoolLock hold;
    if (out == nullptr || !open_created(bank)) return 0;
    bank->cursor_key = DBT{};
    DBT value{};
    const int found = bank->next(bank, &bank->cursor_key, &value);
    *out = decodable_from(bank, found, &value, std::string());
    return *out != nullptr ? 1 : 0;
}

int coll_clean(storage_object *bank) {
    if (bank == nullptr) return 0;
    if (bank->open(bank, DB_RDONLY) == nullptr) return 1;
    bank->close(bank);
    std::remove(bank->name.c_str());
    if (!open_created(bank)) return 0;
    bank->close(bank);
    bank->count = 0;
    return 1;
}

int url_pool_put_url_obj(url_obj *obj) {
    url_pool *pool = sys_get_url_pool();
    if (pool == nullptr || obj == nullptr) return 0;
    const int stored = coll_put(pool->main_bank, obj);
    if (stored != 0) url_pool_set_dirty_flag(1);
    return stored;
}

int url_pool_backup_url(url_obj *obj) {
    url_pool *pool = sys_get_url_pool();
    if (pool == nullptr || obj == nullptr || obj->key == nullptr) return 0;
    if (coll_del(pool->main_bank, obj->key) == 0) return 0;
    // A URL met again while it was in work is in the backup bank already:
    // this object replaces it there, so the URL is held once and the move
    // succeeds (a put would fail on the stored key every time).
    if (coll_update(pool->backup_bank, obj) != 0) return 1;
    // The URL is in neither bank now; it goes back where it came from.
    coll_put(pool->main_bank, obj);
    return 0;
}

int url_pool_done_url_by_key(const char *key) {
    url_pool *pool = sys_get_url_pool();
    if (pool == nullptr || key == nullptr) return 0;
    return coll_del(pool->backup_bank, key);
}

url_obj *url_pool_first_url(const char **prefix) {
    url_pool *pool = sys_get_url_pool();
    if (pool == nullptr || coll_count(pool->main_bank) == 0) return nullptr;
    url_obj *obj = nullptr;
    coll_first(pool->main_bank, &obj, prefix);
    return obj;
}

url_obj *url_pool_next_url() {
    url_pool *pool = sys_get_url_pool();
    if (pool == nullptr || coll_count(pool->main_bank) == 0) return nullptr;
    url_obj *obj = nullptr;
    coll_next(pool->main_bank, &obj);
    return obj;
}

int32_t url_pool_get_count() {
    url_pool *pool = sys_get_url_pool();
    return pool != nullptr ? coll_count(pool->main_bank) : 0;
}

int url_pool_refresh_counter() {
    url_pool *pool = sys_get_url_pool();
    if (pool == nullptr) return 0;
    PoolLock hold;
    storage_object *bank = pool->main_bank;
    int32_t records = 0;
    if (bank->open(bank, DB_RDONLY) != nullptr) {
        DBT key{}, value{};
        for (int more = bank->first(bank, &key, &value); more != 0;
             more = bank->next(bank, &key, &value)) {
            ++records;
        }
        bank->close(bank);
    }
    bank->count = records;
    return 0;
}

int url_pool_restore_db() {
    url_pool *pool = sys_get_url_pool();
    if (pool == nullptr) return 0;
    storage_object *main = pool->main_bank;
    storage_object *backup = pool->backup_bank;
    if (backup->open(backup, DB_RDONLY) == nullptr) return 0;
    if (!open_created(main)) return 0;

    int32_t restored = 0;
    bool complete = true;
    backup->cursor_key = DBT{};
    DBT value{};
    for (int more = backup->first(backup, &backup->cursor_key, &value); more != 0;
         more = backup->next(backup, &backup->cursor_key, &value)) {
        // Already waiting in the main bank: a restore that stopped half-way
        // had moved it.
        if (!holds(main, backup->cursor_key) && main->put(main, &backup->cursor_key, &value) == 0) {
            rlog_write(0, 3, kSource, __LINE__, "Restore failed on writing %s\n",
                       main->name.c_str());
            complete = false;
            break;
        }
        ++restored;
    }
    // The walk also stops on a read error, which is no end of the file.
    if (complete && backup->cursor_result != DB_NOTFOUND) {
        rlog_write(0, 3, kSource, __LINE__, "Restore failed on reading %s (error=%d)\n",
                   backup->name.c_str(), backup->cursor_result);
        complete = false;
    }
    main->close(main);
    backup->close(backup);
    rlog_write(1, 0, kSource, __LINE__, "Restore %d URLs from %s to %s\n", restored,
               backup->name.c_str(), main->name.c_str());
    // The records not moved stay in the backup file for the next restore.
    if (complete) {
        std::remove(backup->name.c_str());
        backup->count = 0;
    }
    return 0;
}

int url_pool_clean() {
    url_pool *pool = sys_get_url_pool();
    if (pool == nullptr) return 0;
    coll_clean(pool->main_bank);
    return coll_clean(pool->backup_bank);
}

int close_all_url_banks() {
    url_pool *pool = sys_get_url_pool();
    if (pool == nullptr) return 0;
    coll_close(pool->main_bank);
    return coll_close(pool->backup_bank);
}

void url_pool_set_dirty_flag(int32_t flag) {
    url_pool *pool = sys_get_url_pool();
    if (pool == nullptr) return;
    std::lock_guard<std::mutex> hold(pool->state_lock);
    pool->dirty = flag;
    pool->ready_time = 0;
}

int32_t url_pool_get_dirty_flag() {
    url_pool *pool = sys_get_url_pool();
    if (pool == nullptr) return 0;
    std::lock_guard<std::mutex> hold(pool->state_lock);
    return pool->dirty;
}

void url_pool_backoff(int32_t seconds) {
    url_pool *pool = sys_get_url_pool();
    if (pool == nullptr) return;
    std::lock_guard<std::mutex> hold(pool->state_lock);
    pool->ready_time = static_cast<int32_t>(now() + seconds);
}

int url_pool_is_ready() {
    url_pool *pool = sys_get_url_pool();
    if (pool == nullptr) return 0;
    std::lock_guard<std::mutex> hold(pool->state_lock);
    if (pool->dirty != 0) {
        pool->dirty = 0;
        pool->ready_time = static_cast<int32_t>(now());
        return 1;
    }
    return now() >= pool->ready_time ? 1 : 0;
}

void pool_db2_lock() {
    if (url_pool *pool = sys_get_url_pool()) pool->db2_lock.lock();
}

void pool_db2_unlock() {
    if (url_pool *pool = sys_get_url_pool()) pool->db2_lock.unlock();
}

void url_pool_set_clock(time_t (*clock)()) {
    pool_clock = clock;
}
