#include "robot/vurl_url_table.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "adt/velhashtable.h"
#include "extra/malloc_ptr.h"
#include "robot/id_indirect.h"
#include "robot/record_walk.h"
#include "robot/robot_home.h"
#include "robot/vurl_db.h"
#include "robot/vurl_record.h"
#include "support/sample_db.h"

namespace {

constexpr uint32_t kFarId = 100000;

// url-visited.db with ids 1 to 40 but a gap, records without a usable URL,
// one that does not decode although its URL reads, a far id and a key that
// is no id. records() gives what was stored, by key.
class VurlUrlTableTest : public RobotHomeTest {
  protected:
    void SetUp() override {
        RobotHomeTest::SetUp();
        for (uint32_t id = 1; id <= 40; ++id) {
            if (id >= 20 && id < 26) continue;
            std::string value = StoredRecord::full("http://site/" + std::to_string(id)).bytes();
            if (id == 7) value = StoredRecord::full("").bytes();
            if (id == 8) value = "short";
            if (id == 9) value += "!";
            put(be32(id), value);
        }
        StoredRecord far = StoredRecord::full("http://far/");
        far.md5 = std::string(32, 'f');
        put(be32(kFarId), far.bytes());
        put("not-an-id", StoredRecord::full("http://named/").bytes());
        db_.set_meta(2, 0, static_cast<int32_t>(kFarId + 1), 0);
        ASSERT_EQ(db_.write(robot_home()), "");
        ASSERT_EQ(visited_url_init(0), 1);
    }

    void put(const std::string &key, const std::string &value) {
        db_.put_record_key(key, value);
        records_[key] = value;
    }

    // The ids worth asking about: every stored one, the gaps, the ends.
    static std::vector<uint32_t> probe_ids() {
        std::vector<uint32_t> ids;
        for (uint32_t id = 0; id <= 45; ++id) ids.push_back(id);
        for (uint32_t id : {kFarId - 1, kFarId, kFarId + 1, UINT32_MAX}) ids.push_back(id);
        return ids;
    }

    // Whether the table's answer for every probe id is the file's.
    static void expect_answers_of_the_file(VisitedUrlTable &table) {
        for (uint32_t id : probe_ids()) {
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

    SampleDb db_;
    std::map<std::string, std::string> records_;
};

TEST_F(VurlUrlTableTest, WithRoomForAllTheTableCoversEveryIdAndAnswersAsTheFile) {
    VisitedUrlTable table;
    table.build(size_t{64} << 20);
    EXPECT_EQ(table.covered_ids(), kFarId + 1);
    expect_answers_of_the_file(table);
}

TEST_F(VurlUrlTableTest, PastItsBudgetTheTableStopsAndReadsTheRestFromTheFile) {
    for (size_t budget : {size_t{0}, size_t{1}, size_t{200}, size_t{600}, size_t{4000}}) {
        SCOPED_TRACE(budget);
        VisitedUrlTable table;
        table.build(budget);
        EXPECT_LE(table.memory_used(), budget);
        EXPECT_LE(table.covered_ids(), kFarId);  // the far id's index never fits
        expect_answers_of_the_file(table);
    }
    VisitedUrlTable part;
    part.build(600);
    EXPECT_GT(part.covered_ids(), 2u);
    EXPECT_LT(part.covered_ids(), 40u);
}

TEST_F(VurlUrlTableTest, AWalkReadsEveryRecordInKeyOrderWhateverItsSize) {
    // Larger than the walk's first buffer: the buffer grows for it.
    visited_url_shutdown(0);
    put(be32(30), StoredRecord::full("http://big/" + std::string(20000, 'b')).bytes());
    ASSERT_EQ(db_.write(robot_home()), "");
    ASSERT_EQ(visited_url_init(0), 1);

    RecordWalk walk(vdb_url);
    std::map<std::string, std::string> seen;
    std::vector<std::string> order;
    std::string_view key;
    std::string_view value;
    while (walk.next(&key, &value)) {
        order.emplace_back(key);
        seen.emplace(key, value);
    }
    EXPECT_EQ(walk.error(), 0);
    EXPECT_EQ(seen, records_);
    std::vector<std::string> sorted;
    for (const auto &[k, v] : records_) sorted.push_back(k);
    EXPECT_EQ(order, sorted);
}

TEST(RecordWalk, AWalkOfNoOpenFileFailsAtOnce) {
    RecordWalk walk(nullptr);
    std::string_view key;
    std::string_view value;
    EXPECT_FALSE(walk.next(&key, &value));
    EXPECT_NE(walk.error(), 0);
}

}  // namespace
