#include "tool/crawldb/held_stderr.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

HeldStderr::HeldStderr() {
    std::fflush(stderr);
    held_ = memfd_create("crawldb-stderr", MFD_CLOEXEC);
    if (held_ < 0) return;
    stderr_ = dup(STDERR_FILENO);
    if (stderr_ < 0 || dup2(held_, STDERR_FILENO) < 0) {
        if (stderr_ >= 0) close(stderr_);
        close(held_);
        held_ = stderr_ = -1;
    }
}

void HeldStderr::discard() {
    if (held_ < 0) return;
    std::fflush(stderr);
    if (ftruncate(held_, 0) == 0) lseek(held_, 0, SEEK_SET);
}

void HeldStderr::release() {
    if (held_ < 0) return;
    std::fflush(stderr);
    dup2(stderr_, STDERR_FILENO);
    close(stderr_);
    char buffer[1 << 14];
    lseek(held_, 0, SEEK_SET);
    for (ssize_t got; (got = read(held_, buffer, sizeof buffer)) > 0;) {
        for (ssize_t put = 0; put < got;) {
            const ssize_t wrote = write(STDERR_FILENO, buffer + put, static_cast<size_t>(got - put));
            if (wrote <= 0) break;
            put += wrote;
        }
    }
    close(held_);
    held_ = stderr_ = -1;
}
