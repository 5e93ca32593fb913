// The whole dump resolves ids from a table of URLs learnt in one walk of the
// file, within a memory budget. Whatever the budget, it must print what
// reading every id from the file prints (budget 0), byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
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
    far.link_ids = std::vector<uint32_t>{start, kFarId};
    db.put_record(kFarId, far.bytes());
    db.add(StoredRecord::full("LastProcessTime"));
    db.set_meta(2, 0, static_cast<int32_t>(kFarId + 1), 0);
    return db;
}

TEST(CrawlpeekTableTest, EveryStoredFormAndUnresolvedIdDumpsAsTheFileReadsIt) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.file("logs"));
    // Longer than the walk's first buffer, so that the buffer has to grow for it.
    const std::string long_url = "http://long/" + std::string(1500000, 'x');
    ASSERT_EQ(awkward_db(long_url).write(dir.file("robot")), "");
    // Past the budget the dump spills to scratch files, which must be gone
    // when it ends.
    std::filesystem::create_directory(dir.file("tmp"));
    auto peek = [&](const std::optional<std::string> &budget) {
        ScopedEnv env;
        env.set("CRAWLPEEK_URL_TABLE_BUDGET", budget);
        env.set("TMPDIR", dir.file("tmp"));
        return run_process(CRAWLPEEK_BINARY, {}, dir.path());
    };
    const ProcessResult literal = peek("0");
    EXPECT_EQ(literal.status, 0);
    // Budgets that hold a few URLs a range, so that the ids past the first
    // range are resolved in many passes (and the long URL, which fits none,
    // is read from the file); and the default, which holds them all.
    for (const auto &budget : {std::optional<std::string>("300"), {"700"}, {"4096"}, {}}) {
        const ProcessResult table = peek(budget);
        EXPECT_EQ(table.status, 0);
        EXPECT_TRUE(table.out == literal.out) << "budget " << budget.value_or("default");
        EXPECT_EQ(table.err, literal.err) << "budget " << budget.value_or("default");
        EXPECT_TRUE(std::filesystem::is_empty(dir.file("tmp")));
    }
    // What the comparison is worth: the literal dump holds the cases.
    EXPECT_NE(literal.out.find("http://start/\n  referer:         starting-point\n"),
              std::string::npos);
    EXPECT_NE(literal.out.find("\n  links:           95\n"), std::string::npos);
    EXPECT_NE(literal.out.find("                  http://leftover/\n"), std::string::npos);
    EXPECT_NE(literal.out.find("                  " + long_url + "\n"), std::string::npos);
    EXPECT_NE(literal.out.find("http://far/\n  referer:         http://p/3\n"), std::string::npos);
    EXPECT_NE(literal.out.find("  md5:             abc\n"), std::string::npos);
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

}  // namespace
