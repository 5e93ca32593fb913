#include "robot/vurl_writer_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The descriptor that holds this process's mark, or -1.
int g_mark_fd = -1;

int open_for_lock(const char *path) {
    int fd;
    do {
        fd = open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int try_lock(int fd, int operation) {
    int result;
    do {
        result = flock(fd, operation | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result;
}

}  // namespace

int vurl_writer_lock_take(const char *path) {
    vurl_writer_lock_release();
    const int fd = open_for_lock(path);
    if (fd < 0) return 0;
    if (try_lock(fd, LOCK_EX) != 0) {
        close(fd);
        return 0;
    }
    g_mark_fd = fd;
    return 1;
}

void vurl_writer_lock_release() {
    if (g_mark_fd < 0) return;
    // Closing the only descriptor of the open file drops its lock.
    close(g_mark_fd);
    g_mark_fd = -1;
}

int vurl_writer_lock_held(const char *path) {
    const int fd = open_for_lock(path);
    if (fd < 0) return 0;
    // A shared lock is refused only while an exclusive one is held, so
    // readers testing at once do not see each other.
    const int held = try_lock(fd, LOCK_SH) != 0 && errno == EWOULDBLOCK ? 1 : 0;
    close(fd);
    return held;
}
