#include "robot/vurl_marking.h"

#include <gtest/gtest.h>

#include <string>

#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/vurl_db.h"
#include "robot/vurl_fixture.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_ops.h"
#include "support/sample_db.h"
#include "support/test_hooks.h"

namespace {

constexpr int32_t kNextCrawl = 1800000000;

// Pages are written in the crawl kCrawl; the passes run in kNextCrawl.
class VurlMarkingTest : public VurlDbTest {
  protected:
    void TearDown() override {
        g_save_relative_links = 0;
        VurlDbTest::TearDown();
    }
    uint32_t processed(const std::string &url) { return record(url)->last_processed; }
    void mark(const char *url) {
        VisitedDbHold hold;
        MarkTreeProcessed(url);
    }
    // The stored metadata flags, as the next open would read them.
    uint32_t stored_flags() {
        const std::string meta =
            read_stored(file("vid.db"), std::string("VURL_META_DATA") + '\0').value_or("");
        return meta.size() == 16 ? decode_fixed32(reinterpret_cast<const uint8_t *>(&meta[12]))
                                 : 0xffffffff;
    }
};

TEST_F(VurlMarkingTest, ALinkCycleIsStampedOnceAndTheWalkEnds) {
    add_page("http://a/", {"http://b/"});
    add_page("http://b/", {"http://a/"});
    g_timestamp = kNextCrawl;
    EXPECT_EQ(ProcessDisabledStartPoint(), 0);
    EXPECT_EQ(processed("http://a/"), static_cast<uint32_t>(kNextCrawl));
    EXPECT_EQ(processed("http://b/"), static_cast<uint32_t>(kNextCrawl));
}

TEST_F(VurlMarkingTest, StampingKeepsEveryOtherByte) {
    add_page("http://a/", {"http://b/"});
    const std::string before = stored("http://a/");
    g_timestamp = kNextCrawl;
    mark("http://a/");
    const std::string after = stored("http://a/");
    EXPECT_EQ(after.substr(0, 4), be32(kNextCrawl));
    EXPECT_EQ(after.substr(4), before.substr(4));
}

TEST_F(VurlMarkingTest, StartPointsProcessedInThisCrawlAreLeftAlone) {
    add_page("http://a/", {"http://b/"});
    add_page("http://c/", {"http://d/"});
    g_timestamp = kNextCrawl;
    ASSERT_EQ(visited_url_get_status("http://a/", nullptr, 1, 3), 1);  // a is in this crawl
    EXPECT_EQ(ProcessDisabledStartPoint(), 0);
    EXPECT_EQ(processed("http://b/"), static_cast<uint32_t>(kCrawl));
    EXPECT_EQ(processed("http://c/"), static_cast<uint32_t>(kNextCrawl));
    EXPECT_EQ(processed("http://d/"), static_cast<uint32_t>(kNextCrawl));
}

TEST_F(VurlMarkingTest, ARecordWhoseRefererIsGoneCountsAsAStartPoint) {
    StoredRecord orphan = StoredRecord::full("http://orphan/");
    orphan.referer_id = 999;
    const std::string orphan_bytes = orphan.bytes();
    DBT orphan_value = borrowed_dbt(orphan_bytes.data(), orphan_bytes.size());
    DBT orphan_key = string_key("http://orphan/");
    ASSERT_EQ(vdb_url->put(vdb_url, &orphan_key, &orphan_value), 1);

    g_timestamp = kNextCrawl;
    EXPECT_EQ(ProcessDisabledStartPoint(), 0);
    EXPECT_EQ(processed("http://orphan/"), static_cast<uint32_t>(kNextCrawl));
}

TEST_F(VurlMarkingTest, MarkingAnUnknownUrlChangesNothing) {
    add_page("http://a/", {});
    const std::string before = stored("http://a/");
    g_timestamp = kNextCrawl;
    mark("http://unknown/");
    EXPECT_EQ(stored("http://a/"), before);
}

TEST_F(VurlMarkingTest, RelativeLinksAreMadeAbsoluteAndNormalisedBeforeTheyAreFollowed) {
    add_page("http://a/", {"b", "skip"});
    ASSERT_EQ(visited_url_get_status("http://a/b", nullptr, 1, 0), 1);
    g_timestamp = kNextCrawl;
    g_save_relative_links = 1;
    test_hooks().refuse_normalize = {"http://a/skip"};
    mark("http://a/");
    EXPECT_EQ(processed("http://a/b"), static_cast<uint32_t>(kNextCrawl));
    EXPECT_EQ(processed("b"), static_cast<uint32_t>(kCrawl));
    EXPECT_EQ(processed("skip"), static_cast<uint32_t>(kCrawl));
    EXPECT_EQ(test_hooks().made_absolute.size(), 2u);

    g_save_relative_links = 0;
    g_timestamp = kNextCrawl + 1;
    mark("http://a/");
    EXPECT_EQ(processed("b"), static_cast<uint32_t>(kNextCrawl + 1));
}

TEST_F(VurlMarkingTest, ALongChainIsMarkedToItsEnd) {
    constexpr int kPages = 3000;
    ASSERT_EQ(visited_url_get_status("p0", nullptr, 1, kPages), 1);
    for (int i = 0; i < kPages; ++i) {
        Table next = make_links({"p" + std::to_string(i + 1)});
        ASSERT_EQ(visited_url_update_data(("p" + std::to_string(i)).c_str(), 200, 0, nullptr,
                                          nullptr, nullptr, next.get(), nullptr, nullptr),
                  1);
    }
    g_timestamp = kNextCrawl;
    EXPECT_EQ(ProcessDisabledStartPoint(), 0);
    EXPECT_EQ(processed("p" + std::to_string(kPages)), static_cast<uint32_t>(kNextCrawl));
}

TEST_F(VurlMarkingTest, TheScanHandsOnUnprocessedPagesWithContentOncePerOpen) {
    add_page("http://digest/", {});
    add_page("http://cleared/", {});
    ASSERT_EQ(visited_url_clear_md5("http://cleared/"), 1);
    add_page("http://plain/", {}, nullptr);
    add_page("http://current/", {});
    g_timestamp = kNextCrawl;
    ASSERT_EQ(visited_url_get_status("http://current/", nullptr, 1, 0), 1);

    EXPECT_EQ(visited_url_scan_brokenlinks(1), 1);
    EXPECT_EQ(test_hooks().depot_deletes, std::vector<std::string>{"http://digest/ pages"});
    EXPECT_EQ(test_hooks().paused_calls, 4);
    EXPECT_EQ(test_hooks().stopped_calls, 4);
    EXPECT_EQ(g_vurl_meta.flags, 0u);

    EXPECT_EQ(visited_url_scan_brokenlinks(0), 0);
    EXPECT_EQ(visited_url_scan_brokenlinks(1), 0);
    EXPECT_EQ(test_hooks().stopped_calls, 4);
    EXPECT_TRUE(test_hooks().spawned.empty());
}

TEST_F(VurlMarkingTest, TheRevisitScanRecordsThatItBeganBeforeHandingOn) {
    add_page("http://a/", {"http://b/"});
    ASSERT_EQ(visited_url_update_data("http://b/", 200, 0, nullptr, nullptr, nullptr, nullptr,
                                      "fedcba9876543210fedcba9876543210", nullptr),
              1);
    g_timestamp = kNextCrawl;
    EXPECT_EQ(visited_url_scan_brokenlinks(0), 2);
    EXPECT_EQ(test_hooks().spawned,
              (std::vector<std::string>{"http://a/ 3 -", "http://b/ 2 http://a/"}));
    EXPECT_EQ(g_vurl_meta.flags, kVurlMetaIterating);
    visited_url_shutdown(0);
    EXPECT_EQ(stored_flags(), kVurlMetaIterating);
}

TEST_F(VurlMarkingTest, AStopEndsTheScanAfterTheRecordItFollows) {
    for (const char *url : {"http://1/", "http://2/", "http://3/", "http://4/", "http://5/"}) {
        add_page(url, {}, url[7] == '2' ? nullptr : "0123456789abcdef0123456789abcdef");
    }
    g_timestamp = kNextCrawl;
    test_hooks().stop_at_call = 3;
    EXPECT_EQ(visited_url_scan_brokenlinks(1), 2);  // 1 and 3; 2 has no digest
    EXPECT_EQ(test_hooks().depot_deletes.size(), 2u);
}

TEST_F(VurlMarkingTest, ValuesThatDoNotDecodeAreNeitherStampedNorWrittenPast) {
    // Too short to hold a stamp; full length but with a URL that never ends.
    const std::pair<const char *, std::string> cases[] = {{"http://short/", "ab"},
                                                          {"http://cut/", std::string(24, 'x')}};
    for (const auto &[url, bytes] : cases) {
        DBT key = string_key(url);
        DBT value = borrowed_dbt(bytes.data(), bytes.size());
        ASSERT_EQ(vdb_url->put(vdb_url, &key, &value), 1);
    }
    g_timestamp = kNextCrawl;
    for (const auto &[url, bytes] : cases) {
        mark(url);
        EXPECT_EQ(stored(url), bytes) << url;
    }
    ProcessDisabledStartPoint();
    for (const auto &[url, bytes] : cases) EXPECT_EQ(stored(url), bytes) << url;
}

}  // namespace

