// crawlpeek run as a process: its command line, output and exit statuses.
#include <gtest/gtest.h>

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

TEST_F(CrawlpeekCliTest, WithoutTheDatabaseFilesTheRunLogsAndPrintsNothing) {
    std::filesystem::create_directory(dir_.file("logs"));
    ProcessResult r = run({"-l", "abc"});  // no number: level 0, which the message passes
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, dir_.file("robot/url-visited.db") + ": No such file or directory\n");
    const std::string log = read_file(dir_.file("logs/crawlpeek.log"));
    EXPECT_NE(log.find(": ERROR: Failed to open visited url database\n"), std::string::npos) << log;
    // The state directory is made for the environment; no database file is.
    EXPECT_TRUE(std::filesystem::is_directory(dir_.file("robot")));
    EXPECT_FALSE(file_exists(dir_.file("robot/url-visited.db")));
    EXPECT_FALSE(file_exists(dir_.file("robot/vid.db")));
}

TEST_F(CrawlpeekCliTest, RunWithoutLogDirectorySaysItCannotAppend) {
    ProcessResult r = run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("Cannot append to logs/crawlpeek.log.\n", 0), 0u) << r.err;
}

TEST_F(CrawlpeekCliTest, LargeExistingLogIsRotatedWhenOpened) {
    std::filesystem::create_directory(dir_.file("logs"));
    ASSERT_TRUE(write_file(dir_.file("logs/crawlpeek.log"), std::string(1000001, 'o')));
    EXPECT_EQ(run({}).status, 0);
    EXPECT_EQ(read_file(dir_.file("logs/crawlpeek.log.0")).size(), 1000001u);
    EXPECT_EQ(read_file(dir_.file("logs/crawlpeek.log")).find("oo"), std::string::npos);
}

}  // namespace
