#include "robot/vurl_ops.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/vurl_db.h"
#include "robot/vurl_fixture.h"
#include "robot/vurl_meta.h"
#include "support/sample_db.h"

namespace {

using VurlOpsTest = VurlDbTest;

const char kDigest[] = "0123456789abcdef0123456789abcdef";

TEST_F(VurlOpsTest, GetStatusCreatesOnRequestAndAnswersFourWithinTheCrawl) {
    EXPECT_EQ(visited_url_get_status("http://a/", nullptr, 0, 3), 1);
    EXPECT_EQ(stored("http://a/"), "");
    EXPECT_EQ(g_vurl_meta.next_id, 1);

    EXPECT_EQ(visited_url_get_status("http://a/", nullptr, 1, 3), 1);
    EXPECT_EQ(visited_url_get_status("http://b/", "http://a/", 1, 2), 1);
    Record b = record("http://b/");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->progress_status, 0);
    EXPECT_STREQ(b->referer, "http://a/");
    EXPECT_EQ(b->depth_countdown, 2);
    EXPECT_EQ(b->last_processed, static_cast<uint32_t>(kCrawl));
    EXPECT_EQ(visited_url_get_status("http://b/", nullptr, 1, 9), kVurlMetInThisCrawl);
    EXPECT_EQ(record("http://b/")->depth_countdown, 2);
}

TEST_F(VurlOpsTest, GetStatusStampsARecordOfAnEarlierCrawlAndKeepsTheRest) {
    add_page("http://a/", {"http://b/"});
    ASSERT_EQ(visited_url_update_status("http://a/", 7), 1);
    g_timestamp = kCrawl + 1000;
    EXPECT_EQ(visited_url_get_status("http://a/", nullptr, 1, 9), 1);
    Record a = record("http://a/");
    EXPECT_EQ(a->last_processed, static_cast<uint32_t>(kCrawl + 1000));
    EXPECT_EQ(a->progress_status, 0);
    EXPECT_EQ(a->depth_countdown, 9);
    EXPECT_STREQ(a->md5, kDigest);
    EXPECT_STREQ(a->database, "pages");
    EXPECT_EQ(a->server_status, 200);
    EXPECT_EQ(a->last_visited, static_cast<uint32_t>(kCrawl + 1));
    EXPECT_EQ(table_entries(a->links), std::vector<std::string>{"http://b/"});
}

TEST_F(VurlOpsTest, UpdateDataReplacesTheDigestOnlyWithThirtyTwoCharacters) {
    add_page("http://a/", {});
    const std::string short_digest(31, 'e');
    EXPECT_EQ(visited_url_update_data("http://a/", 301, 0, nullptr, nullptr, nullptr, nullptr,
                                      short_digest.c_str(), nullptr),
              1);
    Record a = record("http://a/");
    EXPECT_STREQ(a->md5, kDigest);
    EXPECT_EQ(a->server_status, 301);
    EXPECT_EQ(a->progress_status, kVurlDataStored);
    EXPECT_STREQ(a->database, "pages");

    const std::string digest(32, 'f');
    EXPECT_EQ(visited_url_update_data("http://a/", 200, 0, nullptr, nullptr, nullptr, nullptr,
                                      digest.c_str(), "other"),
              1);
    a = record("http://a/");
    EXPECT_EQ(std::string(a->md5), digest);
    EXPECT_STREQ(a->database, "other");
    EXPECT_EQ(visited_url_update_data("http://none/", 200, 0, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr),
              0);
}

TEST_F(VurlOpsTest, UpdateDataCreatesTheRecordsOfNewLinks) {
    ASSERT_EQ(visited_url_get_status("http://a/", nullptr, 1, 4), 1);
    const int32_t next = g_vurl_meta.next_id;
    Table links = make_links({"http://new/"});
    ASSERT_EQ(visited_url_update_data("http://a/", 200, 0, nullptr, nullptr, nullptr, links.get(),
                                      nullptr, nullptr),
              1);
    EXPECT_EQ(id_of("http://new/"), static_cast<uint32_t>(next));
    Record linked = record("http://new/");
    ASSERT_NE(linked, nullptr);
    EXPECT_STREQ(linked->referer, "http://a/");
    EXPECT_EQ(linked->depth_countdown, 3);
    EXPECT_EQ(linked->progress_status, 0);
    EXPECT_EQ(table_entries(record("http://a/")->links), std::vector<std::string>{"http://new/"});
    EXPECT_EQ(table_entries(links.get()), std::vector<std::string>{"http://new/"});
}

TEST_F(VurlOpsTest, ClearMd5MarksTheDigestInPlaceAndWritesOtherValuesBack) {
    add_page("http://a/", {});
    const std::string before = stored("http://a/");
    EXPECT_EQ(visited_url_clear_md5("http://a/"), 1);
    const std::string after = stored("http://a/");
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after.substr(20, 2), std::string("*\0", 2));
    EXPECT_EQ(after.substr(22), before.substr(22));
    EXPECT_STREQ(record("http://a/")->md5, "");

    ASSERT_EQ(visited_url_get_status("http://b/", nullptr, 1, 0), 1);
    const std::string plain = stored("http://b/");
    EXPECT_EQ(visited_url_clear_md5("http://b/"), 1);
    EXPECT_EQ(stored("http://b/"), plain);
    EXPECT_EQ(visited_url_clear_md5("http://none/"), 0);
}

TEST_F(VurlOpsTest, UpdateStatusChangesOnlyTheStatusWord) {
    add_page("http://a/", {"http://b/"});
    const std::string before = stored("http://a/");
    EXPECT_EQ(visited_url_update_status("http://a/", 0x01020304), 1);
    std::string expected = before;
    expected.replace(16, 4, std::string("\1\2\3\4", 4));
    EXPECT_EQ(stored("http://a/"), expected);
    EXPECT_EQ(visited_url_update_status("http://none/", 1), 0);
}

TEST_F(VurlOpsTest, GetDataFillsWhatIsAskedAndClearsForAMissingUrl) {
    add_page("http://a/", {"http://b/", "http://c/"});
    int32_t status = -1, depth = -1;
    uint32_t visited = 1, modified = 1, expires = 1;
    velhashtable *links = nullptr;
    char md5[33] = "x";
    char *database = nullptr;
    visited_url_get_data("http://a/", &status, &visited, &modified, &expires, &links, md5, &depth,
                         &database);
    Table owned(links);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(visited, static_cast<uint32_t>(kCrawl + 1));
    EXPECT_EQ(modified, 0u);
    EXPECT_STREQ(md5, kDigest);
    EXPECT_EQ(depth, 3);
    ASSERT_NE(database, nullptr);
    EXPECT_STREQ(database, "pages");
    std::free(database);
    EXPECT_EQ(table_entries(links).size(), 2u);

    char *kept = nullptr;
    int32_t kept_depth = 42;
    links = reinterpret_cast<velhashtable *>(&status);
    visited_url_get_data("http://none/", &status, &visited, &modified, &expires, &links, md5,
                         &kept_depth, &kept);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(visited, 0u);
    EXPECT_EQ(links, nullptr);
    EXPECT_STREQ(md5, "");
    EXPECT_EQ(kept_depth, 42);
    EXPECT_EQ(kept, nullptr);
}

TEST_F(VurlOpsTest, TheWalkReturnsCopiesInIdOrderUntilTheEnd) {
    for (const char *url : {"http://c/", "http://a/", "http://b/"}) {
        ASSERT_EQ(visited_url_create_entry(url, 0, nullptr, 1, 0), 1);
    }
    std::vector<std::string> urls;
    for (char *url = visited_url_first(); url != nullptr; url = visited_url_next()) {
        urls.emplace_back(url);
        std::free(url);
    }
    EXPECT_EQ(urls, (std::vector<std::string>{"http://c/", "http://a/", "http://b/"}));
    EXPECT_EQ(visited_url_next(), nullptr);
    char *again = visited_url_first();
    ASSERT_NE(again, nullptr);
    EXPECT_STREQ(again, "http://c/");
    std::free(again);
}

TEST_F(VurlOpsTest, TheMetadataKeyIsNeverAUrl) {
    // Claimed as a URL: refused with a log line, nothing stored, no id used.
    EXPECT_EQ(visited_url_get_status("VURL_META_DATA", nullptr, 1, 3), 1);
    EXPECT_EQ(stored("VURL_META_DATA"), "");
    EXPECT_EQ(g_vurl_meta.next_id, 1);
    EXPECT_NE(module_log_text().find("VURL_META_DATA is the visited url metadata's key"),
              std::string::npos);
    // As a link it is left out; the page keeps its other links.
    add_page("http://a/", {"VURL_META_DATA", "http://b/"});
    EXPECT_EQ(table_entries(record("http://a/")->links), std::vector<std::string>{"http://b/"});
    EXPECT_EQ(id_of("http://b/"), 2u);
}

TEST_F(VurlOpsTest, NoIdPastTheLastIsHandedOut) {
    g_vurl_meta.next_id = kVurlIdLimit;
    EXPECT_EQ(visited_url_create_entry("http://late/", 0, nullptr, 1, 0), 0);
    EXPECT_EQ(g_vurl_meta.next_id, kVurlIdLimit);
    EXPECT_EQ(stored("http://late/"), "");
    EXPECT_NE(module_log_text().find("No record id left"), std::string::npos);
}

int refuse_update(storage_object *, DBT *, DBT *) {
    return 0;
}

TEST_F(VurlOpsTest, GetStatusLogsOnlyAFailedWriteAsUnableToUpdate) {
    // The referer's record exists (id 7) but vid.db does not know its URL, so
    // that page decodes but cannot be encoded again.
    const std::string referer_id = be32(7);
    const std::string referer_bytes = StoredRecord::full("http://gone/").bytes();
    DBT id = borrowed_dbt(referer_id.data(), referer_id.size());
    DBT referer = borrowed_dbt(referer_bytes.data(), referer_bytes.size());
    DB *records = vdb_url->db.get();
    ASSERT_EQ(records->put(records, nullptr, &id, &referer, 0), 0);
    StoredRecord orphan = StoredRecord::full("http://orphan/");
    orphan.referer_id = 7;
    const std::string orphan_bytes = orphan.bytes();
    DBT key = string_key("http://orphan/");
    DBT value = borrowed_dbt(orphan_bytes.data(), orphan_bytes.size());
    ASSERT_EQ(vdb_url->put(vdb_url, &key, &value), 1);
    add_page("http://page/", {});
    g_timestamp = kCrawl + 1000;

    visited_url_get_status("http://orphan/", nullptr, 1, 3);
    std::string log = module_log_text();
    EXPECT_NE(log.find("Referer http://gone/ for url http://orphan/ not found"), std::string::npos);
    EXPECT_EQ(log.find("unable to update vurl"), std::string::npos) << log;
    EXPECT_EQ(stored("http://orphan/"), orphan_bytes);

    vdb_url->update = refuse_update;
    visited_url_get_status("http://page/", nullptr, 1, 3);
    EXPECT_NE(module_log_text().find("unable to update vurl for http://page/"), std::string::npos);
}

TEST_F(VurlOpsTest, AnIdOfZeroInVidDbIsDamageAndIsReplaced) {
    add_page("http://b/", {});
    const std::string zero = be32(0);
    DBT key = string_key("http://b/");
    DBT value = borrowed_dbt(zero.data(), zero.size());
    ASSERT_EQ(vdb_id->update(vdb_id, &key, &value), 1);
    add_page("http://a/", {"http://b/"});
    ASSERT_NE(record("http://a/"), nullptr);
    EXPECT_EQ(table_entries(record("http://a/")->links), std::vector<std::string>{"http://b/"});
    EXPECT_EQ(id_of("http://b/"), 3u);
}

}  // namespace
