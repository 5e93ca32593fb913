// crawlsim writes databases through the crawler's operations; crawlpeek must
// report exactly what crawlsim says it wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/scratch_dir.h"

namespace {

// The numbers crawlsim reports, by name; empty when its report is not there.
std::map<std::string, long> sim_counts(const std::string &out) {
    long crawls, visited, created, distinct, digest, modified, with_links, links;
    const int read = std::sscanf(out.c_str(),
                                 "crawlsim: %ld crawls, %ld pages visited, %ld records created "
                                 "in %*f s (%*f pages/s)\n"
                                 "crawlsim: %ld distinct pages visited: %ld with digest, %ld with "
                                 "last-modified, %ld with links, %ld links\n",
                                 &crawls, &visited, &created, &distinct, &digest, &modified,
                                 &with_links, &links);
    if (read != 8) return {};
    return {{"visited", visited},   {"created", created},       {"digest", digest},
            {"modified", modified}, {"with links", with_links}, {"links", links}};
}

// The value of a summary line of crawlpeek, or -1.
long summary_value(const std::string &out, const std::string &label) {
    const size_t at = out.find("  " + label);
    if (at == std::string::npos) return -1;
    return std::stol(out.substr(out.find(": ", at) + 2));
}

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
        ASSERT_EQ(wrote.size(), 6u) << s.out;
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
                             "[-t threads] [-c crawls] [-k] [-h robot_dir]\n"),
                  std::string::npos);
    }
}

}  // namespace
