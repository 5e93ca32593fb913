#include "tool/crawldb/errors.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

void crawldb_error(const char *format, ...) {
    std::fputs("crawldb: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

bool crawldb_readable(const std::string &path, bool directory) {
    struct stat st;
    int error = 0;
    if (stat(path.c_str(), &st) != 0) {
        error = errno;
    } else if (directory != S_ISDIR(st.st_mode)) {
        error = directory ? ENOTDIR : EISDIR;
    } else if (access(path.c_str(), directory ? R_OK | X_OK : R_OK) != 0) {
        error = errno;
    }
    if (error == 0) return true;
    crawldb_error("%s: %s", path.c_str(), std::strerror(error));
    return false;
}
