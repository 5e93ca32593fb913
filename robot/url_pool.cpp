#include "robot/url_pool.h"

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
constexpr size_t kPathCapacity = 2048;

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

storage_object *bank_at(const char *dir, const char *file) {
    std::string path = std::string(dir != nullptr ? dir : ".") + file;
    if (path.size() >= kPathCapacity) path.resize(kPathCapacity - 1);
    return create_storage_object(path.c_str());
}

bool open_created(storage_object *bank) {
    return bank->open(bank, DB_CREATE) != nullptr;
}

// The object of a record read into the bank's cursor key; null without data.
url_obj *object_of(storage_object *bank, const DBT &value) {
    if (value.data == nullptr || value.size == 0) return nullptr;
    return DBT2url_obj(&bank->cursor_key, &value);
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
    return bank->db->get(bank->db.get(), nullptr, &probe, &value, 0) == 0;
}

}  // namespace

url_pool *create_url_pool(const char *dir) {
    url_pool *pool = new (std::nothrow) url_pool;
    if (pool == nullptr) out_of_memory();
    pool->main_bank = bank_at(dir, "/enumerate.db");
    pool->backup_bank = bank_at(dir, "/enumerate_bak.db");
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
    if (bank->first(bank, &bank->cursor_key, &value) == 0) return 0;
    if (!start.empty()) {
        const DBT &found = bank->cursor_key;
        if (found.size <= start.size() + 1 ||
            std::memcmp(found.data, start.data(), start.size()) != 0) {
            return 0;
        }
    }
    *out = object_of(bank, value);
    return *out != nullptr ? 1 : 0;
}

int coll_next(storage_object *bank, url_obj **out) {
    if (bank == nullptr) return 0;
    if (out != nullptr) *out = nullptr;
    PoolLock hold;
    if (out == nullptr || !open_created(bank)) return 0;
    bank->cursor_key = DBT{};
    DBT value{};
    if (bank->next(bank, &bank->cursor_key, &value) == 0) return 0;
    *out = object_of(bank, value);
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
    if (coll_put(pool->backup_bank, obj) != 0) return 1;
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
