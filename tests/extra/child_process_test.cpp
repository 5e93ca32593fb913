#include "extra/child_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "extra/rlimits.h"
#include "log/log.h"
#include "support/scratch_dir.h"

namespace {

// Waits up to ten seconds for pid; its exit status, or -1.
int reap_within_ten_seconds(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 1000; ++i, usleep(10000)) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done != 0) return done == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// Runs body in a forked child, with its module log in the file log when one is
// named; the child's exit status, or -1.
int in_child(const std::function<int()> &body, const std::string &log = "") {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (!log.empty()) vellog_init(1, log.c_str());
        const int status = body();
        vellog_terminate();
        _exit(status);
    }
    return pid < 0 ? -1 : reap_within_ten_seconds(pid);
}

bool is_open(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

TEST(CliRun, EveryVariantGivesTheCommandsExitStatus) {
    EXPECT_EQ(vel_cli_run("exit 0", nullptr), 0);
    EXPECT_EQ(vel_cli_run("exit 3", nullptr), 3);
    EXPECT_EQ(vel_cli_run_no_pipe("exit 3", nullptr), 3);
    EXPECT_EQ(vel_cli_run_no_flush("exit 3", nullptr), 3);
    EXPECT_EQ(vel_cli_run_poll("test \"$(pwd -P)\" = /", "/", nullptr), 0);
    EXPECT_EQ(vel_cli_run_no_pipe_poll("exit 3", nullptr, nullptr), 3);
    // A child ended by a signal is no success, unless told to ignore it.
    EXPECT_EQ(vel_cli_run("kill -TERM $$", nullptr), 128 + SIGTERM);
    EXPECT_EQ(vel_limited_cli_run("kill -TERM $$; exit 4", nullptr, 0, 0, 1, 0, nullptr), 4);
    const char *limits = "test $(ulimit -n) = 17 && test $(ulimit -t) = 9";
    EXPECT_EQ(vel_limited_cli_run(limits, nullptr, 17, 9, 0, 0, nullptr), 0);
    // Without waiting the child is left to the caller.
    EXPECT_EQ(vel_limited_cli_run_wait("exit 5", nullptr, 0, 0, 0, 0, nullptr, 0, 1), 0);
    int status = 0;
    ASSERT_GT(wait(&status), 0);
    EXPECT_EQ(WEXITSTATUS(status), 5);
}

// A signal that interrupts the wait calls poll, and the wait goes on to the
// child's end.
TEST(CliRun, ASignalDuringTheWaitCallsPollAndTheWaitGoesOn) {
    static int polls;
    auto body = [] {
        struct sigaction action = {};
        action.sa_handler = [](int) {};  // no SA_RESTART: the wait is interrupted
        sigaction(SIGUSR1, &action, nullptr);
        polls = 0;
        const int32_t status =
            vel_cli_run_poll("kill -USR1 $PPID; sleep 0.2; exit 6", nullptr, [] { ++polls; });
        return status == 6 && polls == 1 ? 0 : 1;
    };
    EXPECT_EQ(in_child(body), 0);
}

// The fed command reads what is written and must see the end of its input as
// soon as the caller closes the write end: no copy of that end may live on in
// the command itself, even above descriptor 255, nor in a command started
// while it runs. The command keeps no descriptor above 2 at all.
TEST(Pipe2Cmd, TheCommandReadsItsInputToTheEnd) {
    struct rlimit files;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    if (files.rlim_cur < 400) GTEST_SKIP() << "needs 400 open files";
    ScratchDir dir;
    const std::string command =
        "test ! -e /proc/self/fd/300 && exec cat >'" + dir.file("got") + "'";
    for (bool high : {true, false}) {
        SCOPED_TRACE(high ? "write end above 255" : "a command started meanwhile");
        std::vector<int> fillers;  // the low numbers up to 300, so that the pipe's are higher
        while (high && (fillers.empty() || fillers.back() < 300)) {
            fillers.push_back(dup(2));
            ASSERT_GE(fillers.back(), 0);
        }
        int32_t fd = -1;
        const int32_t pid = libvel_pipe2cmd(command.c_str(), &fd);
        for (int filler : fillers) close(filler);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(fd >= 256, high);
        int hold[2];  // the meanwhile command waits for a line on hold[0]
        ASSERT_EQ(pipe(hold), 0);
        const std::string waiter = "read line <&" + std::to_string(hold[0]);
        if (!high) vel_limited_cli_run_wait(waiter.c_str(), nullptr, 0, 0, 0, 0, nullptr, 0, 1);
        ASSERT_EQ(write(fd, "fed\nlines\n", 10), 10);
        close(fd);
        EXPECT_EQ(reap_within_ten_seconds(pid), 0);
        EXPECT_EQ(read_file(dir.file("got")), "fed\nlines\n");
        ASSERT_EQ(write(hold[1], "\n", 1), 1);
        close(hold[0]);
        close(hold[1]);
        EXPECT_TRUE(high || wait(nullptr) > 0);  // the meanwhile command ended
    }
}

TEST(Pipe2Cmd, WithoutTwoFreeDescriptorsNoCommandStarts) {
    struct rlimit files;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    const int lowest_free = dup(2);
    close(lowest_free);
    const struct rlimit one_left = {static_cast<rlim_t>(lowest_free) + 1, files.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &one_left), 0);
    int32_t fd = -1;
    EXPECT_EQ(libvel_pipe2cmd("true", &fd), -1);
    setrlimit(RLIMIT_NOFILE, &files);
    EXPECT_EQ(fd, -1);
}

TEST(CloseAllFds, ClosesFromTheFirstUpTo255ExceptTheKeptOnes) {
    auto body = [] {
        int a = open("/dev/null", O_RDONLY);
        int b = dup(a);
        dup2(a, 255);
        dup2(a, 256);
        dup2(a, 300);
        const int32_t keep[] = {b, -1};
        close_all_fds_except(3, keep);
        bool ok = is_open(300) && is_open(256) && is_open(0) && is_open(2);
        for (int fd = 3; fd < 256; ++fd) ok = ok && (fd == b) == is_open(fd);
        const int32_t none[] = {-1};
        close_all_fds_except(300, none);
        return ok && is_open(300) ? 0 : 1;
    };
    EXPECT_EQ(in_child(body), 0);
}

TEST(Rlimits, TheSoftLimitRisesToTheHardOneAndNoFurther) {
    ScratchDir dir;
    struct rlimit files;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    if (files.rlim_max == RLIM_INFINITY) GTEST_SKIP() << "no hard limit on open files";
    auto body = [&] {
        libvel_set_filedescs(static_cast<int32_t>(files.rlim_max + 1));  // refused
        vellog_set_level(0);
        libvel_set_filedescs(static_cast<int32_t>(files.rlim_max + 1));  // refused, unsaid
        vellog_set_level(1);
        libvel_max_filedescs();
        struct rlimit after, cpu, heap;
        getrlimit(RLIMIT_NOFILE, &after);
        libvel_set_cputime(300);
        getrlimit(RLIMIT_CPU, &cpu);
        libvel_max_heap();
        getrlimit(RLIMIT_DATA, &heap);
        return after.rlim_cur == files.rlim_max && after.rlim_max == files.rlim_max &&
                       cpu.rlim_cur == 300 && heap.rlim_cur == heap.rlim_max
                   ? 0
                   : 1;
    };
    EXPECT_EQ(in_child(body, dir.file("log")), 0);
    // The one refusal said at level 1, and nothing of the calls that worked.
    const std::string log = read_file(dir.file("log"));
    EXPECT_NE(log.find("ERROR: setrlimit(RLIMIT_NOFILE)\n"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

TEST(Daemonize, WritesThePidOrGoesOnAloneInANewSession) {
    ScratchDir dir;
    const std::string pidfile = dir.file("pid"), out = dir.file("out"), log = dir.file("log");
    auto same_session = [&] {
        libvel_daemonize(0, pidfile.c_str());
        return getsid(0) == getpid() ? 1 : 0;
    };
    EXPECT_EQ(in_child(same_session, log), 0);
    int pid = 0;
    ASSERT_EQ(sscanf(read_file(pidfile).c_str(), "%d", &pid), 1);
    EXPECT_EQ(read_file(pidfile), std::to_string(pid) + "\n");
    EXPECT_EQ(in_child([] { return libvel_daemonize(0, "/nonexistent/pid"), 0; }, log), 1);
    EXPECT_NE(read_file(log).find(
                  "ERROR: daemon: can't log pid to /nonexistent/pid (No such file or directory)\n"),
              std::string::npos);

    // Output buffered before the fork belongs to the daemon alone: the
    // original process must not write it as it leaves.
    int ended[2];  // at its end of file the daemon is gone too
    ASSERT_EQ(pipe(ended), 0);
    auto detached = [&] {
        FILE *fp = fopen(out.c_str(), "w");
        fputs("buffered\n", fp);
        vellog_write(1, 2, "test", 1, "logged\n");
        libvel_daemonize(1, nullptr);
        fputs(getsid(0) == getpid() ? "leader\n" : "not leader\n", fp);
        fclose(fp);
        return 0;
    };
    EXPECT_EQ(in_child(detached, log), 0);
    close(ended[1]);
    char byte;
    while (read(ended[0], &byte, 1) > 0) continue;
    close(ended[0]);
    EXPECT_EQ(read_file(out), "buffered\nleader\n");
    const std::string text = read_file(log);
    EXPECT_NE(text.find("logged\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("logged\n"), text.rfind("logged\n")) << text;
}

}  // namespace
