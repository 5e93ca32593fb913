#include "tool/reading/reader_child.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

// Signals whose default action ends a program and that an operator, a
// shell or a pipeline may send it.
constexpr int kPassedOn[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR2};

// The bound children not yet reaped; 0 marks a free slot. A program has a
// reader and a verifier or two at a time; a child that finds no slot is
// still killed when this process ends.
constexpr size_t kMostChildren = 16;
std::atomic<pid_t> g_children[kMostChildren];
static_assert(std::atomic<pid_t>::is_always_lock_free, "read in a signal handler");

// Whether this process has put its handler in place (for the signals it
// did not ignore then: an ignored signal stays ignored, as its caller
// asked).
bool g_handling = false;

sigset_t passed_on_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : kPassedOn) sigaddset(&set, signal_number);
    return set;
}

// Passes the signal to every bound child, waits for them all, then ends
// this process by the same signal. Only async-signal-safe calls.
void end_with_children(int signal_number) {
    for (std::atomic<pid_t> &slot : g_children) {
        const pid_t child = slot.load();
        if (child <= 0) continue;
        kill(child, signal_number);
        // A child stopped by job control would not act on it until continued.
        kill(child, SIGCONT);
    }
    for (std::atomic<pid_t> &slot : g_children) {
        const pid_t child = slot.load();
        if (child <= 0) continue;
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        slot.store(0);
    }
    signal(signal_number, SIG_DFL);
    raise(signal_number);
    // Blocked while its handler runs: delivered, and fatal, once unblocked.
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, signal_number);
    sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
    _exit(128 + signal_number);  // not reached
}

// Called with the signals blocked.
void handle_passed_on_signals() {
    if (g_handling) return;
    g_handling = true;
    struct sigaction action = {};
    action.sa_handler = end_with_children;
    action.sa_mask = passed_on_set();
    for (int signal_number : kPassedOn) {
        struct sigaction before = {};
        if (sigaction(signal_number, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(signal_number, &action, nullptr);
    }
}

void remember(pid_t child) {
    for (std::atomic<pid_t> &slot : g_children) {
        pid_t free_slot = 0;
        if (slot.compare_exchange_strong(free_slot, child)) return;
    }
}

void forget(pid_t child) {
    for (std::atomic<pid_t> &slot : g_children) {
        pid_t mine = child;
        slot.compare_exchange_strong(mine, 0);
    }
}

// In a new child, with the signals blocked: the parent's handler and
// children are not its own.
void become_bound_child(pid_t parent) {
    for (int signal_number : kPassedOn) {
        struct sigaction now = {};
        if (sigaction(signal_number, nullptr, &now) == 0 && now.sa_handler == end_with_children) {
            signal(signal_number, SIG_DFL);
        }
    }
    g_handling = false;
    for (std::atomic<pid_t> &slot : g_children) slot.store(0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // A parent that ended before the request was made sends nothing.
    if (getppid() != parent) _exit(1);
}

}  // namespace

pid_t fork_bound_child() {
    // Blocked until the child is remembered: a signal that comes meanwhile
    // is passed on to it as well.
    const sigset_t passed_on = passed_on_set();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &passed_on, &before);
    handle_passed_on_signals();
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        become_bound_child(parent);
    } else if (child > 0) {
        remember(child);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return child;
}

bool wait_bound_child(pid_t child, int *status) {
    // Waited for without reaping: until it is reaped below, its pid stays
    // this child's, so a signal passed on meanwhile reaches nobody else.
    siginfo_t info;
    int rc;
    while ((rc = waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT)) != 0 &&
           errno == EINTR) {
    }
    const sigset_t passed_on = passed_on_set();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &passed_on, &before);
    bool reaped = false;
    if (rc == 0) {
        pid_t got;
        while ((got = waitpid(child, status, 0)) < 0 && errno == EINTR) {
        }
        reaped = got == child;
    }
    forget(child);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return reaped;
}

ReaderEnd run_reader_in_child(const std::function<int(pid_t parent)> &body,
                              const std::function<void(pid_t child)> &meanwhile) {
    std::fflush(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork_bound_child();
    if (child < 0) return ReaderEnd{body(parent), 0};
    if (child == 0) std::exit(body(parent));
    if (meanwhile) meanwhile(child);
    int status = 0;
    if (!wait_bound_child(child, &status)) return ReaderEnd{1, 0};
    if (WIFEXITED(status)) return ReaderEnd{WEXITSTATUS(status), 0};
    const int signal_number = WTERMSIG(status);
    if (signal_number == SIGPIPE) {
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
    }
    return ReaderEnd{0, signal_number};
}
