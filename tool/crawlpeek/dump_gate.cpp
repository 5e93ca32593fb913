#include "tool/crawlpeek/dump_gate.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "log/objlog.h"
#include "tool/reading/record_check.h"

namespace {

// Says on standard error (with why) and in the log (with what) that the whole
// dump does not walk url-visited.db.
void refuse_dump(const char *why, const char *what) {
    std::fprintf(stderr, "crawlpeek: url-visited.db %s; nothing is dumped\n", why);
    rlog_write(0, 3, "crawlpeek", __LINE__, "Visited url database %s\n", what);
}

}  // namespace

DumpGate::DumpGate(const std::string &path) : path_(path), owner_(getpid()), ends_{-1, -1} {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends_) != 0) ends_[0] = ends_[1] = -1;
}

DumpGate::~DumpGate() {
    for (int end : ends_) {
        if (end >= 0) close(end);
    }
}

bool DumpGate::verify() {
    // The verifier's own lines say what it found: they are not silenced.
    FileCheck check(path_, path_, 0, false);
    switch (check.finish()) {
        case RecordFileState::kSound:
            return true;
        case RecordFileState::kBeingWritten:
            std::fprintf(stderr,
                         "crawlpeek: a crawler is writing url-visited.db; records it changes "
                         "during the dump may be shown as they were, or not at all\n");
            return true;
        case RecordFileState::kDamaged:
            refuse_dump("does not pass verification: it is damaged", "does not pass verification");
            return false;
        case RecordFileState::kUnchecked:
            break;
    }
    if (check.reason() != 0) {
        const std::string why = std::string("could not be verified: ") + std::strerror(check.reason());
        refuse_dump(why.c_str(), why.c_str());
    } else {
        refuse_dump("could not be verified", "could not be verified");
    }
    return false;
}

bool DumpGate::judge(pid_t reader) {
    const bool go = verify();
    std::fflush(stderr);
    const char word = 1;
    // MSG_NOSIGNAL: a reader that has died already is no reason to die too.
    if (!go || ends_[0] < 0 || send(ends_[0], &word, 1, MSG_NOSIGNAL) != 1) {
        kill(reader, SIGKILL);
    }
    return go;
}

void DumpGate::hold_errors() {
    held_ = std::make_unique<TempFile>();
    if (held_->fd() < 0) return;
    std::fflush(stderr);
    saved_stderr_ = dup(STDERR_FILENO);
    if (saved_stderr_ >= 0) dup2(held_->fd(), STDERR_FILENO);
}

bool DumpGate::await() {
    if (saved_stderr_ >= 0) {
        std::fflush(stderr);
        dup2(saved_stderr_, STDERR_FILENO);
        close(saved_stderr_);
        saved_stderr_ = -1;
    }
    bool go = false;
    if (getpid() == owner_) {
        go = verify();
    } else if (ends_[0] >= 0) {
        close(ends_[0]);
        ends_[0] = -1;
        char word = 0;
        ssize_t got;
        while ((got = recv(ends_[1], &word, 1, 0)) < 0 && errno == EINTR) {
        }
        go = got == 1;
    }
    if (go && held_ != nullptr && held_->fd() >= 0) {
        const int fd = held_->fd();
        char buffer[4096];
        ssize_t got;
        for (off_t at = 0; (got = pread(fd, buffer, sizeof buffer, at)) > 0; at += got) {
            if (write(STDERR_FILENO, buffer, static_cast<size_t>(got)) != got) break;
        }
    }
    held_.reset();
    return go;
}
