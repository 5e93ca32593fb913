#include "tool/reading/reader_child.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

ReaderEnd run_reader_in_child(const std::function<int(pid_t parent)> &body,
                              const std::function<void(pid_t child)> &meanwhile) {
    std::fflush(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) return ReaderEnd{body(parent), 0};
    if (child == 0) std::exit(body(parent));
    if (meanwhile) meanwhile(child);
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return ReaderEnd{1, 0};
    }
    if (WIFEXITED(status)) return ReaderEnd{WEXITSTATUS(status), 0};
    const int signal_number = WTERMSIG(status);
    if (signal_number == SIGPIPE) {
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
    }
    return ReaderEnd{0, signal_number};
}
