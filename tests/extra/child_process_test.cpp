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
