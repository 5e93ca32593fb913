#include "robot/vurl_writer_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The descriptor that holds the mark, or -1, and the process that took it:
// a child forked without exec inherits both but not the right to unlock.
int g_mark_fd = -1;
pid_t g_mark_owner = 0;

int open_retrying(const char *path, int flags) {
    int fd;
    do {
        fd = open(path, flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

struct flock whole_file(short type) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 0;  // to the end, however the file grows
    return range;
}

}  // namespace

int vurl_writer_lock_take(const char *path) {
    vurl_writer_lock_release();
    // A write lock needs a descriptor open for writing.
    const int fd = open_retrying(path, O_RDWR);
    if (fd < 0) return 0;
    struct flock range = whole_file(F_WRLCK);
    if (fcntl(fd, F_OFD_SETLK, &range) != 0) {
        close(fd);
        return 0;
    }
    g_mark_fd = fd;
    g_mark_owner = getpid();
    return 1;
}

void vurl_writer_lock_release() {
    if (g_mark_fd < 0) return;
    // A child forked without exec shares the open file, and closing this
    // descriptor alone would leave the lock to it: the owner unlocks the file
    // itself. A child only lets go of its copy, or it would unlock the file
    // its parent is still writing.
    if (g_mark_owner == getpid()) {
        struct flock range = whole_file(F_UNLCK);
        fcntl(g_mark_fd, F_OFD_SETLK, &range);
    }
    close(g_mark_fd);
    g_mark_fd = -1;
}

int vurl_writer_lock_held(const char *path) {
    const int fd = open_retrying(path, O_RDONLY);
    if (fd < 0) return 0;
    // Asks whether a write lock could be placed; nothing is taken.
    struct flock range = whole_file(F_WRLCK);
    const int rc = fcntl(fd, F_OFD_GETLK, &range);
    close(fd);
    return rc == 0 && range.l_type != F_UNLCK ? 1 : 0;
}
