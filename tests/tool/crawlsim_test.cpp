// crawlsim writes databases through the crawler's operations; crawlpeek must
// report exactly what crawlsim says it wrote.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/crawl_report.h"
#include "support/run_process.h"
#include "support/scratch_dir.h"

namespace {

class CrawlsimTest : public testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directory(dir_.file("logs")); }
    ProcessResult sim(const std::vector<std::string> &args) {
        return run_process(CRAWLSIM_BINARY, args, dir_.path());
    }
    ProcessResult peek() { return run_process(CRAWLPEEK_BINARY, {}, dir_.path()); }
    ScratchDir dir_;
};

// Two crawls of four threads each, the second kept unfinished after the
// end-of-crawl passes; every visit is logged to both logs, which rotate
// through their ten generations.
TEST_F(CrawlsimTest, CrawlpeekReportsWhatCrawlsimWrote) {
    ProcessResult s = sim({"-n", "200", "-l", "6", "-s", "7", "-t", "4", "-c", "2", "-k", "-p",
                           "-u", "urls.txt", "-r", "1000"});
    ASSERT_EQ(s.status, 0) << s.err;
    std::map<std::string, long> wrote = sim_counts(s.out);
    ASSERT_EQ(wrote.size(), 7u) << s.out;
    // The second crawl starts after the first one's second: it meets every
    // page again.
    EXPECT_EQ(wrote["visited"], 400);
    EXPECT_NE(s.out.find("crawlsim: passes: start points marked, "), std::string::npos) << s.out;

    const std::string out = peek().out;
    EXPECT_EQ(summary_value(out, "Number of entries  "), wrote["created"]);
    EXPECT_EQ(summary_value(out, "Number of entries with MD5"), wrote["digest"]);
    EXPECT_EQ(summary_value(out, "Number of entries with LastModified"), wrote["modified"]);
    EXPECT_EQ(summary_value(out, "Number of entries with links"), wrote["with links"]);
    EXPECT_EQ(summary_value(out, "Total number of links"), wrote["links"]);
    EXPECT_EQ(summary_value(out, "Total db key size"), 4 * wrote["created"]);
    std::istringstream urls(read_file(dir_.file("urls.txt")));
    long listed = 0;
    for (std::string url; std::getline(urls, url); ++listed) {
        EXPECT_NE(out.find("\n" + url + "\n"), std::string::npos) << url;
    }
    EXPECT_EQ(listed, wrote["distinct"]);
    for (const char *log : {"logs/crawlsim.log", "logs/crawlsim-module.log"}) {
        EXPECT_TRUE(file_exists(dir_.file(std::string(log) + ".9"))) << log;
        EXPECT_NE(read_file(dir_.file(log)).find("http://"), std::string::npos) << log;
    }
    // The starting point, met again, carries the start of the crawl left open.
    const std::string before = "  Last crawl started at ";
    const size_t from = out.find(before), to = out.find(" is not completed\n");
    ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << out.substr(0, 300);
    const std::string started = out.substr(from + before.size(), to - from - before.size());
    const size_t start = out.find("http://www.site0.test/p0.html\n");
    ASSERT_NE(start, std::string::npos);
    const size_t line = out.find("  last_processed:  ", start);
    EXPECT_EQ(out.substr(line, out.find('\n', line) - line), "  last_processed:  " + started);
}

TEST_F(CrawlsimTest, OptionsOutsideTheirRangesPrintTheUsage) {
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"-x"}, {"-n", "0"}, {"-t", "65"}, {"-t", "many"}, {"-n"}}) {
        ProcessResult s = sim(args);
        EXPECT_EQ(s.status, 1) << args[0];
        EXPECT_EQ(s.out, "");
        EXPECT_NE(s.err.find("Usage: crawlsim [-n pages] [-l links_per_page] [-s seed] "
                             "[-t threads] [-c crawls] [-k] [-h robot_dir] [-d fetch_ms] "
                             "[-u urls_file] [-p] [-r log_rotate_bytes]\n"),
                  std::string::npos);
    }
    // At their bounds options are taken. Without links only the three
    // starting points are visited, whatever the budget.
    ProcessResult s = sim({"-n", "10", "-l", "0", "-t", "64"});
    ASSERT_EQ(s.status, 0) << s.err;
    EXPECT_EQ(sim_counts(s.out)["visited"], 3);
}

}  // namespace
