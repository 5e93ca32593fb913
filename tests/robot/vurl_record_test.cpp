#include "robot/vurl_record.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "robot/robot_home.h"
#include "robot/vurl_db.h"
#include "support/sample_db.h"

namespace {

using Record = VisitedUrlPtr;

Record decode(const std::string &bytes, int resolve = 1) {
    DBT dbt{};
    dbt.data = const_cast<char *>(bytes.data());
    dbt.size = static_cast<uint32_t>(bytes.size());
    return Record(DBT2visited_url_obj_V2(&dbt, resolve));
}

// A value exactly as long as its content, so that the sanitizer build
// catches any read past it.
Record decode_exact(const std::string &bytes) {
    std::unique_ptr<char[]> copy(new char[bytes.size()]);
    bytes.copy(copy.get(), bytes.size());
    DBT dbt{};
    dbt.data = copy.get();
    dbt.size = static_cast<uint32_t>(bytes.size());
    return Record(DBT2visited_url_obj_V2(&dbt, 1));
}

std::set<std::string> links_of(const visited_url_obj &obj) {
    std::set<std::string> links;
    if (obj.links == nullptr) return links;
    for (void *item = velhashtable_iterate(obj.links, nullptr, nullptr); item != nullptr;
         item = velhashtable_iterate(obj.links, item, item)) {
        links.insert(static_cast<const char *>(item));
    }
    return links;
}

// Decoding with the database open, so that ids resolve: records 2, 3 and 7
// hold the URLs two, three and seven; seven's digest was cleared.
class VurlRecordTest : public RobotHomeTest {
  protected:
    void SetUp() override {
        RobotHomeTest::SetUp();
        SampleDb db;
        db.put_id("two", be32(2));
        db.put_record(2, StoredRecord::full("two").bytes());
        db.put_id("three", be32(3));
        db.put_record(3, StoredRecord::full("three").bytes());
        StoredRecord seven = StoredRecord::full("seven");
        seven.md5_cleared = true;
        db.put_id("seven", be32(7));
        db.put_record(7, seven.bytes());
        db.put_record(9, StoredRecord::full("").bytes());  // a record without URL
        db.set_meta(2, 0, 10, 0);
        ASSERT_EQ(db.write(robot_home()), "");
        ASSERT_EQ(visited_url_init(0), 1);
    }

    // The 51-byte example: URL x, referer 7, links 2 and 3, database db.
    static StoredRecord example() {
        StoredRecord record;
        record.last_processed = 1;
        record.last_visited = 2;
        record.last_modified = 3;
        record.rd_expires = 4;
        record.progress_status = 4;
        record.url = "x";
        record.referer_id = 7;
        record.link_ids = std::vector<uint32_t>{2, 3};
        record.database = "db";
        record.depth_and_status = std::make_pair(5, 200);
        return record;
    }
};

TEST_F(VurlRecordTest, TheFullFormDecodesWithItsReferencesResolved) {
    const std::string bytes = example().bytes();
    ASSERT_EQ(bytes.size(), 51u);
    Record obj = decode_exact(bytes);
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(obj->last_processed, 1u);
    EXPECT_EQ(obj->last_visited, 2u);
    EXPECT_EQ(obj->last_modified, 3u);
    EXPECT_EQ(obj->rd_expires, 4u);
    EXPECT_EQ(obj->progress_status, 4);
    EXPECT_STREQ(obj->md5, "");
    EXPECT_STREQ(obj->url, "x");
    EXPECT_STREQ(obj->referer, "seven");  // a cleared digest still yields the URL
    EXPECT_EQ(obj->link_count, 2);
    EXPECT_EQ(links_of(*obj), (std::set<std::string>{"two", "three"}));
    EXPECT_STREQ(obj->database, "db");
    EXPECT_EQ(obj->depth_countdown, 5);
    EXPECT_EQ(obj->server_status, 200);
}

TEST_F(VurlRecordTest, TheDigestAreaIsEitherOneByteOrThirtyThree) {
    StoredRecord record = StoredRecord::full("u");
    record.md5 = "0123456789abcdef0123456789abcdef";
    Record with_digest = decode_exact(record.bytes());
    ASSERT_NE(with_digest, nullptr);
    EXPECT_STREQ(with_digest->md5, "0123456789abcdef0123456789abcdef");
    EXPECT_STREQ(with_digest->url, "u");

    record.md5_cleared = true;
    Record cleared = decode_exact(record.bytes());
    ASSERT_NE(cleared, nullptr);
    EXPECT_STREQ(cleared->md5, "");
    EXPECT_STREQ(cleared->url, "u");
}

TEST_F(VurlRecordTest, TheShorterFormsDecodeWithWhatIsAbsentZero) {
    StoredRecord full = StoredRecord::full("x");
    ASSERT_EQ(full.bytes().size(), 37u);
    Record obj = decode_exact(full.bytes());
    ASSERT_NE(obj, nullptr);
    EXPECT_STREQ(obj->url, "x");
    EXPECT_EQ(obj->database, nullptr);
    ASSERT_NE(obj->links, nullptr);  // the end mark alone: an empty table
    EXPECT_EQ(obj->link_count, 0);

    StoredRecord up_to_database = example();
    up_to_database.depth_and_status.reset();
    obj = decode_exact(up_to_database.bytes());
    ASSERT_NE(obj, nullptr);
    EXPECT_STREQ(obj->database, "db");
    EXPECT_EQ(obj->depth_countdown, 0);
    EXPECT_EQ(obj->server_status, 0);

    StoredRecord up_to_links = example();
    up_to_links.database.reset();
    up_to_links.link_end_mark = false;
    obj = decode_exact(up_to_links.bytes());
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(obj->link_count, 2);
    EXPECT_EQ(obj->database, nullptr);

    StoredRecord up_to_referer = example();
    up_to_referer.link_ids.reset();
    obj = decode_exact(up_to_referer.bytes());
    ASSERT_NE(obj, nullptr);
    EXPECT_STREQ(obj->referer, "seven");
    EXPECT_EQ(obj->links, nullptr);
    EXPECT_EQ(obj->link_count, 0);
}

TEST_F(VurlRecordTest, WithoutResolveNoIdIsLookedUp) {
    Record obj = decode(example().bytes(), 0);
    ASSERT_NE(obj, nullptr);
    EXPECT_STREQ(obj->url, "x");
    EXPECT_EQ(obj->referer, nullptr);
    EXPECT_EQ(obj->links, nullptr);
    EXPECT_EQ(obj->link_count, 0);
    EXPECT_STREQ(obj->database, "db");
}

TEST_F(VurlRecordTest, IdsWithoutARecordWithAUrlAreDroppedWithAWarning) {
    StoredRecord record = example();
    record.referer_id = 40;
    record.link_ids = std::vector<uint32_t>{2, 41, 9};
    Record obj = decode_exact(record.bytes());
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(obj->referer, nullptr);
    EXPECT_EQ(obj->link_count, 1);
    EXPECT_EQ(links_of(*obj), (std::set<std::string>{"two"}));
    const std::string log = module_log_text();
    EXPECT_NE(log.find("Referer (id 40) not found in visited url database for url x\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Referenced URL (id 41) not found in visited url database for referer x\n"),
              std::string::npos);
    EXPECT_NE(log.find("Referenced URL (id 9) not found"), std::string::npos);
}

TEST_F(VurlRecordTest, AnEmptyUrlDecodesAsNone) {
    Record obj = decode_exact(StoredRecord::full("").bytes());
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(obj->url, nullptr);
}

TEST_F(VurlRecordTest, ValuesThatLieAboutTheirLengthAreRejected) {
    const std::string full = example().bytes();
    const std::string fixed = full.substr(0, 20);
    StoredRecord digest = StoredRecord::full("u");
    digest.md5 = std::string(32, 'a');
    struct Case {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"shorter than the five words", full.substr(0, 19)},
        {"nothing after the five words", fixed},
        {"a digest area past the end", digest.bytes().substr(0, 40)},
        {"a URL without its zero byte", fixed + '\0' + "http://x"},
        {"a truncated referer id", full.substr(0, 26)},
        {"a truncated link id", full.substr(0, 30)},
        {"a database without its zero byte", full.substr(0, 42)},
        {"bytes left over after database", full.substr(0, 46)},
        {"bytes left over after the two words", full + "z"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(decode_exact(c.bytes), nullptr) << c.what;
    }
}

}  // namespace
