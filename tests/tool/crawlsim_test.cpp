// crawlsim writes databases through the crawler's operations; crawlpeek must
// report exactly what crawlsim says it wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/crawl_report.h"
#include "support/run_process.h"
#include "support/scratch_dir.h"

namespace {

// The URL and referer lines of a report: what stays the same from run to run.
std::string structure(const std::string &report) {
    std::istringstream in(report);
    std::string line, kept;
    while (std::getline(in, line)) {
        if (line.rfind("http", 0) == 0 || line.rfind("  referer:", 0) == 0 ||
            line.rfind("                  ", 0) == 0) {
            kept += line + "\n";
        }
    }
    return kept;
}

class CrawlsimTest : public testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directory(dir_.file("logs")); }
    ProcessResult sim(const std::vector<std::string> &args) {
        return run_process(CRAWLSIM_BINARY, args, dir_.path());
    }
    ProcessResult peek(const std::vector<std::string> &args) {
        return run_process(CRAWLPEEK_BINARY, args, dir_.path());
    }
    ScratchDir dir_;
};

TEST_F(CrawlsimTest, CrawlpeekReportsWhatCrawlsimWrote) {
    for (const char *threads : {"1", "4"}) {
        const std::string home = std::string("robot") + threads;
        ProcessResult s = sim({"-n", "200", "-l", "6", "-s", "7", "-t", threads, "-h", home});
        ASSERT_EQ(s.status, 0) << s.err;
        std::map<std::string, long> wrote = sim_counts(s.out);
        ASSERT_EQ(wrote.size(), 7u) << s.out;
        EXPECT_EQ(wrote["visited"], 200);

        ProcessResult p = peek({"-h", home});
        ASSERT_EQ(p.status, 0);
        EXPECT_NE(p.out.find("  Last crawl is completed\n"), std::string::npos);
        EXPECT_EQ(summary_value(p.out, "Number of entries  "), wrote["created"]) << threads;
        EXPECT_EQ(summary_value(p.out, "Number of entries with MD5"), wrote["digest"]);
        EXPECT_EQ(summary_value(p.out, "Number of entries with LastModified"), wrote["modified"]);
        EXPECT_EQ(summary_value(p.out, "Number of entries with links"), wrote["with links"]);
        EXPECT_EQ(summary_value(p.out, "Total number of links"), wrote["links"]);
        EXPECT_EQ(summary_value(p.out, "Total db key size"), 4 * wrote["created"]);
    }
}

TEST_F(CrawlsimTest, OneThreadAndOneSeedMakeTheSameCrawl) {
    ASSERT_EQ(sim({"-n", "120", "-s", "3", "-t", "1", "-h", "a"}).status, 0);
    ASSERT_EQ(sim({"-n", "120", "-s", "3", "-t", "1", "-h", "b"}).status, 0);
    ASSERT_EQ(sim({"-n", "120", "-s", "4", "-t", "1", "-h", "c"}).status, 0);
    const std::string a = structure(peek({"-h", "a"}).out);
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(structure(peek({"-h", "b"}).out), a);
    EXPECT_NE(structure(peek({"-h", "c"}).out), a);
}

TEST_F(CrawlsimTest, LaterCrawlsMeetPagesAgainAndKeepLeavesTheLastOneOpen) {
    ProcessResult s = sim({"-n", "40", "-c", "2", "-k"});
    ASSERT_EQ(s.status, 0) << s.err;
    EXPECT_EQ(sim_counts(s.out)["visited"], 80);
    ProcessResult p = peek({});
    const std::string before = "  Last crawl started at ";
    const size_t from = p.out.find(before);
    const size_t to = p.out.find(" is not completed\n");
    ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << p.out;
    const std::string started = p.out.substr(from + before.size(), to - from - before.size());
    // The starting point, met again, carries the second crawl's start.
    const size_t start = p.out.find("http://www.site0.test/p0.html\n");
    ASSERT_NE(start, std::string::npos);
    const size_t line = p.out.find("  last_processed:  ", start);
    ASSERT_NE(line, std::string::npos);
    EXPECT_EQ(p.out.substr(line, p.out.find('\n', line) - line), "  last_processed:  " + started);
}

TEST_F(CrawlsimTest, ABadOptionPrintsTheUsage) {
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"-x"}, {"-n", "0"}, {"-t", "many"}, {"-n"}}) {
        ProcessResult s = sim(args);
        EXPECT_EQ(s.status, 1) << args[0];
        EXPECT_EQ(s.out, "");
        EXPECT_NE(s.err.find("Usage: crawlsim [-n pages] [-l links_per_page] [-s seed] "
                             "[-t threads] [-c crawls] [-k] [-h robot_dir] [-d fetch_ms] "
                             "[-u urls_file] [-p] [-r log_rotate_bytes]\n"),
                  std::string::npos);
    }
}

}  // namespace

namespace {

TEST_F(CrawlsimTest, TheSoakOptionsListTheUrlsRunThePassesAndRotateBothLogs) {
    ProcessResult s =
        sim({"-n", "300", "-c", "2", "-t", "4", "-p", "-u", "urls.txt", "-r", "4000"});
    ASSERT_EQ(s.status, 0) << s.err;
    const std::map<std::string, long> wrote = sim_counts(s.out);
    ASSERT_EQ(wrote.size(), 7u) << s.out;
    EXPECT_NE(s.out.find("crawlsim: passes: start points marked, "), std::string::npos) << s.out;

    ProcessResult p = peek({});
    ASSERT_EQ(p.status, 0);
    // The passes finish the crawl they ran in.
    EXPECT_NE(p.out.find("  Last crawl is completed\n"), std::string::npos);
    EXPECT_EQ(summary_value(p.out, "Number of entries  "), wrote.at("created"));
    std::istringstream urls(read_file(dir_.file("urls.txt")));
    long listed = 0;
    for (std::string url; std::getline(urls, url); ++listed) {
        EXPECT_NE(p.out.find("\n" + url + "\n"), std::string::npos) << url;
    }
    EXPECT_EQ(listed, wrote.at("distinct"));

    for (const char *log : {"logs/crawlsim.log", "logs/crawlsim-module.log"}) {
        EXPECT_TRUE(file_exists(dir_.file(std::string(log) + ".9"))) << log;
        EXPECT_NE(read_file(dir_.file(log)).find("http://"), std::string::npos) << log;
    }
}

}  // namespace
