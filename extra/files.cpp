#include "extra/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

int write_all(int fd, const void *data, size_t size) {
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t wrote = write(fd, bytes, size);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) return errno;
        if (wrote == 0) return ENOSPC;
        bytes += wrote;
        size -= static_cast<size_t>(wrote);
    }
    return 0;
}

ssize_t pread_all(int fd, void *buffer, size_t size, uint64_t offset) {
    char *into = static_cast<char *>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t got = pread(fd, into + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}
