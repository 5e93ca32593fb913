// The whole dump resolves ids from a table of URLs learnt in one walk of the
// file, within a memory budget. Whatever the budget, it must print what
// reading every id from the file prints (budget 0), byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/sample_db.h"
#include "support/scoped_env.h"
#include "support/scratch_dir.h"

namespace {

constexpr uint32_t kTime = 1796371200;
constexpr uint32_t kFarId = 3000000;  // far past the others: an index too big for small budgets
constexpr uint32_t kMissingId = 4242;
constexpr uint32_t kTopId = 0x7fffffff;  // the highest id a crawler hands out

// Pages whose records take every stored form in turn, with their links
// pointing at each other, at records that do not resolve, and far away.
SampleDb awkward_db(const std::string &long_url) {
    SampleDb db;
    const uint32_t start = db.id_of("http://start/");
    std::vector<uint32_t> pages;
    for (int i = 0; i < 90; ++i) pages.push_back(db.id_of("http://p/" + std::to_string(i)));
    const uint32_t long_page = db.id_of(long_url);
    const uint32_t no_url = db.id_of("(no url)");
    const uint32_t garbage = db.id_of("(garbage)");
    const uint32_t leftover = db.id_of("http://leftover/");
    db.put_id("http://far/", be32(kFarId));

    StoredRecord s = StoredRecord::full("http://start/");
    s.last_processed = kTime;
    s.last_visited = kTime + 3600;
    s.last_modified = kTime - 86400;
    s.progress_status = 4;
    s.md5 = "0123456789abcdef0123456789abcdef";
    s.database = "pages";
    s.depth_and_status = std::make_pair(5, 200);
    // Ninety links fill the 73 buckets with collisions; then the start page
    // itself twice, a long URL, ids without a usable record, and a far id.
    std::vector<uint32_t> links = pages;
    for (uint32_t id : {start, start, long_page, no_url, garbage, kMissingId, leftover, kFarId}) {
        links.push_back(id);
    }
    s.link_ids = links;
    db.put_record(start, s.bytes());

    for (size_t i = 0; i < pages.size(); ++i) {
        StoredRecord p = StoredRecord::full("http://p/" + std::to_string(i));
        p.last_processed = kTime - static_cast<uint32_t>(i % 3) * 86400;
        p.referer_id = i % 7 == 0 ? kMissingId : start;
        p.link_ids = std::vector<uint32_t>{pages[(i + 1) % pages.size()], pages[i], kFarId};
        switch (i % 6) {
            case 0:  // ends after the referer
                p.link_ids.reset();
                break;
            case 1:  // ends after the ids
                p.link_end_mark = false;
                p.database.reset();
                break;
            case 2:  // ends after the end mark
                p.database.reset();
                break;
            case 3:  // ends after database
                p.depth_and_status.reset();
                break;
            case 4:
                p.md5_cleared = true;
                break;
            case 5:  // a digest with a zero byte inside prints up to it
                p.md5 = std::string("abc") + '\0' + std::string(28, 'd');
                break;
        }
        db.put_record(pages[i], p.bytes());
    }
    StoredRecord long_record = StoredRecord::full(long_url);
    long_record.referer_id = kFarId;
    long_record.link_ids = std::vector<uint32_t>{start};  // one link alone
    db.put_record(long_page, long_record.bytes());
    db.put_record(no_url, StoredRecord::full("").bytes());
    db.put_record(garbage, "garbage");
    // The record itself does not decode, yet its URL resolves.
    db.put_record(leftover, StoredRecord::full("http://leftover/").bytes() + "!");
    db.put_record_key("five!", StoredRecord::full("http://odd-key/").bytes());
    StoredRecord far = StoredRecord::full("http://far/");
    far.referer_id = pages[3];
    far.link_ids = std::vector<uint32_t>{start, kFarId, kTopId};
    db.put_record(kFarId, far.bytes());
    db.put_id("http://top/", be32(kTopId));
    StoredRecord top = StoredRecord::full("http://top/");
    top.referer_id = kFarId;
    top.link_ids = std::vector<uint32_t>{kTopId, start};
    db.put_record(kTopId, top.bytes());
    db.add(StoredRecord::full("LastProcessTime"));
    // Past every id handed out, the last record in key order links to a URL
    // shorter than a spilled entry's fixed bytes.
    StoredRecord past_top = StoredRecord::full("http://past-top/");
    past_top.link_ids = std::vector<uint32_t>{db.add(StoredRecord::full("x:"))};
    db.put_record(kTopId + 1, past_top.bytes());
    db.set_meta(2, 0, static_cast<int32_t>(kTopId), 0);
    return db;
}

// crawlpeek in dir with its scratch in tmpdir (set in the child only: the
// test's own scratch stays where it was) and a file-size limit (ulimit -f,
// in KB) that makes every write past it fail, as on a full disk; SIGXFSZ is
// ignored, as it stays through exec. Its output goes through pipes, which
// the limit does not touch.
ProcessResult run_limited(const std::string &dir, const std::string &tmpdir,
                          const std::string &limit) {
    const std::string script =
        "set -o pipefail; { (ulimit -f " + limit +
        "; trap '' XFSZ; TMPDIR=$1 exec \"$0\") 2>&1 1>&3 3>&- | cat >&2; } 3>&1 | cat";
    return run_process("/bin/bash", {"-c", script, CRAWLPEEK_BINARY, tmpdir}, dir);
}

class CrawlpeekTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(dir_.file("logs"));
        ASSERT_EQ(awkward_db(long_url_).write(dir_.file("robot")), "");
        std::filesystem::create_directory(dir_.file("tmp"));
        literal_ = peek("0");
        ASSERT_EQ(literal_.status, 0);
    }

    // The dump with budget, run through sh with limit (ulimit -f, in KB)
    // when given, and its scratch files in tmpdir.
    ProcessResult peek(const std::optional<std::string> &budget,
                       const std::optional<std::string> &tmpdir = {},
                       const std::string &limit = "unlimited") {
        ScopedEnv env;
        env.set("CRAWLPEEK_URL_TABLE_BUDGET", budget);
        return run_limited(dir_.path(), tmpdir.value_or(dir_.file("tmp")), limit);
    }

    ScratchDir dir_;
    // Longer than the walk's first buffer, so that the buffer has to grow for it.
    const std::string long_url_ = "http://long/" + std::string(1500000, 'x');
    ProcessResult literal_;
};

TEST_F(CrawlpeekTableTest, EveryStoredFormAndUnresolvedIdDumpsAsTheFileReadsIt) {
    const ProcessResult &literal = literal_;
    const std::string &long_url = long_url_;
    // Budgets that hold a few URLs a range, or none (1), so that the ids past
    // the first range are resolved from many ranges (and the long URL, which
    // fits none, is read from the file); budgets past 32 bits; and the
    // default, which holds them all up to the sparse ids near 2^31.
    for (const auto &budget : {std::optional<std::string>("1"), {"300"}, {"700"}, {"4096"},
                               {"4294967296"}, {"18446744073709551615"}, {}}) {
        const ProcessResult table = peek(budget);
        EXPECT_EQ(table.status, 0);
        EXPECT_TRUE(table.out == literal.out) << "budget " << budget.value_or("default");
        EXPECT_EQ(table.err, literal.err) << "budget " << budget.value_or("default");
        // Past the budget the dump spills to scratch files, which must be
        // gone when it ends.
        EXPECT_TRUE(std::filesystem::is_empty(dir_.file("tmp")));
    }
    // What the comparison is worth: the literal dump holds the cases.
    EXPECT_NE(literal.out.find("http://start/\n  referer:         starting-point\n"),
              std::string::npos);
    EXPECT_NE(literal.out.find("\n  links:           95\n"), std::string::npos);
    EXPECT_NE(literal.out.find("                  http://leftover/\n"), std::string::npos);
    EXPECT_NE(literal.out.find("                  " + long_url + "\n"), std::string::npos);
    EXPECT_NE(literal.out.find("http://far/\n  referer:         http://p/3\n"), std::string::npos);
    EXPECT_NE(literal.out.find("http://top/\n  referer:         http://far/\n"), std::string::npos);
    EXPECT_NE(literal.out.find("  md5:             abc\n"), std::string::npos);
    EXPECT_NE(literal.out.find("\n  links:           1\n                  x:\n"), std::string::npos);
    EXPECT_NE(literal.out.find("\nhttp://odd-key/\n"), std::string::npos);
    // A referer without a record leaves a starting point.
    EXPECT_NE(literal.out.find("\nhttp://p/0\n  referer:         starting-point\n"),
              std::string::npos);
    EXPECT_NE(literal.out.find("\n  links:           1\n                  http://start/\n\n"),
              std::string::npos);
    // Records that do not decode are passed over, and the walk goes on.
    EXPECT_EQ(literal.err,
              "crawlpeek: record 93 cannot be decoded, skipped\n"
              "crawlpeek: record 94 cannot be decoded, skipped\n"
              "crawlpeek: record 95 cannot be decoded, skipped\n");
}

// Scratch files that cannot be made, or whose writes fail at any size: the
// dump stays what the file gives, and one line says that the scratch was
// dropped.
TEST_F(CrawlpeekTableTest, ScratchThatFailsIsDroppedAndTheOutputStaysRight) {
    const std::string not_a_directory = dir_.file("plain");
    { std::ofstream(not_a_directory) << "x"; }
    struct Case {
        const char *name;
        std::string tmpdir;
        std::string limit;
        const char *budget;
        const char *why;  // the failure's own words
    };
    const std::vector<Case> cases = {
        {"a file", not_a_directory, "unlimited", "700", "Not a directory"},
        {"gone", dir_.file("gone"), "unlimited", "300", "No such file or directory"},
        {"no room at all", dir_.file("tmp"), "0", "700", "File too large"},
        {"room for a block", dir_.file("tmp"), "4", "300", "File too large"},
        {"room for a kilobyte", dir_.file("tmp"), "1", "1", "File too large"},
        {"room for all but the spills", dir_.file("tmp"), "8", "300", "File too large"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessResult table = peek(c.budget, c.tmpdir, c.limit);
        EXPECT_EQ(table.status, 0);
        EXPECT_TRUE(table.out == literal_.out);
        // The line comes once, whenever the failure came; the rest is what
        // the literal dump says.
        const std::string line = "crawlpeek: scratch file in " + c.tmpdir + ": " + c.why;
        const size_t at = table.err.find(line);
        ASSERT_NE(at, std::string::npos) << table.err;
        const size_t end = table.err.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_NE(table.err.substr(at, end - at)
                      .find("; referers and links past the URL table's budget are read from "
                            "url-visited.db"),
                  std::string::npos);
        EXPECT_EQ(table.err.substr(0, at) + table.err.substr(end + 1), literal_.err);
        EXPECT_TRUE(std::filesystem::is_empty(dir_.file("tmp")));
    }
}

// The verifier keeps its own scratch, as large as the file, in $TMPDIR: when
// it cannot, the file could not be verified, and is not called damaged.
TEST(CrawlpeekVerifierTest, AVerifierShortOfRoomSaysWhyAndNeverDamaged) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.file("logs"));
    // Large enough that the verifier's page notes spill out of its cache.
    ASSERT_EQ(run_process(CRAWLSIM_BINARY, {"-n", "20000", "-t", "1"}, dir.path()).status, 0);
    struct Case {
        const char *name;
        std::string tmpdir;
        const char *limit;
        int status;
    };
    const std::vector<Case> cases = {
        {"room", dir.path(), "unlimited", 0},
        {"no room", dir.path(), "0", 1},
        {"a directory that is not there", dir.file("gone"), "unlimited", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessResult peek = run_limited(dir.path(), c.tmpdir, c.limit);
        EXPECT_EQ(peek.status, c.status) << peek.err;
        EXPECT_EQ(peek.err.find("damaged"), std::string::npos) << peek.err;
        if (c.status == 0) {
            EXPECT_NE(peek.out.find("Number of entries"), std::string::npos);
        } else {
            EXPECT_EQ(peek.out, "");
            EXPECT_NE(peek.err.find("crawlpeek: url-visited.db could not be verified: "),
                      std::string::npos)
                << peek.err;
            // A scratch file that cannot be made: the verifier stops at
            // Berkeley DB's first word of it, rather than trying again for
            // every page its cache gives up.
            const size_t first = peek.err.find("BDB3014 ");
            EXPECT_EQ(first == std::string::npos ? first : peek.err.find("BDB3014 ", first + 1),
                      std::string::npos)
                << peek.err;
        }
    }
}

}  // namespace
