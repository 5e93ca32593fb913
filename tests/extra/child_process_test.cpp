#include "extra/child_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "extra/rlimits.h"
#include "log/log.h"
#include "support/scratch_dir.h"

namespace {

// Runs body in a forked child and gives its exit status (-1 when it did not
// exit normally). The child reports through its status only.
int in_child(const std::function<int()> &body) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits up to ten seconds for pid; its exit status, or -1.
int reap_within_ten_seconds(pid_t pid) {
    for (int i = 0; i < 1000; ++i) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

bool is_open(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(CliRun, EveryVariantGivesTheCommandsExitStatus) {
    EXPECT_EQ(vel_cli_run("exit 0", nullptr), 0);
    EXPECT_EQ(vel_cli_run("exit 3", nullptr), 3);
    EXPECT_EQ(vel_cli_run("exit 255", nullptr), 255);
    EXPECT_EQ(vel_cli_run_no_pipe("exit 3", nullptr), 3);
    EXPECT_EQ(vel_cli_run_no_flush("exit 3", nullptr), 3);
    EXPECT_EQ(vel_cli_run_poll("exit 3", nullptr, nullptr), 3);
    EXPECT_EQ(vel_cli_run_no_pipe_poll("exit 3", nullptr, nullptr), 3);
    EXPECT_EQ(vel_limited_cli_run("exit 3", nullptr, 0, 0, 0, 0, nullptr), 3);
    EXPECT_EQ(vel_cli_run("no-such-command-here 2>/dev/null", nullptr), 127);
}

TEST(CliRun, TheChildRunsInTheGivenDirectory) {
    ScratchDir dir;
    ASSERT_EQ(vel_cli_run("pwd -P > where", dir.path().c_str()), 0);
    char real[4096];
    ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
    EXPECT_EQ(read_file(dir.file("where")), std::string(real) + "\n");
}

TEST(CliRun, AChildEndedByASignalIsNotASuccess) {
    EXPECT_EQ(vel_cli_run("kill -TERM $$", nullptr), 128 + SIGTERM);
    EXPECT_EQ(vel_cli_run("kill -USR1 $$; exit 4", nullptr), 128 + SIGUSR1);
    // Ignored signals leave the command to finish.
    EXPECT_EQ(vel_limited_cli_run("kill -USR1 $$; kill -TERM $$; exit 4", nullptr, 0, 0, 1, 0,
                                  nullptr),
              4);
}

TEST(CliRun, TheChildGetsTheRequestedLimits) {
    EXPECT_EQ(vel_limited_cli_run("test \"$(ulimit -n)\" = 17 && test \"$(ulimit -t)\" = 9",
                                  nullptr, 17, 9, 0, 0, nullptr),
              0);
    // The caller's own limits are untouched.
    struct rlimit files;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    EXPECT_NE(files.rlim_cur, 17u);
}

TEST(CliRun, WithoutWaitingTheChildIsLeftToTheCaller) {
    EXPECT_EQ(vel_limited_cli_run_wait("exit 5", nullptr, 0, 0, 0, 0, nullptr, 0, 1), 0);
    int status = 0;
    ASSERT_GT(wait(&status), 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 5);
}

int g_polls = 0;
void count_poll() { ++g_polls; }
void on_alarm(int) {}

TEST(CliRun, ASignalDuringTheWaitCallsPollAndTheWaitGoesOn) {
    struct sigaction action = {};
    action.sa_handler = on_alarm;  // no SA_RESTART: waitpid fails with EINTR
    sigemptyset(&action.sa_mask);
    struct sigaction old_action;
    ASSERT_EQ(sigaction(SIGALRM, &action, &old_action), 0);
    struct itimerval every_20ms = {{0, 20000}, {0, 20000}};
    struct itimerval stopped = {};
    ASSERT_EQ(setitimer(ITIMER_REAL, &every_20ms, nullptr), 0);
    g_polls = 0;
    int32_t status = vel_cli_run_poll("sleep 0.3; exit 3", nullptr, count_poll);
    setitimer(ITIMER_REAL, &stopped, nullptr);
    sigaction(SIGALRM, &old_action, nullptr);
    EXPECT_EQ(status, 3);
    EXPECT_GT(g_polls, 0);
}

TEST(Pipe2Cmd, TheCommandReadsWhatIsWrittenAndEndsWhenTheWriteEndCloses) {
    ScratchDir dir;
    const std::string command = "cat > '" + dir.file("got") + "'";
    int32_t fd = -1;
    int32_t pid = libvel_pipe2cmd(command.c_str(), &fd);
    ASSERT_GT(pid, 0);
    ASSERT_GE(fd, 0);
    const std::string input = "first line\nsecond line\n";
    ASSERT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(fd);
    // A child still holding the write end would never see the end of input.
    EXPECT_EQ(reap_within_ten_seconds(pid), 0);
    EXPECT_EQ(read_file(dir.file("got")), input);
}

// The fed command must see the end of its input as soon as the caller closes
// the write end: no copy of that end may live on in the command itself, even
// above descriptor 255, nor in a command started while it runs. The command
// keeps no descriptor above 2 at all.
TEST(Pipe2Cmd, NoOtherProcessKeepsTheInputOpen) {
    struct rlimit files;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    if (files.rlim_cur < 400) {
        GTEST_SKIP() << "needs 400 open files";
    }
    for (bool high : {true, false}) {
        SCOPED_TRACE(high ? "write end above 255" : "a command started meanwhile");
        std::vector<int> fillers;  // take the low numbers so the pipe gets high ones
        while (high && (fillers.empty() || fillers.back() < 300)) {
            fillers.push_back(dup(2));
            ASSERT_GE(fillers.back(), 0);
        }
        int32_t fd = -1;
        // The last filler is 300, above the old reach of 255.
        int32_t pid = libvel_pipe2cmd("test ! -e /proc/self/fd/300 && exec cat >/dev/null", &fd);
        for (int filler : fillers) close(filler);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(fd >= 256, high);
        int hold[2];  // the meanwhile command waits for a line on hold[0]
        if (!high) {
            ASSERT_EQ(pipe(hold), 0);
            const std::string waiter = "read line <&" + std::to_string(hold[0]);
            vel_limited_cli_run_wait(waiter.c_str(), nullptr, 0, 0, 0, 0, nullptr, 0, 1);
        }
        ASSERT_EQ(write(fd, "fed", 3), 3);
        close(fd);
        EXPECT_EQ(reap_within_ten_seconds(pid), 0);
        if (!high) {
            ASSERT_EQ(write(hold[1], "\n", 1), 1);
            close(hold[0]);
            close(hold[1]);
            EXPECT_GT(wait(nullptr), 0);
        }
    }
}

TEST(CloseAllFds, ClosesFromTheFirstUpTo255ExceptTheKeptOnes) {
    int status = in_child([] {
        int a = open("/dev/null", O_RDONLY);
        int b = open("/dev/null", O_RDONLY);
        int c = dup2(a, 200);
        int high = dup2(a, 300);
        const int32_t keep[] = {b, -1};
        close_all_fds_except(3, keep);
        bool ok = !is_open(a) && is_open(b) && !is_open(c) && is_open(high) && is_open(0) &&
                  is_open(2);
        for (int fd = 3; fd < 256; ++fd) ok = ok && (fd == b) == is_open(fd);
        return ok ? 0 : 1;
    });
    EXPECT_EQ(status, 0);

    int fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    const int32_t none[] = {-1};
    close_all_fds_except(300, none);
    EXPECT_TRUE(is_open(fd));
    close(fd);
}

class ModuleLogInChild : public testing::Test {
  protected:
    // Runs body in a child whose module log is the scratch file.
    int run(const std::function<void()> &body) {
        const std::string log = dir_.file("module.log");
        return in_child([&] {
            vellog_init(1, log.c_str());
            body();
            vellog_terminate();
            return 0;
        });
    }
    std::string log_text() const { return read_file(dir_.file("module.log")); }

    ScratchDir dir_;
};

TEST_F(ModuleLogInChild, LimitSettersChangeOnlyTheSoftLimit) {
    int status = run([] {
        struct rlimit before, after;
        getrlimit(RLIMIT_NOFILE, &before);
        libvel_set_filedescs(64);
        getrlimit(RLIMIT_NOFILE, &after);
        if (after.rlim_cur != 64 || after.rlim_max != before.rlim_max) _exit(2);
        libvel_max_filedescs();
        getrlimit(RLIMIT_NOFILE, &after);
        if (after.rlim_cur != before.rlim_max || after.rlim_max != before.rlim_max) _exit(3);
        libvel_set_cputime(100);
        getrlimit(RLIMIT_CPU, &after);
        if (after.rlim_cur != 100) _exit(4);
        libvel_max_heap();
        getrlimit(RLIMIT_DATA, &after);
        if (after.rlim_cur != after.rlim_max) _exit(5);
        // Above the hard limit: refused, reported, unchanged.
        if (before.rlim_max != RLIM_INFINITY) {
            libvel_set_filedescs(static_cast<int32_t>(before.rlim_max + 1));
            getrlimit(RLIMIT_NOFILE, &after);
            if (after.rlim_cur != before.rlim_max) _exit(6);
        }
    });
    EXPECT_EQ(status, 0);
    struct rlimit files;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    if (files.rlim_max != RLIM_INFINITY) {
        EXPECT_NE(log_text().find("ERROR: setrlimit(RLIMIT_NOFILE)\n"), std::string::npos)
            << log_text();
    }
}

TEST_F(ModuleLogInChild, DaemonizeWithoutForkOnlyWritesThePid) {
    const std::string pidfile = dir_.file("pid");
    int pid = 0;
    int status = run([&] {
        libvel_daemonize(0, pidfile.c_str());
        // Still the same process, in the same session.
        if (getsid(0) == getpid()) _exit(2);
    });
    EXPECT_EQ(status, 0);
    const std::string text = read_file(pidfile);
    ASSERT_EQ(sscanf(text.c_str(), "%d", &pid), 1);
    EXPECT_EQ(text, std::to_string(pid) + "\n");
    EXPECT_EQ(log_text(), "");
}

TEST_F(ModuleLogInChild, DaemonizeContinuesInANewSessionAndTheParentExitsZero) {
    const std::string pidfile = dir_.file("pid");
    const std::string marker = dir_.file("session");
    int status = run([&] {
        libvel_daemonize(1, pidfile.c_str());
        write_file(marker, getsid(0) == getpid() ? "leader" : "not leader");
    });
    EXPECT_EQ(status, 0);
    for (int i = 0; i < 1000 && read_file(marker).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(read_file(marker), "leader");
    int daemon = 0;
    ASSERT_EQ(sscanf(read_file(pidfile).c_str(), "%d", &daemon), 1);
    EXPECT_GT(daemon, 0);
}

// Output buffered before the fork belongs to the daemon alone: the
// original process must not write it as it leaves.
TEST_F(ModuleLogInChild, DaemonizeWritesBufferedOutputOnce) {
    const std::string out = dir_.file("out");
    int ended[2];  // at its end of file the daemon is gone too
    ASSERT_EQ(pipe(ended), 0);
    int status = run([&] {
        FILE *fp = fopen(out.c_str(), "w");
        fputs("buffered\n", fp);
        vellog_write(1, 2, "test", 1, "logged\n");
        libvel_daemonize(1, nullptr);
        fclose(fp);
    });
    close(ended[1]);
    char byte;
    while (read(ended[0], &byte, 1) > 0) {
    }
    close(ended[0]);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_file(out), "buffered\n");
    const std::string log = log_text();
    EXPECT_NE(log.find("logged\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("logged\n"), log.rfind("logged\n")) << log;
}

TEST_F(ModuleLogInChild, AnUnwritablePidFileIsReportedAndExitsOne) {
    int status = run([] { libvel_daemonize(0, "/nonexistent/dir/pid"); });
    EXPECT_EQ(status, 1);
    EXPECT_NE(log_text().find(
                  "ERROR: daemon: can't log pid to /nonexistent/dir/pid (No such file or "
                  "directory)\n"),
              std::string::npos)
        << log_text();
}

}  // namespace
