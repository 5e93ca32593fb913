// crawlsim writes databases through the crawler's operations; crawlpeek must
// report exactly what crawlsim says it wrote.
#include <db.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "robot/memory_budget.h"
#include "robot/vurl_record.h"
#include "support/crawl_report.h"
#include "support/run_process.h"
#include "support/scoped_env.h"
#include "support/scratch_dir.h"

namespace {

// Calls each(key, value) for every record of a pool bank, read with Berkeley
// DB alone; nothing without the file.
template <typename Each>
void walk_bank(const std::string &file, Each each) {
    DB *db = nullptr;
    if (db_create(&db, nullptr, 0) != 0) return;
    DBC *cursor = nullptr;
    if (db->open(db, nullptr, file.c_str(), nullptr, DB_BTREE, DB_RDONLY, 0) == 0 &&
        db->cursor(db, nullptr, &cursor, 0) == 0) {
        DBT key{}, value{};
        while (cursor->get(cursor, &key, &value, DB_NEXT) == 0) each(&key, &value);
        cursor->close(cursor);
    }
    db->close(db, 0);
}

// The URLs of a bank's records: a value holds three 32-bit numbers, then the URL.
std::set<std::string> pool_urls(const std::string &file) {
    std::set<std::string> urls;
    walk_bank(file, [&](DBT *, DBT *value) { urls.insert(static_cast<char *>(value->data) + 12); });
    return urls;
}

// Takes the main bank's first URL into a new backup bank, as a crash while
// it was in work leaves it.
void take_first_into_work(const std::string &robot) {
    DB *main = nullptr, *backup = nullptr;
    ASSERT_TRUE(db_create(&main, nullptr, 0) == 0 && db_create(&backup, nullptr, 0) == 0);
    const std::string from = robot + "/enumerate.db", to = robot + "/enumerate_bak.db";
    ASSERT_EQ(main->open(main, nullptr, from.c_str(), nullptr, DB_BTREE, 0, 0), 0);
    ASSERT_EQ(backup->open(backup, nullptr, to.c_str(), nullptr, DB_BTREE, DB_CREATE, 0644), 0);
    DBC *cursor = nullptr;
    DBT key{}, value{};
    ASSERT_EQ(main->cursor(main, nullptr, &cursor, 0), 0);
    ASSERT_EQ(cursor->get(cursor, &key, &value, DB_FIRST), 0);
    EXPECT_EQ(backup->put(backup, nullptr, &key, &value, 0), 0);
    EXPECT_EQ(cursor->del(cursor, 0), 0);
    cursor->close(cursor);
    EXPECT_EQ(backup->close(backup, 0) + main->close(main, 0), 0);
}

// What a crawl stored, but its times: vid.db's keys and ids, then each record
// of url-visited.db by id with its URL, referer and link ids, statuses,
// digest, database and depth.
std::string stored_without_times(const std::string &robot) {
    std::ostringstream out;
    walk_bank(robot + "/vid.db", [&](DBT *key, DBT *value) {
        out << std::string(static_cast<char *>(key->data), key->size) << " -> "
            << std::string(static_cast<char *>(value->data), value->size) << "\n";
    });
    walk_bank(robot + "/url-visited.db", [&](DBT *key, DBT *value) {
        visited_url_fields f;
        out << std::string(static_cast<char *>(key->data), key->size) << ": ";
        if (!visited_url_parse(value->data, value->size, &f)) {
            out << "undecodable\n";
            return;
        }
        out << f.url << " " << f.has_referer << f.referer_id << " " << f.progress_status << " "
            << f.server_status << " " << f.md5 << " " << f.database << " " << f.depth_countdown;
        for (size_t i = 0; i < f.link_id_count; ++i) out << " " << f.link_id(i);
        out << "\n";
    });
    return out.str();
}

// The crawler's index of ids, and its memory of the URLs met in the crawl,
// change no id and no record: with the index given no memory (every lookup
// reads vid.db), memory for part of the crawl, or the default, the same
// crawls store the same ids, referers and links. The first crawl is left
// unfinished and taken up by a second process, which then runs another.
// Neither leaves a file of its Berkeley DB environment.
TEST(CrawlsimStoreTest, IdsAndRecordsAreTheSameWhateverTheIndexHolds) {
    const std::optional<std::string> budgets[] = {"0", "200000", std::nullopt};
    std::string expected;
    for (const std::optional<std::string> &budget : budgets) {
        SCOPED_TRACE(budget.value_or("default"));
        ScratchDir dir;
        std::filesystem::create_directory(dir.file("logs"));
        ScopedEnv env;
        env.set(kRobotMemoryBudgetVariable, budget);
        std::string out;
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"-n", "300", "-l", "5", "-t", "1", "-k"},
              std::vector<std::string>{"-n", "300", "-l", "5", "-t", "1", "-c", "2"}}) {
            ProcessResult s = run_process(CRAWLSIM_BINARY, args, dir.path());
            ASSERT_EQ(s.status, 0) << s.err;
            out = s.out;
        }
        // The index held every URL within the default budget, some within
        // 200,000 bytes (100,000 for the index), none within 0.
        const size_t at = out.find("its index held ");
        ASSERT_NE(at, std::string::npos) << out;
        const size_t indexed = std::stoul(out.substr(at + 15));
        size_t urls = 0;
        walk_bank(dir.file("robot/vid.db"), [&](DBT *, DBT *value) { urls += value->size == 4; });
        if (!budget) {
            EXPECT_EQ(indexed, urls);
        } else if (*budget == "0") {
            EXPECT_EQ(indexed, 0u);
        } else {
            EXPECT_TRUE(indexed > 0 && indexed < urls) << indexed;
        }
        // The crawler's environment was its own: it left no file behind.
        for (const auto &entry : std::filesystem::directory_iterator(dir.file("robot"))) {
            EXPECT_FALSE(entry.path().filename().string().starts_with("__db.")) << entry.path();
        }
        const std::string stored = stored_without_times(dir.file("robot"));
        if (expected.empty()) {
            expected = stored;
            ASSERT_GT(std::count(expected.begin(), expected.end(), '\n'), 1000) << expected;
        } else {
            EXPECT_EQ(stored, expected);
        }
    }
}

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
         {std::vector<std::string>{"-x"}, {"-n", "0"}, {"-t", "65"}, {"-t", "many"}, {"-t", "4x"},
          {"-n"}}) {
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
    EXPECT_EQ(sim_counts(sim({"-n", "1", "-h", "one"}).out)["visited"], 1);
    // A list of URLs that cannot be written, and a home whose name passes PATH_MAX.
    std::string far;
    for (int i = 0; i < 2050; ++i) far += "./";
    for (const auto &[args, said] : {std::pair{std::vector<std::string>{"-u", "no/such/urls"},
                                               "crawlsim: cannot write no/such/urls\n"},
                                     {{"-h", far}, "crawlsim: cannot make the URL pool\n"}}) {
        const ProcessResult failed = sim(args);
        EXPECT_EQ(failed.status, 1) << said;
        EXPECT_TRUE(failed.err.ends_with(said)) << failed.err;
    }
}

// A crawl left unfinished, with -k at the end of its budget or by a signal,
// leaves the URLs it claimed and did not fetch in the pool; a finished one,
// the same crawl without -k, leaves it empty.
TEST_F(CrawlsimTest, OnlyAnUnfinishedCrawlLeavesItsFrontierInThePool) {
    const struct {
        std::vector<std::string> args;
        bool signal, frontier;
    } rows[] = {
        {{"-n", "3", "-l", "1"}, false, false},
        {{"-n", "3", "-l", "1", "-k"}, false, true},
        {{"-n", "1000", "-d", "100"}, true, true},
    };
    for (const auto &row : rows) {
        ScratchDir dir;
        RunningProcess crawl = start_process(CRAWLSIM_BINARY, row.args, dir.path());
        // The pool's file is made once the crawl handles the signal.
        while (row.signal && !file_exists(dir.file("robot/enumerate.db"))) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (row.signal) kill(crawl.pid, SIGTERM);
        ProcessResult s = finish_process(&crawl);
        ASSERT_EQ(s.status, 0) << s.err;
        EXPECT_EQ(pool_urls(dir.file("robot/enumerate.db")).empty(), !row.frontier) << row.args[0];
        EXPECT_EQ(pool_urls(dir.file("robot/enumerate_bak.db")), std::set<std::string>{});
    }
}

// The next crawl restores the frontier, from both banks as a crash leaves
// it, and goes on with the crawl: the starting points, met already, wait no
// more, and the frontier's URLs, one link from them, come before the links
// found on their pages.
TEST_F(CrawlsimTest, TheNextCrawlRestoresTheFrontierAndCrawlsItFirst) {
    ASSERT_EQ(sim({"-n", "3", "-l", "1", "-k"}).status, 0);
    const std::set<std::string> frontier = pool_urls(dir_.file("robot/enumerate.db"));
    ASSERT_GE(frontier.size(), 2u);
    take_first_into_work(dir_.file("robot"));
    ProcessResult s = sim({"-n", "3", "-l", "1", "-u", "urls.txt"});
    ASSERT_EQ(s.status, 0) << s.err;
    std::istringstream lines(read_file(dir_.file("urls.txt")));
    std::set<std::string> visited;
    for (std::string url; std::getline(lines, url);) visited.insert(url);
    EXPECT_EQ(visited.count("http://www.site0.test/p0.html"), 0u);
    for (const std::string &url : frontier) EXPECT_EQ(visited.count(url), 1u) << url;
    for (const char *bank : {"robot/enumerate.db", "robot/enumerate_bak.db"}) {
        EXPECT_EQ(pool_urls(dir_.file(bank)), std::set<std::string>{}) << bank;
    }
}

}  // namespace
