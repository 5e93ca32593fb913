// crawlpeek dumping a database while crawlsim's four threads write it: every
// dump ends with status 0 or 1, one that ends prints whole entries of records
// that exist, and the files are sound once the crawler has stopped.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/crawl_report.h"
#include "support/run_process.h"
#include "support/scratch_dir.h"

namespace {

constexpr int kDumps = 50;
constexpr char kWriterNote[] = "crawlpeek: a crawler is writing url-visited.db";

bool starts_with(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

bool is_sim_url(std::string_view text) {
    return starts_with(text, "http://www.site") && text.size() > 20 &&
           text.substr(text.size() - 5) == ".html";
}

bool is_number(std::string_view text) {
    if (starts_with(text, "-")) text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool is_time(std::string_view text) {
    return text.empty() || (text.size() == 29 && text.substr(25) == " GMT");
}

bool is_digest(std::string_view text) {
    return text.empty() || (text.size() == 32 &&
                            text.find_first_not_of("0123456789abcdef") == std::string_view::npos);
}

// A printed field: its label, padded to the value column, and what its value
// must look like.
struct Field {
    std::string_view label;
    bool (*value_ok)(std::string_view);
};

// Whether the entry's lines are those of one record as crawlpeek prints it:
// the URL, the fields in their order (a record may lack some), and as many
// links as it counts.
bool is_whole_entry(const std::vector<std::string> &lines, std::string *why) {
    static const Field fields[] = {
        {"  referer:         ",
         [](std::string_view v) { return v == "starting-point" || is_sim_url(v); }},
        {"  progress status: ", is_number},
        {"  server status:   ", is_number},
        {"  depth countdown: ", is_number},
        {"  md5:             ", is_digest},
        {"  database:        ",
         [](std::string_view v) {
             return v.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == v.npos;
         }},
        {"  last_processed:  ", is_time},
        {"  last_visited:    ", is_time},
        {"  last_modified:   ", is_time},
        {"  rd_expires:      ", is_time},
    };
    constexpr std::string_view kLinks = "  links:           ";
    constexpr std::string_view kLink = "                  ";
    *why = lines.front();
    if (!is_sim_url(lines.front())) return false;
    size_t at = 1;
    for (const Field &field : fields) {
        if (at == lines.size() || !starts_with(lines[at], field.label)) continue;
        if (!field.value_ok(std::string_view(lines[at]).substr(field.label.size()))) break;
        ++at;
    }
    if (at < lines.size() && starts_with(lines[at], kLinks) &&
        is_number(std::string_view(lines[at]).substr(kLinks.size()))) {
        const size_t expected = std::stoul(lines[at].substr(kLinks.size()));
        ++at;
        size_t seen = 0;
        for (; at < lines.size() && starts_with(lines[at], kLink); ++at, ++seen) {
            if (!is_sim_url(std::string_view(lines[at]).substr(kLink.size()))) return false;
        }
        if (seen != expected) return false;
    }
    if (at != lines.size()) *why += " / " + lines[at];
    return at == lines.size();
}

// Ends the crawler however the test ends.
struct KillOnExit {
    RunningProcess *process;
    ~KillOnExit() {
        if (process->pid <= 0) return;
        kill(process->pid, SIGKILL);
        finish_process(process);
    }
};

// The entries of a dump's standard output, banner and summary left out.
std::vector<std::vector<std::string>> entries_of(const std::string &text) {
    std::vector<std::vector<std::string>> entries;
    std::istringstream in(text);
    bool in_entry = false;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) {
            in_entry = false;
        } else if (line.rfind("  ", 0) != 0) {
            entries.push_back({line});
            in_entry = true;
        } else if (in_entry) {
            entries.back().push_back(line);
        }
    }
    return entries;
}

TEST(CrawlpeekLiveTest, DumpsWhileACrawlerWritesPrintWholeRecordsAndLeaveTheFilesSound) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.file("logs"));
    // Fetches that take 20 ms keep the database small enough for 50 dumps
    // within the crawl; the page budget is never reached, a signal ends it.
    RunningProcess crawler = start_process(
        CRAWLSIM_BINARY, {"-n", "10000000", "-t", "4", "-d", "20", "-s", "11"}, dir.path());
    ASSERT_GT(crawler.pid, 0);
    KillOnExit stop_crawler{&crawler};

    const auto dump = [&] {
        return run_process("/usr/bin/timeout", {"60", CRAWLPEEK_BINARY}, dir.path());
    };
    // The first dumps may come before the crawler has its file open.
    for (int tries = 0; tries < 200; ++tries) {
        if (dump().err.find(kWriterNote) != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    std::set<std::string> printed;
    int finished = 0;
    for (int i = 0; i < kDumps; ++i) {
        ProcessResult p = dump();
        ASSERT_TRUE(p.status == 0 || p.status == 1) << "dump " << i << ": " << p.status << "\n"
                                                    << p.err;
        EXPECT_NE(p.err.find(kWriterNote), std::string::npos) << "dump " << i << ": " << p.err;
        if (p.status != 0) continue;
        ++finished;
        for (const std::vector<std::string> &entry : entries_of(p.out)) {
            std::string why;
            ASSERT_TRUE(is_whole_entry(entry, &why)) << "dump " << i << ": " << why;
            printed.insert(entry.front());
        }
    }
    EXPECT_EQ(finished, kDumps);

    ASSERT_EQ(kill(crawler.pid, SIGTERM), 0);
    ProcessResult sim = finish_process(&crawler);
    ASSERT_EQ(sim.status, 0) << sim.err;
    std::map<std::string, long> wrote = sim_counts(sim.out);
    ASSERT_EQ(wrote.size(), 7u) << sim.out;

    ProcessResult last = dump();
    ASSERT_EQ(last.status, 0) << last.err;
    EXPECT_EQ(last.err.find(kWriterNote), std::string::npos);
    EXPECT_EQ(summary_value(last.out, "Number of entries  "), wrote["created"]);
    EXPECT_EQ(summary_value(last.out, "Number of entries with MD5"), wrote["digest"]);
    EXPECT_EQ(summary_value(last.out, "Number of entries with LastModified"), wrote["modified"]);
    EXPECT_EQ(summary_value(last.out, "Number of entries with links"), wrote["with links"]);
    EXPECT_EQ(summary_value(last.out, "Total number of links"), wrote["links"]);
    // Records are never taken out, so everything a live dump printed is there.
    std::set<std::string> stored;
    for (const std::vector<std::string> &entry : entries_of(last.out)) stored.insert(entry.front());
    size_t missing = 0;
    for (const std::string &url : printed) missing += stored.count(url) == 0 ? 1 : 0;
    EXPECT_EQ(missing, 0u);
    EXPECT_GT(printed.size(), 0u);
}

}  // namespace
