// crawlpeek's reports on real database files, run as a process.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "adt/velhashtable.h"
#include "support/run_process.h"
#include "support/sample_db.h"
#include "support/scratch_dir.h"

namespace {

constexpr uint32_t kTime = 1796371200;
const char kTimeText[] = "Fri, 04 Dec 2026 08:00:00 GMT";
const char kBanner[] =
    "  =====================================================\n"
    "  Last crawl is completed\n"
    "  =====================================================\n";
// Three URLs of 10 bytes each.
const char kA[] = "http://a/x";
const char kB[] = "http://b/y";
const char kC[] = "http://c/z";

// The link lines of a record whose links were stored in this order: in the
// order in which the record's link table walks them.
std::string link_lines(const std::vector<std::string> &links) {
    velhashtable *table = nullptr;
    if (velhashtable_create(73, &table) != 0) return "(no table)";
    for (const std::string &link : links) velhashtable_insert(table, link.c_str(), link.c_str());
    std::string lines;
    for (void *item = velhashtable_iterate(table, nullptr, nullptr); item != nullptr;
         item = velhashtable_iterate(table, item, item)) {
        lines += std::string(18, ' ') + static_cast<const char *>(item) + "\n";
    }
    velhashtable_free(table);
    return lines;
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

class CrawlpeekDumpTest : public testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directory(dir_.file("logs")); }

    void write(const SampleDb &db, const std::string &home = "robot") {
        ASSERT_EQ(db.write(dir_.file(home)), "");
    }
    ProcessResult run(const std::vector<std::string> &args) {
        return run_process(CRAWLPEEK_BINARY, args, dir_.path());
    }

    // A: a starting point with every field set, linking to A, B and C.
    // B: found on A, never fetched, no links. C: found on B, linking to A, B,
    // C and A again, its digest cleared.
    SampleDb example() {
        SampleDb db;
        StoredRecord a = StoredRecord::full(kA);
        a.last_processed = a.last_visited = a.last_modified = kTime;
        a.progress_status = 4;
        a.md5 = "0123456789abcdef0123456789abcdef";
        a.database = "pages";
        a.depth_and_status = std::make_pair(3, 200);
        a.link_ids = std::vector<uint32_t>{db.id_of(kA), db.id_of(kB), db.id_of(kC)};
        StoredRecord b = StoredRecord::full(kB);
        b.last_processed = kTime;
        b.referer_id = db.id_of(kA);
        b.depth_and_status = std::make_pair(2, 0);
        StoredRecord c = StoredRecord::full(kC);
        c.rd_expires = kTime;
        c.md5_cleared = true;
        c.referer_id = db.id_of(kB);
        c.link_ids = std::vector<uint32_t>{1, 2, 3, 1};
        data_size_ = 0;
        for (const StoredRecord *record : {&a, &b, &c}) {
            db.add(*record);
            data_size_ += static_cast<long>(record->bytes().size());
        }
        return db;
    }

    static std::string entry_a() {
        return std::string(kA) +
               "\n  referer:         starting-point\n  progress status: 4\n"
               "  server status:   200\n  depth countdown: 3\n"
               "  md5:             0123456789abcdef0123456789abcdef\n"
               "  database:        pages\n  last_processed:  " +
               kTimeText + "\n  last_visited:    " + kTimeText +
               "\n  last_modified:   " + kTimeText +
               "\n  rd_expires:      \n  links:           3\n" + link_lines({kA, kB, kC}) + "\n";
    }
    static std::string entry_b() {
        return std::string(kB) + "\n  referer:         " + kA +
               "\n  progress status: 0\n  server status:   0\n  depth countdown: 2\n"
               "  md5:             \n  database:        \n  last_processed:  " +
               kTimeText +
               "\n  last_visited:    \n  last_modified:   \n  rd_expires:      \n"
               "  links:           0\n\n";
    }
    static std::string entry_c() {
        return std::string(kC) + "\n  referer:         " + kB +
               "\n  progress status: 0\n  server status:   0\n  depth countdown: 0\n"
               "  md5:             \n  database:        \n  last_processed:  \n"
               "  last_visited:    \n  last_modified:   \n  rd_expires:      " +
               kTimeText + "\n  links:           4\n" + link_lines({kA, kB, kC, kA}) + "\n";
    }

    ScratchDir dir_;
    long data_size_ = 0;
};

TEST_F(CrawlpeekDumpTest, TheWholeDumpPrintsEveryEntryAndTheSummary) {
    write(example());
    ProcessResult r = run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // 7 links in 2 entries; 70 bytes in 7 links.
    EXPECT_EQ(r.out, kBanner + entry_a() + entry_b() + entry_c() +
                         summary({3, 1, 1, 2, 7, 3, 70, 10, 12, data_size_}));
}

TEST_F(CrawlpeekDumpTest, TheFileOptionChangesNothingAndTheHomeOptionIsHonoured) {
    write(example());
    const std::string plain = run({}).out;
    write(example(), "elsewhere");
    std::filesystem::remove_all(dir_.file("robot"));
    EXPECT_EQ(run({"-h", "elsewhere"}).out, plain);
    EXPECT_EQ(run({"-h", dir_.file("elsewhere")}).out, plain);
    write(example());

    ProcessResult same = run({"-f", "url-visited.db", "-l", "9"});
    EXPECT_EQ(same.out, plain);
    EXPECT_EQ(same.err, "");

    ProcessResult other = run({"-f", "other.db"});
    EXPECT_EQ(other.out, plain);
    EXPECT_EQ(other.err,
              "crawlpeek: -f other.db is ignored: the record file is always url-visited.db\n");
}

TEST_F(CrawlpeekDumpTest, ASingleEntryPrintsAloneAndAMissingOneNothing) {
    write(example());
    ProcessResult r = run({"-u", kB});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, entry_b());

    ProcessResult missing = run({"-u", "http://nowhere/"});
    EXPECT_EQ(missing.status, 0);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "");
}

TEST_F(CrawlpeekDumpTest, TimesPast2038PrintAsTheyAreUntil2106) {
    SampleDb db;
    StoredRecord a = StoredRecord::full(kA);
    a.last_processed = 0x80000000u;
    a.last_modified = 0xffffffffu;
    db.add(a);
    db.set_meta(2, 0x80000000u, static_cast<int32_t>(db.next_id()), 0);
    write(db);
    const std::string out = run({}).out;
    for (const char *line : {"  Last crawl started at Tue, 19 Jan 2038 03:14:08 GMT is not completed\n",
                             "  last_processed:  Tue, 19 Jan 2038 03:14:08 GMT\n",
                             "  last_modified:   Sun, 07 Feb 2106 06:28:15 GMT\n"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line << out;
    }
}

TEST_F(CrawlpeekDumpTest, TheRefererChainPrintsOneUrlALineUpToTheStartingPoint) {
    write(example());
    const std::string chain = std::string(kC) + "\n" + kB + "\n" + kA + "\n";
    EXPECT_EQ(run({"-r", kC}).out, chain);
    // -r clears the details and sets the chain; a later -u restores neither.
    EXPECT_EQ(run({"-r", kA, "-u", kC}).out, chain);
    EXPECT_EQ(run({"-u", kA, "-r", kC}).out, chain);
}

TEST_F(CrawlpeekDumpTest, TheRefererChainStopsWhereItWouldRepeat) {
    SampleDb db;
    StoredRecord x = StoredRecord::full("http://x/");
    x.referer_id = db.id_of("http://y/");
    StoredRecord y = StoredRecord::full("http://y/");
    y.referer_id = db.id_of("http://x/");
    StoredRecord self = StoredRecord::full("http://self/");
    self.referer_id = db.id_of("http://self/");
    for (const StoredRecord *record : {&x, &y, &self}) db.add(*record);
    write(db);

    ProcessResult r = run({"-r", "http://x/"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "http://x/\nhttp://y/\n");
    EXPECT_EQ(run({"-r", "http://self/"}).out, "http://self/\n");
}

TEST_F(CrawlpeekDumpTest, ACrawlInProgressIsNamedWithItsStartTime) {
    SampleDb db;
    db.set_meta(2, static_cast<int32_t>(kTime), 1, 0);
    write(db);
    ProcessResult r = run({});
    EXPECT_EQ(r.out, std::string("  =====================================================\n"
                                 "  Last crawl started at ") +
                         kTimeText +
                         " is not completed\n"
                         "  =====================================================\n" +
                         summary({0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CrawlpeekDumpTest, TheLastProcessTimeRecordIsCountedOnlyInTheSizes) {
    SampleDb db;
    StoredRecord last = StoredRecord::full("LastProcessTime");
    last.last_processed = kTime;
    db.add(last);
    write(db);
    ProcessResult r = run({});
    EXPECT_EQ(r.out, kBanner + summary({0, 0, 0, 0, 0, 0, 0, 0, 4,
                                        static_cast<long>(last.bytes().size())}));
}

TEST_F(CrawlpeekDumpTest, RecordsThatDoNotDecodeAreSkippedAndTheWalkGoesOn) {
    SampleDb db = example();
    const std::string skipped[] = {
        "garbage",                                       // shorter than the five words
        StoredRecord::full("").bytes(),                  // no URL
        StoredRecord::full("http://d/w").bytes() + "!",  // a byte left over
    };
    long skipped_size = 0;
    for (uint32_t i = 0; i < 3; ++i) {
        db.put_record(4 + i, skipped[i]);
        skipped_size += static_cast<long>(skipped[i].size());
    }
    StoredRecord dangling = StoredRecord::full("http://e/v");
    dangling.referer_id = 99;
    db.put_record(7, dangling.bytes());
    write(db);
    ProcessResult r = run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "crawlpeek: record 4 cannot be decoded, skipped\n"
              "crawlpeek: record 5 cannot be decoded, skipped\n"
              "crawlpeek: record 6 cannot be decoded, skipped\n");
    const long dangling_size = static_cast<long>(dangling.bytes().size());
    const std::string entry_e =
        "http://e/v\n  referer:         starting-point\n  progress status: 0\n"
        "  server status:   0\n  depth countdown: 0\n  md5:             \n"
        "  database:        \n  last_processed:  \n  last_visited:    \n"
        "  last_modified:   \n  rd_expires:      \n  links:           0\n\n";
    EXPECT_EQ(r.out, kBanner + entry_a() + entry_b() + entry_c() + entry_e +
                         summary({4, 1, 1, 2, 7, 3, 70, 10, 28,
                                  data_size_ + skipped_size + dangling_size}));
}

}  // namespace
