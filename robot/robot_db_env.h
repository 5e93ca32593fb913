// The storage layer's process-wide state: the database home directory, the
// one Berkeley DB environment every database file of the process shares, a
// recorded page size, and the registered URL pool.
//
// The environment has a memory pool only (no locking, logging or
// transactions), in the process's own memory, and is not free-threaded. The storage layer serialises every
// Berkeley DB call it makes with one lock of its own (robot_db_call), so the
// threads of the record operations and of the URL pool, each under its
// module's lock, may share it; a thread that calls Berkeley DB itself while
// others use the environment must do the same. The state is written at start-up
// and shutdown and read afterwards without a lock.
#ifndef CRAWLPEEK_ROBOT_ROBOT_DB_ENV_H_
#define CRAWLPEEK_ROBOT_ROBOT_DB_ENV_H_

#include <db.h>
#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>

struct url_pool;

// Size of a reader's memory pool: 10 MB.
inline constexpr uint32_t robot_db_cache_size = 10485760;

// The page size the host recorded, in bytes; 0 until one is set. Kept for
// the host: no database is created with it (Berkeley DB's default is used).
extern int32_t robot_db_page_size;

// Records a page size of kb kilobytes and returns kb, for 1 <= kb <= 64. Any
// other value is logged ("Invalid database page size"), leaves the recorded
// size alone and returns 0.
int32_t robot_db_set_page_size(int32_t kb);

// path when it begins with '/', else the working directory, '/' and path (not
// normalised); empty when the working directory cannot be read.
std::string robot_absolute_path(const std::string &path);

// The absolute database home: the host's state path when it begins with '/',
// else the working directory, '/', and the state path (not normalised).
// Computed on the first successful call and kept for the process; the caller
// does not free it. Null when the working directory cannot be read (a later
// call tries again). The first call must come before other threads start.
const char *get_robot_db_path();

// 0 when path is a directory, made now with every missing parent (each with
// mode) if it did not exist; -1 for a null path, a path that exists and is no
// directory, a relative name without any separator, or a failure to make it.
int mk_fullpath(const char *path, mode_t mode);

// Makes the database home and opens the environment in it, which
// sys_get_db_env returns afterwards (null when it could not be opened: files
// are then opened without a shared cache). Always 0.
int robot_db_init();

// The crawler's environment, opened in home: private to the process (no
// file of it is left in home, so a crawler killed at any moment leaves
// nothing that the next must join), with a cache of robot_cache_budget()
// bytes, taken as pages are read into it. Null when it cannot be opened
// (logged with Berkeley DB's code, also left in errno).
DB_ENV *robot_db_open_env(const char *home);

// Berkeley DB's way of reporting an environment's errors.
typedef void (*robot_db_errcall)(const DB_ENV *env, const char *prefix, const char *message);

// An environment for a reader that must leave the database home as it is: a
// private one in this process's memory, which writes no file and shares
// nothing with a crawler, so that a reader killed at any moment holds none of
// a crawler's latches and leaves no page of its cache half-written. Errors,
// those of the open included, go to errcall when one is given. Null when none
// opens (Berkeley DB's code in errno).
DB_ENV *robot_db_open_env_read_only(const char *home, robot_db_errcall errcall = nullptr);

// Closes the environment once every database of the process is closed, and
// forgets it first: the result of DB_ENV->close, or 0 when none was open.
int robot_db_shutdown();

void sys_set_db_env(DB_ENV *env);
DB_ENV *sys_get_db_env();

// The lock of the process's Berkeley DB calls. Without DB_THREAD, handles of
// one environment share per-process state that Berkeley DB guards only in a
// free-threaded environment (writing out a page of one file to make room for
// another reaches the handle of that file), so two threads must never be
// inside Berkeley DB at once, whatever files they use. It is the innermost
// lock: taken after the module locks (the visited-URL lock, the pool's lock)
// and never held while another lock is taken, so it closes no cycle with
// them. It is held for one call (or one open with its clean-up), never
// across calls: a module lock keeps a handle, its cursor and the memory a
// call returned in it to one thread from one call to the next.
std::mutex &robot_db_call_lock();

// Runs call, a Berkeley DB call and nothing that takes a lock, under
// robot_db_call_lock, and returns its result.
template <typename Call>
decltype(auto) robot_db_call(Call &&call) {
    std::lock_guard<std::mutex> hold(robot_db_call_lock());
    return call();
}

// The URL pool the pool operations act on; not owned.
void sys_set_url_pool(url_pool *pool);
url_pool *sys_get_url_pool();

#endif  // CRAWLPEEK_ROBOT_ROBOT_DB_ENV_H_
