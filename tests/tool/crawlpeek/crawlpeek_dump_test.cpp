// crawlpeek's reports on real database files, run as a process.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "adt/velhashtable.h"
#include "support/run_process.h"
#include "support/sample_db.h"
#include "support/scratch_dir.h"
#include "tool/crawlpeek/dump.h"

namespace {

// Times that all print differently; the last two lie past 2^31 - 1.
constexpr uint32_t kProcessed = 1796371200, kVisited = 1796461261, kModified = 1793779200;
const char kProcessedText[] = "Fri, 04 Dec 2026 08:00:00 GMT";
const char kVisitedText[] = "Sat, 05 Dec 2026 09:01:01 GMT";
const char kModifiedText[] = "Wed, 04 Nov 2026 08:00:00 GMT";
const char k2038Text[] = "Tue, 19 Jan 2038 03:14:08 GMT";  // 2^31
const char k2106Text[] = "Sun, 07 Feb 2106 06:28:15 GMT";  // 2^32 - 1
const char kBanner[] =
    "  =====================================================\n"
    "  Last crawl is completed\n"
    "  =====================================================\n";
// Three URLs of 10 bytes each.
const char kA[] = "http://a/x";
const char kB[] = "http://b/y";
const char kC[] = "http://c/z";

// An entry's lines, its links in the order a record's link table walks them.
std::string entry(const std::string &url, const std::string &referer, int progress, int server,
                  int depth, const std::string &md5, const std::string &database,
                  const std::string &processed, const std::string &visited,
                  const std::string &modified, const std::string &expires,
                  const std::vector<std::string> &links) {
    std::string t = url + "\n  referer:         " + referer +
                    "\n  progress status: " + std::to_string(progress) +
                    "\n  server status:   " + std::to_string(server) +
                    "\n  depth countdown: " + std::to_string(depth) +
                    "\n  md5:             " + md5 + "\n  database:        " + database +
                    "\n  last_processed:  " + processed + "\n  last_visited:    " + visited +
                    "\n  last_modified:   " + modified + "\n  rd_expires:      " + expires +
                    "\n  links:           " + std::to_string(links.size()) + "\n";
    velhashtable *table = nullptr;
    if (velhashtable_create(73, &table) != 0) return "(no table)";
    for (const std::string &link : links) velhashtable_insert(table, link.c_str(), link.c_str());
    for (void *item = velhashtable_iterate(table, nullptr, nullptr); item != nullptr;
         item = velhashtable_iterate(table, item, item)) {
        t += std::string(18, ' ') + static_cast<const char *>(item) + "\n";
    }
    velhashtable_free(table);
    return t + "\n";
}

std::string summary(const std::vector<long> &values) {
    static const char *const labels[] = {
        "Number of entries                   ", "Number of entries with LastModified ",
        "Number of entries with MD5          ", "Number of entries with links        ",
        "Total number of links               ", "Average number of links             ",
        "Total size of links                 ", "Average size of links               ",
        "Total db key size                   ", "Total db data size                  ",
    };
    std::string text = "  === Summary ====================================\n";
    for (size_t i = 0; i < values.size(); ++i) {
        text += std::string("  ") + labels[i] + ": " + std::to_string(values[i]) + "\n";
    }
    return text;
}

// Each row's database lies in a home of its own, named with -h but the first.
TEST(CrawlpeekDumpTest, EachModePrintsWhatTheRecordsHold) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.file("logs"));
    long bytes = 0;  // the stored values' sizes, summed as the records are added
    auto add = [&bytes](SampleDb &db, const StoredRecord &r) {
        db.add(r);
        bytes += static_cast<long>(r.bytes().size());
    };

    // A: a starting point with every field set, linking to A, B and C. B:
    // found on A, fetched, no links. C: found on B, linking to A, B, C and A
    // again, its digest cleared. 7 links in 2 entries; 70 bytes in 7 links.
    SampleDb db;
    StoredRecord a = StoredRecord::full(kA), b = StoredRecord::full(kB), c = StoredRecord::full(kC);
    a.last_processed = b.last_processed = kProcessed;
    a.last_visited = kVisited;
    a.last_modified = kModified;
    a.progress_status = 4;
    a.md5 = "0123456789abcdef0123456789abcdef";
    a.database = "pages";
    a.depth_and_status = std::make_pair(3, 200);
    a.link_ids = std::vector<uint32_t>{db.id_of(kA), db.id_of(kB), db.id_of(kC)};
    b.last_visited = 0x80000000u;
    b.referer_id = db.id_of(kA);
    b.depth_and_status = std::make_pair(2, 0);
    c.rd_expires = 0xffffffffu;
    c.md5_cleared = true;
    c.referer_id = db.id_of(kB);
    c.link_ids = std::vector<uint32_t>{1, 2, 3, 1};
    for (const StoredRecord *r : {&a, &b, &c}) add(db, *r);
    ASSERT_EQ(db.write(dir.file("robot")), "");
    const std::string entry_a =
        entry(kA, "starting-point", 4, 200, 3, a.md5, "pages", kProcessedText, kVisitedText,
              kModifiedText, "", {kA, kB, kC});
    const std::string whole =
        kBanner + entry_a + entry(kB, kA, 0, 0, 2, "", "", kProcessedText, k2038Text, "", "", {}) +
        entry(kC, kB, 0, 0, 0, "", "", "", "", "", k2106Text, {kA, kB, kC, kA}) +
        summary({3, 1, 1, 2, 7, 3, 70, 10, 12, bytes});
    const std::string chain = std::string(kC) + "\n" + kB + "\n" + kA + "\n";

    // Referers in a cycle; x links to y alone.
    SampleDb cycle;
    StoredRecord x = StoredRecord::full("http://x/"), y = StoredRecord::full("http://y/"),
                 self = StoredRecord::full("http://self/");
    x.referer_id = cycle.id_of("http://y/");
    x.link_ids = std::vector<uint32_t>{cycle.id_of("http://y/")};
    y.referer_id = cycle.id_of("http://x/");
    self.referer_id = cycle.id_of("http://self/");
    for (const StoredRecord *r : {&x, &y, &self}) cycle.add(*r);
    ASSERT_EQ(cycle.write(dir.file("cycle")), "");

    // The last process time's record is read, counted in the sizes, not printed.
    SampleDb last;
    bytes = 0;
    add(last, StoredRecord::full("LastProcessTime"));
    ASSERT_EQ(last.write(dir.file("last")), "");

    // A record file that fails verification is not walked.
    ASSERT_EQ(db.write(dir.file("damaged")), "");
    ASSERT_TRUE(write_file(dir.file("damaged/url-visited.db"), "http://a/x 1\n"));

    // No records, and a crawl in progress since 2^31.
    SampleDb empty;
    empty.set_meta(2, 0x80000000u, 1, 0);
    ASSERT_EQ(empty.write(dir.file("empty")), "");

    const struct {
        std::vector<std::string> args;
        std::string out, err;
        int status = 0;
    } rows[] = {
        {{}, whole, ""},
        {{"-f", "url-visited.db", "-l", "9"}, whole, ""},
        {{"-f", "other.db"},
         whole,
         "crawlpeek: -f other.db is ignored: the record file is always url-visited.db\n"},
        {{"-u", kA}, entry_a, ""},
        {{"-u", "http://nowhere/"}, "", ""},
        // -r clears the details and sets the chain; a later -u restores neither.
        {{"-r", kC}, chain, ""},
        {{"-r", kA, "-u", kC}, chain, ""},
        {{"-u", kA, "-r", kC}, chain, ""},
        {{"-h", "cycle", "-r", "http://x/"}, "http://x/\nhttp://y/\n", ""},
        {{"-h", "cycle", "-r", "http://self/"}, "http://self/\n", ""},
        {{"-h", "cycle", "-u", "http://x/"},
         entry("http://x/", "http://y/", 0, 0, 0, "", "", "", "", "", "", {"http://y/"}),
         ""},
        {{"-h", dir.file("last")}, kBanner + summary({0, 0, 0, 0, 0, 0, 0, 0, 4, bytes}), ""},
        {{"-h", "empty"},
         "  =====================================================\n  Last crawl started at " +
             std::string(k2038Text) +
             " is not completed\n  =====================================================\n" +
             summary({0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
         ""},
        {{"-h", "damaged"},
         "",
         "crawlpeek: url-visited.db does not pass verification: it is damaged; nothing is "
         "dumped\n",
         1},
    };
    for (const auto &r : rows) {
        std::vector<std::string> args = {"10", CRAWLPEEK_BINARY};  // a cycle must not hang
        args.insert(args.end(), r.args.begin(), r.args.end());
        ProcessResult p = run_process("/usr/bin/timeout", args, dir.path());
        const std::string what = testing::PrintToString(r.args);
        EXPECT_EQ(p.status, r.status) << what;
        EXPECT_EQ(p.out, r.out) << what;
        // The verifier's own lines ("robot: ...") are Berkeley DB's, and say
        // what damage it found.
        EXPECT_EQ(p.err.find("robot: ") != std::string::npos, r.status == 1) << what << p.err;
        std::string err;
        std::istringstream lines(p.err);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("robot: ", 0) != 0) err += line + "\n";
        }
        EXPECT_EQ(err, r.err) << what;
    }

    EXPECT_NE(read_file(dir.file("logs/crawlpeek.log"))
                  .find(": ERROR: Visited url database does not pass verification\n"),
              std::string::npos);
    std::filesystem::remove_all(dir.file("logs"));
    ProcessResult without_log = run_process(CRAWLPEEK_BINARY, {}, dir.path());
    EXPECT_EQ(without_log.status, 0);
    EXPECT_EQ(without_log.out, whole);
    EXPECT_EQ(without_log.err, "Cannot append to logs/crawlpeek.log.\n");
}

TEST(DumpSummaryTest, CountsPastTwoGibibytesPrintUnwrapped) {
    dump_counters c;
    c.entries = 3000000000;
    c.with_links = 2500000000;
    c.total_links = 7500000000;
    c.links_size = 600000000000;
    g_total_key_size = 12000000000;
    g_total_data_size = 5000000000;
    testing::internal::CaptureStdout();
    print_summary(c);
    g_total_key_size = g_total_data_size = 0;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              summary({3000000000, 0, 0, 2500000000, 7500000000, 3, 600000000000, 80, 12000000000,
                       5000000000}));
}

}  // namespace
