// The visited-URL record's stored form, and the table of URLs by id.
#include "robot/vurl_record.h"
#include "robot/record_walk.h"
#include "robot/vurl_url_table.h"

#include "extra/malloc_ptr.h"
#include "robot/robot_fixture.h"

namespace {

// Records 2, 3 and 7 hold the URLs two, three and seven (seven's digest was
// cleared); record 9 has no URL.
class VurlRecordTest : public RobotTest {
  protected:
    void SetUp() override {
        RobotTest::SetUp();
        SampleDb db;
        for (const auto &[id, url] : {std::pair{2u, "two"}, {3u, "three"}, {7u, "seven"}}) {
            StoredRecord record = StoredRecord::full(url);
            record.md5_cleared = id == 7;
            db.put_id(url, be32(id));
            db.put_record(id, record.bytes());
        }
        db.put_record(9, StoredRecord::full("").bytes());
        db.set_meta(2, 0, 10, 0);
        write(db);
        ASSERT_EQ(visited_url_init(0), 1);
    }

    // The 51-byte example: times 1, 2, 3 and 5, status 4, no digest, URL x,
    // referer 7, links 2 and 3, database db, depth 6 and server status 200.
    static StoredRecord example() {
        const std::vector<uint32_t> links{2, 3};
        return {1, 2, 3, 5, 4, "", false, "x", 7, links, true, "db", std::make_pair(6, 200)};
    }
};

TEST_F(VurlRecordTest, EveryStoredFormDecodesAndEveryValueThatLiesIsRejected) {
    StoredRecord digest = StoredRecord::full("u"), cleared = digest, up_to_database = example(),
                 up_to_links = example(), up_to_referer = example(), missing = example();
    digest.md5 = "0123456789abcdef0123456789abcdef";
    cleared.md5_cleared = true;
    up_to_database.depth_and_status.reset();
    up_to_links.database.reset();
    up_to_links.link_end_mark = false;
    up_to_referer.link_ids.reset();
    missing.referer_id = 40;
    missing.link_ids = std::vector<uint32_t>{2, 41, 9};
    const std::string full = example().bytes(), fixed = full.substr(0, 20);
    // What the value is, its bytes, whether ids are resolved, the record.
    const std::tuple<const char *, std::string, int, std::string> rows[] = {
        {"the full form", full, 1, "1 2 3 5 4 x <seven [three,two]2 db 6 200"},
        {"ids left as they are", full, 0, "1 2 3 5 4 x <- -0 db 6 200"},
        {"a digest", digest.bytes(), 1, "0 0 0 0 0 md5:" + digest.md5 + " u <- []0 - 0 0"},
        {"a cleared digest", cleared.bytes(), 1, "0 0 0 0 0 u <- []0 - 0 0"},
        {"the 37-byte form", StoredRecord::full("x").bytes(), 1, "0 0 0 0 0 x <- []0 - 0 0"},
        {"an empty URL", StoredRecord::full("").bytes(), 1, "0 0 0 0 0 - <- []0 - 0 0"},
        {"ending after database", up_to_database.bytes(), 1,
         "1 2 3 5 4 x <seven [three,two]2 db 0 0"},
        {"ending after the link ids", up_to_links.bytes(), 1,
         "1 2 3 5 4 x <seven [three,two]2 - 0 0"},
        {"ending after the referer", up_to_referer.bytes(), 1, "1 2 3 5 4 x <seven -0 - 0 0"},
        {"ids without a record with a URL", missing.bytes(), 1, "1 2 3 5 4 x <- [two]1 db 6 200"},
        {"shorter than the five words", full.substr(0, 19), 1, "none"},
        {"nothing after the five words", fixed, 1, "none"},
        {"a digest area past the end", digest.bytes().substr(0, 40), 1, "none"},
        {"a URL without its zero byte", fixed + '\0' + "http://x", 1, "none"},
        {"a URL without its zero byte, read on as a referer", fixed + '\0' + "\1ABCD", 1, "none"},
        {"a referer id cut to three bytes", full.substr(0, 27), 1, "none"},
        {"a referer's flag alone", up_to_referer.bytes().substr(0, 24), 1, "none"},
        {"a link id cut to three bytes", full.substr(0, 31), 1, "none"},
        {"a database without its zero byte", full.substr(0, 42), 1, "none"},
        {"bytes left over after database", full.substr(0, 46), 1, "none"},
        {"bytes left over after the two words", full + "z", 1, "none"},
    };
    for (const auto &[what, bytes, resolve, expected] : rows) {
        EXPECT_EQ(describe(decode_record(bytes, resolve)), expected) << what;
        visited_url_fields fields;  // the readers' parse takes the same forms
        EXPECT_EQ(visited_url_parse(bytes.data(), bytes.size(), &fields), expected != "none")
            << what;
    }
    const std::string log = module_log_text();
    EXPECT_TRUE(logged(log, "Referer (id 40) not found in visited url database for url x\n"));
    EXPECT_TRUE(
        logged(log, "Referenced URL (id 41) not found in visited url database for referer x\n"));
}

TEST_F(VurlRecordTest, ADecodedRecordEncodesToTheFormItCameFrom) {
    StoredRecord page = example(), cleared = StoredRecord::full("u");
    page.md5 = "0123456789abcdef0123456789abcdef";
    page.link_ids = std::vector<uint32_t>{2};
    cleared.md5_cleared = true;
    const std::tuple<const char *, std::string, std::string> rows[] = {
        // what, stored, encoded
        {"a digest, a referer and a link", page.bytes(), page.bytes()},
        {"a 9-character URL alone: 45 bytes", StoredRecord::full("123456789").bytes(),
         StoredRecord::full("123456789").bytes()},
        {"a cleared digest: 32 bytes shorter", cleared.bytes(), StoredRecord::full("u").bytes()},
    };
    for (const auto &[what, bytes, encoded] : rows) {
        Record obj = decode_record(bytes);
        ASSERT_NE(obj, nullptr) << what;
        std::unique_ptr<DBT, int (*)(DBT *)> dbt(visited_url_obj2DBT(obj.get()), destroy_DBT);
        ASSERT_NE(dbt, nullptr) << what;
        EXPECT_EQ(std::string(static_cast<const char *>(dbt->data), dbt->size), encoded) << what;
    }
    EXPECT_EQ(StoredRecord::full("123456789").bytes().size(), 45u);
}

constexpr uint32_t kFarId = 100000;

// Whether the table answers for every id worth asking about (each stored
// one, the gaps and the ends) as the file does.
void expect_answers_of_the_file(VisitedUrlTable &table) {
    std::vector<uint32_t> ids = {kFarId - 1, kFarId, kFarId + 1, UINT32_MAX};
    for (uint32_t id = 0; id <= 45; ++id) ids.push_back(id);
    for (uint32_t id : ids) {
        MallocPtr<char> expected(visited_url_url_of_id(id));
        resolved_url found;
        const bool has = table.find(id, &found);
        ASSERT_EQ(has, expected != nullptr) << "id " << id;
        if (!has) continue;
        EXPECT_EQ(found.url, expected.get()) << "id " << id;
        EXPECT_EQ(found.link_bucket, velhashtable_hf_default(expected.get()) % 73u);
        table.forget_reads();
    }
}

using VurlUrlTableTest = RobotTest;

TEST_F(VurlUrlTableTest, WithinAnyBudgetTheTableAnswersAsTheFile) {
    // Ids 1 to 40 but a gap, records without a usable URL, one that does not
    // decode although its URL reads, one larger than a walk's first buffer, a
    // far id and a key that is no id.
    SampleDb db;
    for (uint32_t id = 1; id <= 40; ++id) {
        std::string value = StoredRecord::full("http://site/" + std::to_string(id)).bytes();
        if (id == 7) value = StoredRecord::full("").bytes();
        if (id == 8) value = "short";
        if (id == 9) value += "!";
        if (id == 30) value = StoredRecord::full("http://big/" + std::string(20000, 'b')).bytes();
        if (id < 20 || id >= 26) db.put_record(id, value);
    }
    StoredRecord far = StoredRecord::full("http://far/");
    far.md5 = std::string(32, 'f');
    db.put_record(kFarId, far.bytes());
    db.put_record_key("not-an-id", StoredRecord::full("http://named/").bytes());
    db.set_meta(2, 0, static_cast<int32_t>(kFarId + 1), 0);
    write(db);
    ASSERT_EQ(visited_url_init(0), 1);

    VisitedUrlTable whole;
    whole.build(size_t{64} << 20);
    EXPECT_EQ(whole.covered_ids(), kFarId + 1);
    expect_answers_of_the_file(whole);
    for (size_t budget = 0; budget <= 4000; ++budget) {  // no budget is ever passed
        SCOPED_TRACE(budget);
        VisitedUrlTable table;
        table.build(budget);
        ASSERT_LE(table.memory_used(), budget);
        ASSERT_LE(table.covered_ids(), kFarId);  // the far id's index never fits
        if (budget % 200 <= 1) expect_answers_of_the_file(table);
        if (budget == 600) {
            EXPECT_GT(table.covered_ids(), 2u);
            EXPECT_LT(table.covered_ids(), 40u);
        }
    }
}

}  // namespace
