// A reader bound to the program that started it: a signal given to the
// program reaches the reader, and no reader outlives its program.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "tool/reading/reader_child.h"

namespace {

// Processes orphaned while it lives come to this process to be reaped, so
// that a test sees how a reader that outlived its program ended.
class Subreaper {
  public:
    Subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 1); }
    ~Subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 0); }
    Subreaper(const Subreaper &) = delete;
    Subreaper &operator=(const Subreaper &) = delete;
};

// A program whose reader (and, when nested, the reader's own bound child,
// as a verifier is) waits for ever.
struct Program {
    pid_t pid = -1;
    pid_t reader = -1;
    pid_t grandchild = -1;  // -1 unless nested
};

void wait_for_ever() {
    for (;;) pause();
}

// Starts the program; ignored is a signal it ignores from the start (0:
// none). Returns once the reader and its child run.
Program start_program(bool nested, int ignored) {
    int ends[2];
    if (pipe(ends) != 0) return Program{};
    std::fflush(nullptr);
    Program program;
    program.pid = fork();
    if (program.pid == 0) {
        close(ends[0]);
        if (ignored != 0) signal(ignored, SIG_IGN);
        run_reader_in_child([&](pid_t) {
            pid_t pids[2] = {getpid(), -1};
            // The last one started says the pids, once it is bound to its
            // parent: only then is the program ready to be ended.
            if (nested && fork_bound_child() == 0) pids[1] = getpid();
            if ((!nested || pids[1] > 0) && write(ends[1], pids, sizeof pids) != sizeof pids) {
                _exit(1);
            }
            wait_for_ever();
            return 0;
        });
        // Reached only when the reader ended by itself: the test fails then.
        _exit(0);
    }
    close(ends[1]);
    pid_t pids[2] = {-1, -1};
    if (read(ends[0], pids, sizeof pids) != sizeof pids) pids[0] = -1;
    close(ends[0]);
    program.reader = pids[0];
    program.grandchild = pids[1];
    return program;
}

// How the process ended: the signal that ended it, or 1000 + its exit status.
int ending(int wstatus) {
    return WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 1000 + WEXITSTATUS(wstatus);
}

// How pid ended; -1 when it is no child of this process. One still running
// after a minute is killed, lest a reader that outlives its program hang
// the test (-2).
int wait_ending(pid_t pid) {
    int wstatus = 0;
    for (int tenths = 0; tenths < 600; ++tenths) {
        const pid_t got = waitpid(pid, &wstatus, WNOHANG);
        if (got == pid) return ending(wstatus);
        if (got < 0 && errno != EINTR) return -1;
        usleep(100000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &wstatus, 0);
    return -2;
}

// Whether pid, which may have come to this process as an orphan, is still
// running; when it is, it is killed so that the test ends.
bool outlived(pid_t pid) {
    if (pid <= 0) return false;
    int wstatus = 0;
    const pid_t got = waitpid(pid, &wstatus, WNOHANG);
    if (got != 0) return false;  // reaped by its parent (-1) or just ended
    kill(pid, SIGKILL);
    waitpid(pid, &wstatus, 0);
    return true;
}

TEST(ReaderChild, ASignalGivenToTheProgramEndsItsReadersFirstThenTheProgram) {
    Subreaper subreaper;
    const struct {
        int signal;
        bool nested;
    } cases[] = {{SIGTERM, false}, {SIGINT, false}, {SIGHUP, false}, {SIGPIPE, false},
                 {SIGALRM, false}, {SIGUSR2, false}, {SIGTERM, true},  {SIGINT, true}};
    for (const auto &c : cases) {
        const std::string name = std::string(strsignal(c.signal)) + (c.nested ? ", nested" : "");
        const Program program = start_program(c.nested, 0);
        ASSERT_GT(program.reader, 0) << name;
        kill(program.pid, c.signal);
        EXPECT_EQ(wait_ending(program.pid), c.signal) << name;
        // Reaped by their parents before those ended: none came here.
        EXPECT_FALSE(outlived(program.reader)) << name;
        EXPECT_FALSE(outlived(program.grandchild)) << name;
        EXPECT_EQ(waitpid(program.reader, nullptr, WNOHANG), -1) << name;
    }
}

TEST(ReaderChild, ASignalTheProgramIgnoredFromTheStartStaysIgnored) {
    Subreaper subreaper;
    const Program program = start_program(false, SIGHUP);
    ASSERT_GT(program.reader, 0);
    kill(program.pid, SIGHUP);
    kill(program.reader, SIGHUP);
    // Both still run: the next signal is the one that ends them.
    kill(program.pid, SIGTERM);
    EXPECT_EQ(wait_ending(program.pid), SIGTERM);
    EXPECT_FALSE(outlived(program.reader));
}

TEST(ReaderChild, AReaderDiesWithAProgramKilledOutright) {
    Subreaper subreaper;
    for (const bool nested : {false, true}) {
        const Program program = start_program(nested, 0);
        ASSERT_GT(program.reader, 0);
        kill(program.pid, SIGKILL);
        EXPECT_EQ(wait_ending(program.pid), SIGKILL);
        // The orphans come here; each is killed as its parent ends.
        EXPECT_EQ(wait_ending(program.reader), SIGKILL) << nested;
        if (nested) {
            EXPECT_EQ(wait_ending(program.grandchild), SIGKILL);
        }
    }
}

}  // namespace
