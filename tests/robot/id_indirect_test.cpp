#include "robot/id_indirect.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "robot/dbt.h"
#include "robot/robot_home.h"
#include "robot/vurl_db.h"
#include "robot/vurl_meta.h"
#include "support/sample_db.h"

namespace {

class IdIndirectTest : public RobotHomeTest {
  protected:
    void SetUp() override {
        RobotHomeTest::SetUp();
        ASSERT_EQ(visited_url_init(1), 1);
        ASSERT_EQ(g_vurl_meta.next_id, 1);
    }

    int put(const std::string &url, const std::string &value) {
        DBT key = string_key(url.c_str());
        DBT data = borrowed_dbt(value.data(), value.size());
        return vdb_url->put(vdb_url, &key, &data);
    }
    int update(const std::string &url, const std::string &value) {
        DBT key = string_key(url.c_str());
        DBT data = borrowed_dbt(value.data(), value.size());
        return vdb_url->update(vdb_url, &key, &data);
    }
    std::string get(const std::string &url) {
        DBT key = string_key(url.c_str());
        MallocDbt data;
        if (vdb_url->get(vdb_url, &key, data.get()) == 0) return "(none)";
        return std::string(static_cast<const char *>(data.data()), data.size());
    }
    // The keys of url-visited.db in file order, each as its bytes.
    std::vector<std::string> record_keys() {
        std::vector<std::string> keys;
        DBT key{}, data{};
        for (int more = vdb_url->first(vdb_url, &key, &data); more != 0;
             more = vdb_url->next(vdb_url, &key, &data)) {
            keys.emplace_back(static_cast<const char *>(key.data), key.size);
        }
        return keys;
    }
};

TEST_F(IdIndirectTest, NewUrlsGetTheNextIdsAndTheRecordFileWalksInIdOrder) {
    ASSERT_EQ(put("C", "c"), 1);
    ASSERT_EQ(put("A", "a"), 1);
    ASSERT_EQ(put("B", "b"), 1);
    EXPECT_EQ(g_vurl_meta.next_id, 4);
    EXPECT_EQ(record_keys(), (std::vector<std::string>{be32(1), be32(2), be32(3)}));
    EXPECT_EQ(get("A"), "a");

    ASSERT_EQ(put("A", "a2"), 1);
    EXPECT_EQ(g_vurl_meta.next_id, 4);
    EXPECT_EQ(get("A"), "a2");
    EXPECT_EQ(record_keys().size(), 3u);
}

TEST_F(IdIndirectTest, UpdateOfAnUnknownUrlStoresNothingAndGivesNoId) {
    EXPECT_EQ(update("D", "d"), 0);
    EXPECT_EQ(g_vurl_meta.next_id, 1);
    EXPECT_EQ(get("D"), "(none)");
    EXPECT_TRUE(record_keys().empty());

    ASSERT_EQ(put("D", "d"), 1);
    EXPECT_EQ(update("D", "d2"), 1);
    EXPECT_EQ(get("D"), "d2");
}

TEST_F(IdIndirectTest, IdsAreStoredMostSignificantByteFirst) {
    g_vurl_meta.next_id = 258;
    ASSERT_EQ(put("wide", "w"), 1);
    EXPECT_EQ(record_keys(), (std::vector<std::string>{std::string("\0\0\1\2", 4)}));
    DBT key = string_key("wide");
    MallocDbt id;
    ASSERT_EQ(vdb_id->get(vdb_id, &key, id.get()), 1);
    EXPECT_EQ(std::string(static_cast<const char *>(id.data()), id.size()), be32(258));
}

TEST_F(IdIndirectTest, TheTwoStepDeleteKeepsTheUrlsId) {
    ASSERT_EQ(put("A", "a"), 1);
    DBT key = string_key("A");
    int err = -1;
    EXPECT_EQ(db_indirect_del(vdb_id->db.get(), vdb_url->db.get(), &key, 0, &err), 0);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(get("A"), "(none)");
    ASSERT_EQ(put("A", "again"), 1);
    EXPECT_EQ(record_keys(), (std::vector<std::string>{be32(1)}));

    DBT unknown = string_key("Z");
    EXPECT_EQ(db_indirect_del(vdb_id->db.get(), vdb_url->db.get(), &unknown, 0, &err), 0);
    EXPECT_EQ(err, DB_NOTFOUND);
}

TEST_F(IdIndirectTest, ClosedFilesRefuseReadsAndWrites) {
    ASSERT_EQ(put("A", "a"), 1);
    EXPECT_EQ(vdb_url->close(vdb_url), 1);
    EXPECT_EQ(vdb_id->db, nullptr);
    EXPECT_EQ(put("B", "b"), 0);
    EXPECT_EQ(get("A"), "(none)");
    EXPECT_EQ(vdb_url->sync(vdb_url), 0);

    EXPECT_NE(vdb_url->open(vdb_url, 0), nullptr);
    EXPECT_EQ(get("A"), "a");
}

}  // namespace
