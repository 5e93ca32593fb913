// A reading that is done again: standard output gets one reading's output,
// never the second after part of the first; and the progress an operator
// watches on a terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "tool/crawldb/crawldb_fixture.h"
#include "tool/crawldb/progress.h"
#include "tool/crawldb/reading.h"
#include "tool/crawldb/verification.h"

namespace {

// A reading that writes text and then ends as end says: a status, or the
// signal when signal is nonzero.
struct Reading {
    std::string text;
    int status = 0;
    int signal = 0;

    int operator()() const {
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (signal != 0) {
            std::fflush(stdout);
            raise(signal);
        }
        return status;
    }
};

// read_in_child with first as the first reading and again as the one done
// again, in a process of its own (a reading done again leaves every later
// one verifying first): what it wrote and its exit status.
ProcessResult read_twice(const Reading &first, const Reading &again) {
    ScratchDir capture;
    const std::string out_path = capture.file("out");
    const std::string err_path = capture.file("err");
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0) _exit(127);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        _exit(read_in_child([&] { return Verification::first_always() ? again() : first(); }));
    }
    ProcessResult result;
    int wstatus = 0;
    if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) {
        result.status = WEXITSTATUS(wstatus);
    }
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    return result;
}

const std::string kSmall = "{\"id\":1,\"url\":\"http://s/\"}\n{\"id\":2,\"url\":";
const std::string kWhole = "{\"id\":1}\n{\"id\":2}\n";
// More than is held back: some of it is written before the reading ends.
const std::string kLarge(kHeldOutputBytes + (size_t{1} << 20), 'x');

TEST(ReadingAgain, OnlyOneReadingsOutputReachesStandardOutput) {
    const std::string cut_short = "the output is cut short\n";
    const struct {
        const char *name;
        Reading first;
        int status;
        const std::string &out;
        std::string err_has;  // empty: nothing on standard error
    } cases[] = {
        {"small, stopped on damage", {kSmall, kVerificationStopStatus}, 0, kWhole, ""},
        {"small, killed", {kSmall, 0, SIGKILL}, 0, kWhole, ""},
        {"small, an odd status", {kSmall, 77}, 0, kWhole, ""},
        {"large, stopped on damage", {kLarge, kVerificationStopStatus}, 2, kLarge,
         "crawldb: reading the database stopped after part of the output was written"},
        {"large, killed", {kLarge, 0, SIGKILL}, 2, kLarge,
         "crawldb: reading the database ended with signal 9 (Killed) after part of the output "
         "was written; " + cut_short},
        {"small, done", {kSmall, 0}, 0, kSmall, ""},
        {"small, nothing found", {kSmall, 1}, 1, kSmall, ""},
        {"large, done", {kLarge, 0}, 0, kLarge, ""},
    };
    for (const auto &c : cases) {
        const ProcessResult result = read_twice(c.first, Reading{kWhole, 0});
        EXPECT_EQ(result.status, c.status) << c.name << ": " << result.err;
        // Compared by size first: a failure prints no megabytes.
        EXPECT_EQ(result.out.size(), c.out.size()) << c.name;
        EXPECT_TRUE(result.out == c.out) << c.name;
        if (c.err_has.empty()) {
            EXPECT_EQ(result.err, "") << c.name;
        } else {
            EXPECT_NE(result.err.find(c.err_has), std::string::npos) << c.name << ": " << result.err;
            EXPECT_TRUE(result.err.ends_with(cut_short)) << c.name << ": " << result.err;
        }
    }
}

// A reading done again whose own output is cut short by a signal says so.
TEST(ReadingAgain, ASecondReadingEndedBySignalIsReported) {
    const ProcessResult result =
        read_twice(Reading{kSmall, kVerificationStopStatus}, Reading{kWhole, 0, SIGKILL});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, kWhole);
    EXPECT_EQ(result.err,
              "crawldb: reading the database ended with signal 9 (Killed); the output is cut "
              "short\n");
}

// Output into a pipe nobody reads any more ends the command as it would any
// program writing there: by SIGPIPE, or, with SIGPIPE ignored, with status
// 2 and the reason.
TEST(ReadingAgain, OutputToAClosedPipeEndsTheCommandAsSigpipeWould) {
    for (const bool ignored : {false, true}) {
        for (const std::string *text : {&kSmall, &kLarge}) {
            ScratchDir capture;
            const std::string err_path = capture.file("err");
            std::fflush(nullptr);
            const pid_t pid = fork();
            if (pid == 0) {
                int ends[2];
                const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                if (pipe(ends) != 0 || err < 0) _exit(127);
                close(ends[0]);
                dup2(ends[1], STDOUT_FILENO);
                dup2(err, STDERR_FILENO);
                if (ignored) signal(SIGPIPE, SIG_IGN);
                _exit(read_in_child(Reading{*text, 0}));
            }
            int wstatus = 0;
            ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
            const std::string name = (ignored ? "ignored, " : "") + std::to_string(text->size());
            if (ignored) {
                EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 2) << name;
                EXPECT_EQ(read_file(err_path), "crawldb: writing the output: Broken pipe\n") << name;
            } else {
                EXPECT_TRUE(WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == SIGPIPE) << name;
                EXPECT_EQ(read_file(err_path), "") << name;
            }
        }
    }
}

}  // namespace

namespace {

// A verifier that crashes on a damaged file sends no signal, yet its end
// stops a reader verifying alongside as the signal would; a child that ends
// otherwise leaves the reader reading.
TEST(VerificationDeathTest, AReaderStopsWhenAVerifierCrashes) {
    const struct {
        int signal;  // that ends the child, or 0 for an exit
        int status;  // the reader's
    } cases[] = {{0, 7}, {SIGKILL, 7}, {SIGTERM, 7}, {SIGSEGV, kVerificationStopStatus},
                 {SIGBUS, kVerificationStopStatus}, {SIGABRT, kVerificationStopStatus},
                 {SIGFPE, kVerificationStopStatus}, {SIGILL, kVerificationStopStatus}};
    for (const auto &c : cases) {
        EXPECT_EXIT(
            {
                Verification verification;
                verification.add("/absent/url-visited.db", "/absent/url-visited.db",
                                 Verification::When::kAlongside);
                const pid_t child = fork();
                if (child == 0) {
                    if (c.signal != 0) {
                        std::signal(c.signal, SIG_DFL);
                        raise(c.signal);
                    }
                    _exit(0);
                }
                waitpid(child, nullptr, 0);
                _exit(7);
            },
            testing::ExitedWithCode(c.status), "")
            << c.signal;
    }
}

TEST(ProgressTest, AWalkPastTwoSecondsShowsItsCountOnATerminalAndErasesItAtTheEnd) {
    int master = -1, terminal = -1;
    ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    Progress::show_on(terminal);
    {
        Progress progress("test: a file", 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
        for (int i = 0; i < 4096; ++i) progress.step();  // the count is looked at every 4096
    }
    Progress::show_on(STDERR_FILENO);
    const std::string expected = "\rcrawldb test: a file: 4096 records\r\x1b[K";
    std::string shown;
    char buffer[256];
    pollfd ready{master, POLLIN, 0};
    while (shown.size() < expected.size() && poll(&ready, 1, 2000) == 1) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        shown.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(shown, expected);
    close(terminal);
    close(master);
}

}  // namespace
