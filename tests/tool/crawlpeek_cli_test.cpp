// crawlpeek run as a process: its command line, output and exit statuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/scratch_dir.h"

namespace {

const char kUsage[] =
    "Usage: crawlpeek [-v] [-l log_level] [-r url] [-u url] [-f db_file] [-h db_dir]\n"
    "                 -v print version\n"
    "                 -l specify log level\n"
    "                 -r print referers of url\n"
    "                 -u dump a single url\n"
    "                 -f specify db file (default url-visited.db)\n"
    "                 -h specify db home dir (default robot)\n";

class CrawlpeekCliTest : public testing::Test {
  protected:
    ProcessResult run(const std::vector<std::string> &args) {
        return run_process(CRAWLPEEK_BINARY, args, dir_.path());
    }
    ScratchDir dir_;
};

TEST_F(CrawlpeekCliTest, VersionPrintsAndOpensNothing) {
    ProcessResult r = run({"-v"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Dump Visited URL Database Version 3.0\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));

    r = run({"-v", "-x"});  // options after -v are not read
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST_F(CrawlpeekCliTest, UnknownOptionPrintsUsageWithStatusOne) {
    ProcessResult r = run({"-x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("crawlpeek: illegal option -- x\n") + kUsage);

    r = run({"-x", "-v"});  // met first, so -v is never reached
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
}

TEST_F(CrawlpeekCliTest, MissingArgumentPrintsUsageWithStatusOne) {
    for (const char *option : {"-l", "-u", "-r", "-f", "-h"}) {
        ProcessResult r = run({option});
        EXPECT_EQ(r.status, 1) << option;
        EXPECT_EQ(r.out, "") << option;
        EXPECT_EQ(r.err, std::string("crawlpeek: option requires an argument -- ") + (option + 1) +
                             "\n" + kUsage);
    }
}

TEST_F(CrawlpeekCliTest, WithoutTheDatabaseFilesTheRunLogsPrintsNothingAndFails) {
    std::filesystem::create_directory(dir_.file("logs"));
    ProcessResult r = run({"-l", "abc"});  // no number: level 0, which the message passes
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, dir_.file("robot/url-visited.db") + ": No such file or directory\n");
    const std::string log = read_file(dir_.file("logs/crawlpeek.log"));
    EXPECT_NE(log.find(": ERROR: Failed to open visited url database\n"), std::string::npos) << log;
    // The state directory is made for the environment; no database file is.
    EXPECT_TRUE(std::filesystem::is_directory(dir_.file("robot")));
    EXPECT_FALSE(file_exists(dir_.file("robot/url-visited.db")));
    EXPECT_FALSE(file_exists(dir_.file("robot/vid.db")));
}

TEST_F(CrawlpeekCliTest, LogLevelsBeyond32BitsAreHeldNotWrapped) {
    std::filesystem::create_directory(dir_.file("logs"));
    const struct {
        const char *level;
        bool logs;
    } cases[] = {{"4294967295", true}, {"2147483648", true}, {"-99999999999999999999", false},
                 {"-4294967296", false}, {"0", true}, {"-1", false}};
    for (const auto &c : cases) {
        std::filesystem::remove(dir_.file("logs/crawlpeek.log"));
        run({"-l", c.level});
        const bool logged =
            read_file(dir_.file("logs/crawlpeek.log")).find("Failed to open") != std::string::npos;
        EXPECT_EQ(logged, c.logs) << c.level;
    }
}

TEST_F(CrawlpeekCliTest, TheLogNamesTheProcessTheOperatorStarted) {
    std::filesystem::create_directory(dir_.file("logs"));
    RunningProcess p = start_process(CRAWLPEEK_BINARY, {}, dir_.path());
    const pid_t pid = p.pid;
    finish_process(&p);
    char expected[64];
    std::snprintf(expected, sizeof expected, "] %5d@001: ERROR: Failed to open", pid);
    const std::string log = read_file(dir_.file("logs/crawlpeek.log"));
    EXPECT_NE(log.find(expected), std::string::npos) << log;
}

TEST_F(CrawlpeekCliTest, AHomeThatIsNoDirectoryIsReportedAndNothingIsMade) {
    std::filesystem::create_directory(dir_.file("logs"));
    ASSERT_TRUE(write_file(dir_.file("plain"), "x"));
    const struct {
        const char *home;
        const char *why;
    } cases[] = {{"mistyped/robot", "No such file or directory"}, {"plain", "Not a directory"}};
    for (const auto &c : cases) {
        ProcessResult r = run({"-h", c.home});
        EXPECT_EQ(r.status, 1) << c.home;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, std::string("crawlpeek: -h ") + c.home + ": " + c.why + "\n");
    }
    EXPECT_FALSE(file_exists(dir_.file("mistyped")));
    EXPECT_EQ(read_file(dir_.file("plain")), "x");

    // A directory that holds no database gets no environment files either.
    std::filesystem::create_directory(dir_.file("empty"));
    EXPECT_EQ(run({"-h", "empty"}).status, 1);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.file("empty")));
}

TEST_F(CrawlpeekCliTest, RunWithoutLogDirectorySaysItCannotAppend) {
    ProcessResult r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("Cannot append to logs/crawlpeek.log.\n", 0), 0u) << r.err;
}

TEST_F(CrawlpeekCliTest, LargeExistingLogIsRotatedWhenOpened) {
    std::filesystem::create_directory(dir_.file("logs"));
    ASSERT_TRUE(write_file(dir_.file("logs/crawlpeek.log"), std::string(1000001, 'o')));
    run({});
    EXPECT_EQ(read_file(dir_.file("logs/crawlpeek.log.0")).size(), 1000001u);
    EXPECT_EQ(read_file(dir_.file("logs/crawlpeek.log")).find("oo"), std::string::npos);
}

}  // namespace
