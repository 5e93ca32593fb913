#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "log/log.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/storage_object.h"
#include "robot/vurl_fixture.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_ops.h"
#include "support/sample_db.h"

namespace {

struct FreeDbt {
    void operator()(DBT *dbt) const { destroy_DBT(dbt); }
};
using Encoded = std::unique_ptr<DBT, FreeDbt>;

std::string bytes_of(const Encoded &dbt) {
    return dbt ? std::string(static_cast<const char *>(dbt->data), dbt->size) : "(none)";
}

Record decode(const std::string &bytes) {
    DBT dbt = borrowed_dbt(bytes.data(), bytes.size());
    return Record(DBT2visited_url_obj(&dbt));
}

class VurlEncodeTest : public VurlDbTest {
  protected:
    void SetUp() override {
        VurlDbTest::SetUp();
        // Ids 1 to 3: seven, two, three.
        for (const char *url : {"seven", "two", "three"}) {
            ASSERT_EQ(visited_url_create_entry(url, 0, nullptr, 1, 0), 1);
        }
    }
};

TEST_F(VurlEncodeTest, ADecodedRecordEncodesBackToTheSameBytes) {
    StoredRecord example;
    example.last_processed = 1;
    example.last_visited = 2;
    example.last_modified = 3;
    example.rd_expires = 4;
    example.progress_status = 4;
    example.md5 = "0123456789abcdef0123456789abcdef";
    example.url = "x";
    example.referer_id = id_of("seven");
    example.link_ids = std::vector<uint32_t>{id_of("two"), id_of("three")};
    example.database = "db";
    example.depth_and_status = std::make_pair(5, 200);
    Record obj = decode(example.bytes());
    ASSERT_NE(obj, nullptr);
    // The links table walks its entries in its own order; store them so.
    std::vector<uint32_t> walked;
    for (const std::string &link : table_entries(obj->links)) walked.push_back(id_of(link));
    example.link_ids = walked;

    Encoded encoded(visited_url_obj2DBT(obj.get()));
    EXPECT_EQ(bytes_of(encoded), example.bytes());
}

TEST_F(VurlEncodeTest, TheMinimalRecordIsFortyFiveBytesForANineCharacterUrl) {
    Record obj(static_cast<visited_url_obj *>(calloc(1, sizeof(visited_url_obj))));
    obj->url = strdup("123456789");
    Encoded encoded(visited_url_obj2DBT(obj.get()));
    ASSERT_NE(encoded, nullptr);
    EXPECT_EQ(encoded->size, 45u);
    StoredRecord expected = StoredRecord::full("123456789");
    EXPECT_EQ(bytes_of(encoded), expected.bytes());
}

TEST_F(VurlEncodeTest, AClearedDigestIsWrittenAsNoDigest) {
    StoredRecord cleared = StoredRecord::full("u");
    cleared.md5_cleared = true;
    Record obj = decode(cleared.bytes());
    ASSERT_NE(obj, nullptr);
    Encoded encoded(visited_url_obj2DBT(obj.get()));
    EXPECT_EQ(bytes_of(encoded), StoredRecord::full("u").bytes());
    EXPECT_EQ(encoded->size + 32, cleared.bytes().size());
}

TEST_F(VurlEncodeTest, AnUnknownLinkGetsARecordWithTheNextIdFirst) {
    add_page("page", {});
    const int32_t next = g_vurl_meta.next_id;
    Record obj = record("page");
    Table links = make_links({"fresh"});
    velhashtable_free(obj->links);
    obj->links = links.release();
    obj->link_count = 1;
    obj->depth_countdown = 6;
    Encoded encoded(visited_url_obj2DBT(obj.get()));
    ASSERT_NE(encoded, nullptr);

    EXPECT_EQ(id_of("fresh"), static_cast<uint32_t>(next));
    EXPECT_EQ(g_vurl_meta.next_id, next + 1);
    Record fresh = record("fresh");
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->progress_status, 0);
    EXPECT_STREQ(fresh->referer, "page");
    EXPECT_EQ(fresh->depth_countdown, 5);
    EXPECT_EQ(fresh->last_processed, static_cast<uint32_t>(kCrawl));
    // The page's value names the new id in its link list.
    const std::string bytes = bytes_of(encoded);
    EXPECT_NE(bytes.find(be32(next) + be32(0)), std::string::npos);
}

TEST_F(VurlEncodeTest, ALinkCountThatLiesGivesNoneAndCreatesNothing) {
    add_page("page", {});
    const int32_t next = g_vurl_meta.next_id;
    Record obj = record("page");
    Table links = make_links({"new-a", "new-b"});
    velhashtable_free(obj->links);
    obj->links = links.get();
    for (int32_t count : {1, 3}) {
        obj->link_count = count;
        EXPECT_EQ(visited_url_obj2DBT(obj.get()), nullptr) << count;
    }
    obj->links = nullptr;
    EXPECT_EQ(g_vurl_meta.next_id, next);
    EXPECT_EQ(id_of("new-a"), 0u);
}

TEST_F(VurlEncodeTest, AnUnknownRefererGivesNoneWithAnError) {
    Record obj(static_cast<visited_url_obj *>(calloc(1, sizeof(visited_url_obj))));
    obj->url = strdup("child");
    obj->referer = strdup("nobody");
    EXPECT_EQ(visited_url_obj2DBT(obj.get()), nullptr);
    EXPECT_NE(
        module_log_text().find("Referer nobody for url child not found in visited url database\n"),
        std::string::npos)
        << module_log_text();
    EXPECT_EQ(visited_url_create_entry("child", 0, "nobody", 1, 0), 0);
    EXPECT_EQ(id_of("child"), 0u);
}

}  // namespace
