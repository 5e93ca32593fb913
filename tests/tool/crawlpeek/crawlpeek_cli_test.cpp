// crawlpeek run as a process: its command line, exit statuses and log.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/scratch_dir.h"

namespace {

const std::string kUsage =
    "Usage: crawlpeek [-v] [-l log_level] [-r url] [-u url] [-f db_file] [-h db_dir]\n"
    "                 -v print version\n"
    "                 -l specify log level\n"
    "                 -r print referers of url\n"
    "                 -u dump a single url\n"
    "                 -f specify db file (default url-visited.db)\n"
    "                 -h specify db home dir (default robot)\n";

class CrawlpeekCliTest : public testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directory(dir_.file("logs")); }
    ProcessResult run(const std::vector<std::string> &args) {
        return run_process(CRAWLPEEK_BINARY, args, dir_.path());
    }
    std::string log() const { return read_file(dir_.file("logs/crawlpeek.log")); }
    ScratchDir dir_;
};

TEST_F(CrawlpeekCliTest, VersionAndBadOptionsEndTheRunBeforeTheLogIsOpened) {
    const std::string version = "Dump Visited URL Database Version 3.0\n";
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    };
    std::vector<Row> rows = {
        {{"-v"}, 0, version, ""},
        {{"-v", "-x"}, 0, version, ""},  // options after -v are not read
        {{"-x", "-v"}, 1, "", "crawlpeek: illegal option -- x\n" + kUsage},
    };
    for (std::string option : {"l", "u", "r", "f", "h"}) {
        rows.push_back({{"-" + option},
                        1,
                        "",
                        "crawlpeek: option requires an argument -- " + option + "\n" + kUsage});
    }
    for (const Row &r : rows) {
        ProcessResult p = run(r.args);
        EXPECT_EQ(p.status, r.status) << r.args[0];
        EXPECT_EQ(p.out, r.out) << r.args[0];
        EXPECT_EQ(p.err, r.err) << r.args[0];
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir_.file("logs")));
    EXPECT_FALSE(file_exists(dir_.file("robot")));
}

// Alone, --help and --version answer on standard output before the log is
// opened.
TEST_F(CrawlpeekCliTest, ALoneHelpOrVersionAnswersOnStandardOutput) {
    const std::string version = run({"-v"}).out;
    for (const auto &[option, out] : {std::pair{"--help", kUsage}, {"--version", version}}) {
        ProcessResult p = run({option});
        EXPECT_EQ(p.status, 0) << option;
        EXPECT_EQ(p.out, out) << option;
        EXPECT_EQ(p.err, "") << option;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir_.file("logs")));
    EXPECT_FALSE(file_exists(dir_.file("robot")));
}

TEST_F(CrawlpeekCliTest, WithoutTheDatabaseTheRunLogsUnderItsPidPrintsNothingAndFails) {
    // An existing log above 1000000 bytes is rotated when it is opened.
    ASSERT_TRUE(write_file(dir_.file("logs/crawlpeek.log"), std::string(1000001, 'o')));
    // The level is held to 32 bits, not wrapped; one that is no number is 0.
    const struct {
        const char *level;
        bool logs;
    } rows[] = {{"abc", true},
                {"4294967295", true},
                {"2147483648", true},
                {"-4294967296", false},
                {"-99999999999999999999", false},
                {"0", true},
                {"-1", false}};
    for (const auto &r : rows) {
        RunningProcess p = start_process(CRAWLPEEK_BINARY, {"-l", r.level}, dir_.path());
        const pid_t pid = p.pid;
        ProcessResult result = finish_process(&p);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, dir_.file("robot/url-visited.db") + ": No such file or directory\n");
        char line[96];
        std::snprintf(line, sizeof line, "] %5d@001: ERROR: Failed to open visited url database\n",
                      pid);
        EXPECT_EQ(log().find(line) != std::string::npos, r.logs) << r.level << "\n" << log();
    }
    EXPECT_EQ(read_file(dir_.file("logs/crawlpeek.log.0")).size(), 1000001u);
    // The state directory is made for the environment; no database file is.
    EXPECT_TRUE(std::filesystem::is_directory(dir_.file("robot")));
    EXPECT_FALSE(file_exists(dir_.file("robot/url-visited.db")));
    EXPECT_FALSE(file_exists(dir_.file("robot/vid.db")));
}

TEST_F(CrawlpeekCliTest, AHomeThatIsNoDirectoryIsReportedAndNothingIsMade) {
    ASSERT_TRUE(write_file(dir_.file("plain"), "x"));
    const struct {
        const char *home, *why;
    } rows[] = {{"mistyped/robot", "No such file or directory"}, {"plain", "Not a directory"}};
    for (const auto &r : rows) {
        ProcessResult p = run({"-h", r.home});
        EXPECT_EQ(p.status, 1) << r.home;
        EXPECT_EQ(p.out, "");
        EXPECT_EQ(p.err, std::string("crawlpeek: -h ") + r.home + ": " + r.why + "\n");
    }
    EXPECT_FALSE(file_exists(dir_.file("mistyped")));
    EXPECT_EQ(read_file(dir_.file("plain")), "x");
    // A directory that holds no database gets no environment files either.
    std::filesystem::create_directory(dir_.file("empty"));
    EXPECT_EQ(run({"-h", "empty"}).status, 1);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.file("empty")));
}

// Berkeley DB trusts the pages it reads, so the reading runs in a child: one
// brought down by a signal ends the dump with status 1 and a word.
TEST_F(CrawlpeekCliTest, AReaderBroughtDownBySignalEndsWithStatusOneAndSaysSo) {
    ASSERT_EQ(run_process(CRAWLSIM_BINARY, {"-n", "300", "-t", "1"}, dir_.path()).status, 0);
    // A pipe nobody reads holds the reading up once it is full, so the reader
    // (crawlpeek's child) is still there to be found.
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    RunningProcess peek = start_process(CRAWLPEEK_BINARY, {}, dir_.path(), pipe_fds[1]);
    close(pipe_fds[1]);
    const std::string children =
        "/proc/" + std::to_string(peek.pid) + "/task/" + std::to_string(peek.pid) + "/children";
    for (int tries = 0; tries < 500 && read_file(children).empty(); ++tries) usleep(10000);
    ASSERT_NE(read_file(children), "");
    ASSERT_EQ(kill(std::stoi(read_file(children)), SIGKILL), 0);
    ProcessResult r = finish_process(&peek);
    close(pipe_fds[0]);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "crawlpeek: reading the database ended with signal 9 (Killed); the output is cut "
              "short\n");
    EXPECT_NE(log().find(": ERROR: Reading the database ended with signal 9\n"), std::string::npos);
}

// A dump into a pipe nobody reads ends as any program writing there does: by
// SIGPIPE, silently, though it is the reader child that met the pipe.
TEST_F(CrawlpeekCliTest, OutputToAClosedPipeEndsTheDumpBySigpipeAndClosedOutputGoesNowhere) {
    ASSERT_EQ(run_process(CRAWLSIM_BINARY, {"-n", "30", "-t", "1"}, dir_.path()).status, 0);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    close(pipe_fds[0]);
    RunningProcess peek = start_process(CRAWLPEEK_BINARY, {}, dir_.path(), pipe_fds[1]);
    close(pipe_fds[1]);
    int wstatus = 0;
    ASSERT_EQ(waitpid(peek.pid, &wstatus, 0), peek.pid);
    EXPECT_TRUE(WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == SIGPIPE) << wstatus;
    EXPECT_EQ(read_file(peek.capture->file("err")), "");
    // Started with standard output closed, it dumps into nothing, not into
    // the log that took the descriptor.
    const ProcessResult closed =
        run_process("/bin/sh", {"-c", "exec \"$0\" >&-", CRAWLPEEK_BINARY}, dir_.path());
    EXPECT_EQ(closed.status, 0);
    EXPECT_EQ(log().find("referer:"), std::string::npos) << log().substr(0, 500);
}

}  // namespace
