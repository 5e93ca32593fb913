#include "extra/child_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "extra/rlimits.h"
#include "log/log.h"

namespace {

constexpr char kSource[] = "extra";
constexpr char kShell[] = "/bin/sh";
constexpr int kFdLimit = 256;

// Between fork and exec the child of a threaded process may only make
// async-signal-safe calls: another thread may have held the module log's
// lock, or the allocator's, at the moment of the fork, and the child would
// wait for it for ever. So the child reports nothing and allocates nothing.

void ignore_signal(int signo) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(signo, &action, nullptr);
}

[[noreturn]] void exec_shell(const char *command) {
    char *const argv[] = {const_cast<char *>(kShell), const_cast<char *>("-c"),
                          const_cast<char *>(command), nullptr};
    execv(kShell, argv);
    _exit(1);
}

[[noreturn]] void run_child(const char *command, const char *dir, int32_t nofile,
                            int32_t cputime, int32_t ignore_signals) {
    if (ignore_signals != 0) {
        for (int signo : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) ignore_signal(signo);
    }
    if (dir != nullptr && chdir(dir) != 0) {
        // As with the shell's own cd failing, the command still runs.
    }
    if (nofile != 0) vel_set_soft_limit(RLIMIT_NOFILE, static_cast<rlim_t>(nofile), false);
    if (cputime != 0) vel_set_soft_limit(RLIMIT_CPU, static_cast<rlim_t>(cputime), false);
    exec_shell(command);
}

// The exit status of the child that ended with wait status `status`; a child
// killed by a signal gives 128 plus the signal number, as a shell reports it,
// so that it never passes for success.
int32_t exit_status(int status) {
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

int32_t wait_for(pid_t pid, vel_poll_fn poll) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno == ECHILD) return 0;
        if (errno != EINTR) {
            vellog_write(1, 2, kSource, __LINE__, "waitpid (pid=%d): %s\n", static_cast<int>(pid),
                         strerror(errno));
            return 0;
        }
        if (poll != nullptr) poll();
    }
    return exit_status(status);
}

// Closes every descriptor above 2, however high the caller's limit lets
// them go.
void close_above_stderr() {
    if (close_range(3, ~0U, 0) == 0) return;
    // Kernels before 5.9 lack close_range.
    struct rlimit files;
    rlim_t limit = getrlimit(RLIMIT_NOFILE, &files) == 0 ? files.rlim_cur : kFdLimit;
    if (limit == RLIM_INFINITY || limit > INT_MAX) limit = INT_MAX;
    for (int fd = 3; fd < static_cast<int>(limit); ++fd) close(fd);
}

bool listed(int fd, const int32_t *keep) {
    for (; keep != nullptr && *keep != -1; ++keep) {
        if (*keep == fd) return true;
    }
    return false;
}

}  // namespace

int32_t vel_limited_cli_run_wait(const char *command, const char *dir, int32_t nofile,
                                 int32_t cputime, int32_t ignore_signals, int32_t /*no_pipe*/,
                                 vel_poll_fn poll, int32_t wait, int32_t /*flush*/) {
    // On Linux fork copies only the calling thread; the others do not run in
    // the child.
    pid_t pid = fork();
    if (pid < 0) {
        vellog_write(1, 3, kSource, __LINE__, "fork: %s\n", strerror(errno));
        return -1;
    }
    if (pid == 0) run_child(command, dir, nofile, cputime, ignore_signals);
    if (wait == 0) return 0;
    return wait_for(pid, poll);
}

int32_t vel_cli_run(const char *command, const char *dir) {
    return vel_limited_cli_run_wait(command, dir, 0, 0, 0, 0, nullptr, 1, 1);
}

int32_t vel_cli_run_no_pipe(const char *command, const char *dir) {
    return vel_limited_cli_run_wait(command, dir, 0, 0, 0, 1, nullptr, 1, 1);
}

int32_t vel_cli_run_poll(const char *command, const char *dir, vel_poll_fn poll) {
    return vel_limited_cli_run_wait(command, dir, 0, 0, 0, 0, poll, 1, 1);
}

int32_t vel_cli_run_no_pipe_poll(const char *command, const char *dir, vel_poll_fn poll) {
    return vel_limited_cli_run_wait(command, dir, 0, 0, 0, 1, poll, 1, 1);
}

int32_t vel_cli_run_no_flush(const char *command, const char *dir) {
    return vel_limited_cli_run_wait(command, dir, 0, 0, 0, 0, nullptr, 1, 0);
}

int32_t vel_limited_cli_run(const char *command, const char *dir, int32_t nofile, int32_t cputime,
                            int32_t ignore_signals, int32_t no_pipe, vel_poll_fn poll) {
    return vel_limited_cli_run_wait(command, dir, nofile, cputime, ignore_signals, no_pipe, poll,
                                    1, 1);
}

int32_t libvel_pipe2cmd(const char *command, int32_t *write_fd) {
    // Both ends are closed on exec, so that no command the caller starts,
    // through this or any other way, carries a copy of the write end and
    // keeps the input open after the caller has closed it.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        vellog_write(1, 3, kSource, __LINE__, "pipe: %s\n", strerror(errno));
        return -1;
    }
    *write_fd = fds[1];
    // Only the calling thread is copied into the child (Linux fork).
    pid_t pid = fork();
    if (pid < 0) {
        vellog_write(1, 3, kSource, __LINE__, "fork: %s\n", strerror(errno));
        // The write end is the caller's now; the read end nobody else holds.
        close(fds[0]);
        return -1;
    }
    if (pid > 0) {
        close(fds[0]);
        return pid;
    }
    ignore_signal(SIGUSR1);
    ignore_signal(SIGUSR2);
    // dup2 gives the copy on 0 no close-on-exec flag; a read end that is
    // already 0 loses its flag by hand.
    if (fds[0] == 0) {
        if (fcntl(0, F_SETFD, 0) != 0) _exit(1);
    } else if (dup2(fds[0], 0) < 0) {
        _exit(1);
    }
    close_above_stderr();
    exec_shell(command);
}

void libvel_daemonize(int32_t do_fork, const char *pidfile) {
    if (do_fork != 0) {
        pid_t pid = fork();
        if (pid < 0) {
            vellog_write(1, 3, kSource, __LINE__, "daemon: unable to fork new process (%s)\n",
                         strerror(errno));
            exit(1);
        }
        // Leave without flushing stdio: the buffers belong to the child now,
        // which writes them once.
        if (pid > 0) _exit(0);
        if (setsid() < 0) {
            vellog_write(1, 3, kSource, __LINE__, "daemon: setsid failed (%s)\n", strerror(errno));
            exit(1);
        }
    }
    if (pidfile == nullptr) return;
    FILE *fp = fopen(pidfile, "w");
    if (fp == nullptr) {
        vellog_write(1, 3, kSource, __LINE__, "daemon: can't log pid to %s (%s)\n", pidfile,
                     strerror(errno));
        exit(1);
    }
    fprintf(fp, "%d\n", static_cast<int>(getpid()));
    fclose(fp);
}

void close_all_fds_except(int32_t from, const int32_t *keep) {
    for (int fd = from < 0 ? 0 : from; fd < kFdLimit; ++fd) {
        if (!listed(fd, keep)) close(fd);
    }
}
