#include "extra/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t kPrefixLength = 5;
constexpr char kDefaultTempDir[] = "/tmp";

bool writable_dir(const char *dir) {
    struct stat st;
    return dir != nullptr && dir[0] != '\0' && stat(dir, &st) == 0 && S_ISDIR(st.st_mode) &&
           access(dir, W_OK | X_OK) == 0;
}

}  // namespace

int64_t libvel_filesize(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

time_t libvel_filelmt(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 ? st.st_mtime : 0;
}

int libvel_isdir(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && (st.st_mode & 0x4000) != 0 ? 1 : 0;
}

char *vel_tempnam(const char *prefix) {
    const char *tmpdir = std::getenv("TMPDIR");
    std::string name = writable_dir(tmpdir) ? tmpdir : kDefaultTempDir;
    name += '/';
    if (prefix != nullptr) name.append(prefix, strnlen(prefix, kPrefixLength));
    name += "XXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0) return nullptr;
    close(fd);
    return strdup(name.c_str());
}
