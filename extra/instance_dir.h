// Locating the server instance and files along a search path.
#ifndef CRAWLPEEK_EXTRA_INSTANCE_DIR_H_
#define CRAWLPEEK_EXTRA_INSTANCE_DIR_H_

#include <cstdint>

// Finds the directory of the server instance this process belongs to: a
// directory that holds "config/search.conf". The candidates, in order: the
// current directory; TAV_SERVER_ROOT (absolute, or relative to the current
// directory with each leading "../" removing one component of it; an empty
// value names the current directory, tested or not); VANTOR_ROOT joined with
// SERVER_NAMES, unless SERVER_NAMES is "admin-serv".
//
// 0 when the search ran: *out then holds the directory in a malloc'd
// 1024-byte string that the caller frees, or null when no candidate
// qualified. -1 (*out untouched) when the search cannot run: no memory, no
// current directory, or a candidate of 1024 characters or more built from
// TAV_SERVER_ROOT, or VANTOR_ROOT "/" SERVER_NAMES longer than 1023.
int32_t vel_instance_dir(char **out);

// The first existing "dir/name" for dir in the colon-separated list held by
// the environment variable envvar (empty elements are skipped, never taken
// as the current directory), else a copy of name. Always a malloc'd string
// that the caller frees; null only when memory runs out. Safe to call from
// several threads.
char *vel_search_path(const char *name, const char *envvar);

#endif  // CRAWLPEEK_EXTRA_INSTANCE_DIR_H_
