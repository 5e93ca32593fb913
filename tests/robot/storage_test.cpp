// The environment, the storage object and the two-file records by id.
#include <algorithm>
#include <cstring>
#include <functional>

#include "robot/record_walk.h"
#include "robot/robot_fixture.h"

namespace {

using EnvTest = RobotTest;

TEST_F(EnvTest, PathsAreMadeWithEveryMissingParent) {
    EXPECT_EQ(mk_fullpath(file("pool").c_str(), 0700), 0);
    EXPECT_EQ(mk_fullpath(file("robot.log").c_str(), 0700), -1);
    EXPECT_EQ(mk_fullpath("no-such-relative-name", 0700), -1);
    EXPECT_EQ(mk_fullpath(file("pool/a/b").c_str(), 0700), 0);
    EXPECT_TRUE(file_exists(file("pool/a/b")));
}

TEST_F(EnvTest, PageSizesFrom1To64KbAreRecordedAndAShutdownForgetsItsEnvironment) {
    for (const auto &[kb, result, bytes] :
         {std::tuple{1, 1, 1024}, {64, 64, 65536}, {65, 0, 65536}, {0, 0, 65536}}) {
        EXPECT_EQ(robot_db_set_page_size(kb), result) << kb;
        EXPECT_EQ(robot_db_page_size, bytes) << kb;
    }
    DB_ENV *shared = sys_get_db_env();
    const std::string log_before = robot_log_text();
    sys_set_db_env(robot_db_open_env(robot_home().c_str()));
    EXPECT_EQ(robot_log_text(), log_before);  // an open that succeeds reports nothing
    EXPECT_EQ(robot_db_shutdown(), 0);
    EXPECT_EQ(sys_get_db_env(), nullptr);
    EXPECT_EQ(robot_db_shutdown(), 0);  // nothing left to close twice
    sys_set_db_env(shared);
}

// A storage object on other.db with the default slots; values are strings.
class StorageObjectTest : public RobotTest {
  protected:
    void SetUp() override {
        RobotTest::SetUp();
        obj_ = create_storage_object(file("other.db").c_str());
        ASSERT_NE(sto_open(obj_, DB_CREATE), nullptr);
    }
    void TearDown() override {
        destroy_storage_object(obj_, 0);
        RobotTest::TearDown();
    }
    int del(const char *key) {
        DBT k = string_key(key);
        return obj_->del(obj_, &k);
    }
    storage_object *obj_ = nullptr;
};

TEST_F(StorageObjectTest, AReopenWithOtherFlagsClosesTheFileAndItsCursor) {
    EXPECT_EQ(sto_open(obj_, DB_CREATE), obj_->db.get());
    ASSERT_EQ(put(obj_, "a", "1"), 1);
    DBT key{}, value{};
    ASSERT_EQ(sto_first(obj_, &key, &value), 1);
    ASSERT_NE(sto_open(obj_, DB_RDONLY), nullptr);
    EXPECT_EQ(obj_->cursor, nullptr);
    EXPECT_EQ(obj_->open_flags, static_cast<uint32_t>(DB_RDONLY));
    EXPECT_EQ(get(obj_, "a"), "1");

    // Closed, writes are refused without a word.
    EXPECT_EQ(sto_close(obj_), 1);
    EXPECT_EQ(sto_close(obj_), 0);
    EXPECT_EQ(put(obj_, "b", "2"), 0);
    EXPECT_EQ(robot_log_text(), "");
}

TEST_F(StorageObjectTest, APutOfAStoredKeyFailsLoggedAndClosesWhileAnUpdateReplaces) {
    ASSERT_EQ(put(obj_, "k", "old"), 1);
    EXPECT_EQ(put(obj_, "k", "new"), 0);
    EXPECT_EQ(obj_->db, nullptr);
    EXPECT_EQ(obj_->count, 1);
    EXPECT_TRUE(logged(robot_log_text(), "Failed on writing k to database " + file("other.db") +
                                             " error=" + std::to_string(DB_KEYEXIST) + "\n"));
    ASSERT_NE(sto_open(obj_, DB_CREATE), nullptr);
    EXPECT_EQ(get(obj_, "k"), "old");
    EXPECT_EQ(put(obj_, "k", "new", true), 1);
    EXPECT_EQ(obj_->count, 2);
    EXPECT_EQ(get(obj_, "k"), "new");
}

// A read into a buffer too small fails, logged as an error, and says the size
// it needs; a closed file is not read.
TEST_F(StorageObjectTest, AReadPastItsBufferIsAnErrorAndAClosedFileIsNotRead) {
    ASSERT_EQ(put(obj_, "k", "twelve bytes"), 1);
    char small[4];
    DBT key = string_key("k"), value{};
    value.data = small;
    value.ulen = sizeof small;
    value.flags = DB_DBT_USERMEM;
    EXPECT_EQ(sto_get(obj_, &key, &value), 0);
    EXPECT_EQ(value.size, 12u);
    EXPECT_TRUE(logged(robot_log_text(), ": ERROR: Failed while reading k from database " +
                                             file("other.db") + " error=" +
                                             std::to_string(DB_BUFFER_SMALL) + "\n"));
    ASSERT_EQ(sto_close(obj_), 1);
    EXPECT_EQ(sto_read(obj_, &key, &value), EINVAL);
}

TEST_F(StorageObjectTest, DeletesCountDownToZeroAndAMissingKeyCountsAsDeleted) {
    ASSERT_EQ(put(obj_, "x", "1") + put(obj_, "y", "1"), 2);
    EXPECT_EQ(del("x"), 1);
    EXPECT_EQ(obj_->count, 1);
    obj_->count = 0;
    EXPECT_EQ(del("y"), 1);
    EXPECT_EQ(obj_->count, 0);
    EXPECT_EQ(get(obj_, "y"), "");
    EXPECT_EQ(robot_log_text(), "");
    EXPECT_EQ(del("y"), 1);
    EXPECT_TRUE(logged(robot_log_text(), " Failed to remove KEY=y from database " +
                                             file("other.db") + " error=NOT FOUND\n"));
}

TEST_F(StorageObjectTest, AWalkStartsAtTheSmallestKeyOrTheFirstNotBelowTheGivenOne) {
    for (const char *key : {"c", "a", "bb"}) ASSERT_EQ(put(obj_, key, "v"), 1);
    DBT key{}, value{}, from = string_key("b");
    ASSERT_EQ(obj_->next(obj_, &key, &value), 1);  // a fresh cursor starts at the front
    EXPECT_EQ(key_text(&key), "a");
    ASSERT_EQ(obj_->first(obj_, &from, &value), 1);
    EXPECT_EQ(key_text(&from), "bb");
    ASSERT_EQ(obj_->next(obj_, &key, &value), 1);
    EXPECT_EQ(key_text(&key), "c");
    EXPECT_EQ(obj_->next(obj_, &key, &value), 0);
}

// Leaves whose next page leads back, as damage (each leaf to the one before)
// or as a writer can leave them for a reader (the first leaf leading to a
// stray copy of the second, which leads back to the first): the walk gives
// each key once and in order, finding its place again after the copy, and
// stops as a read error where its place leads back again.
TEST_F(StorageObjectTest, AWalkOverLeavesLeadingBackGivesEachKeyOnceOrStops) {
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(put(obj_, std::to_string(10000 + i).c_str(), std::string(100, 'v').c_str()), 1);
    }
    destroy_storage_object(obj_, 0);
    obj_ = nullptr;
    const std::string sound = read_file(file("other.db"));
    uint32_t page_size = 0;
    std::memcpy(&page_size, &sound[20], 4);  // in the meta page
    const auto field = [&](std::string &bytes, uint32_t page, size_t at) {
        return &bytes[size_t{page} * page_size + at];
    };
    for (const bool stray_copy : {false, true}) {
        std::string bytes = sound;
        uint32_t last_leaf = 0, first = 0, second = 0;
        for (uint32_t page = 1; page < bytes.size() / page_size; ++page) {
            if (*field(bytes, page, 25) != 5) continue;  // not a leaf
            if (std::memcmp(field(bytes, page, 12), "\0\0\0\0", 4) == 0) first = page;  // no previous
            if (!stray_copy && last_leaf != 0) std::memcpy(field(bytes, page, 16), &last_leaf, 4);
            last_leaf = page;
        }
        if (stray_copy) {
            std::memcpy(&second, field(bytes, first, 16), 4);
            const uint32_t copy = static_cast<uint32_t>(bytes.size() / page_size);
            bytes += bytes.substr(size_t{second} * page_size, page_size);
            std::memcpy(field(bytes, copy, 8), &copy, 4);
            std::memcpy(field(bytes, copy, 16), &first, 4);
            std::memcpy(field(bytes, first, 16), &copy, 4);
            std::memcpy(field(bytes, 0, 32), &copy, 4);  // the file's last page
        }
        ASSERT_TRUE(write_file(file("other.db"), bytes));
        // A new environment, whose cache has not kept the pages as they were.
        DB_ENV *shared = sys_get_db_env();
        sys_set_db_env(robot_db_open_env(robot_home().c_str()));
        storage_object *obj = create_storage_object(file("other.db").c_str());
        ASSERT_NE(sto_open(obj, DB_RDONLY), nullptr);
        std::vector<std::string> keys;
        {
            RecordWalk walk(obj);
            std::string_view key, value;
            while (walk.next(&key, &value)) keys.emplace_back(key);
            EXPECT_EQ(walk.error(), stray_copy ? 0 : DB_VERIFY_BAD);
        }
        EXPECT_TRUE(std::adjacent_find(keys.begin(), keys.end(), std::greater_equal<>()) ==
                    keys.end());
        EXPECT_EQ(keys.size() == 1000, stray_copy) << keys.size();
        destroy_storage_object(obj, 0);
        robot_db_shutdown();
        sys_set_db_env(shared);
    }
}

TEST_F(StorageObjectTest, ACursorDeletesTheRecordItStandsOnAndSyncNeedsAnOpenFile) {
    for (const char *key : {"a", "b"}) ASSERT_EQ(put(obj_, key, "v"), 1);
    EXPECT_EQ(obj_->cursor_del(obj_), 0);  // no cursor yet
    DBT key{}, value{};
    ASSERT_EQ(obj_->first(obj_, &key, &value), 1);
    EXPECT_EQ(obj_->cursor_del(obj_), 1);
    EXPECT_EQ(get(obj_, "a"), "");
    EXPECT_EQ(get(obj_, "b"), "v");
    EXPECT_EQ(obj_->sync(obj_), 1);
    EXPECT_EQ(sto_close(obj_), 1);
    EXPECT_EQ(obj_->sync(obj_), 0);
    EXPECT_EQ(obj_->cursor_del(obj_), 0);
    EXPECT_EQ(robot_log_text(), "");
}

// The record file seen through its slots: keys are URLs, each looked up in
// vid.db for its id.
class IdIndirectTest : public RobotTest {
  protected:
    Strings record_keys() {  // in file order
        Strings keys;
        DBT key{}, data{};
        for (int more = vdb_url->first(vdb_url, &key, &data); more;
             more = vdb_url->next(vdb_url, &key, &data)) {
            keys.emplace_back(static_cast<const char *>(key.data), key.size);
        }
        return keys;
    }
};

TEST_F(IdIndirectTest, NewUrlsTakeTheNextIdsAndTheRecordFileWalksInIdOrder) {
    open_new_db();
    for (const char *url : {"C", "A", "B"}) ASSERT_EQ(put(vdb_url, url, url), 1);
    EXPECT_EQ(g_vurl_meta.next_id, 4);
    EXPECT_EQ(record_keys(), (Strings{be32(1), be32(2), be32(3)}));
    ASSERT_EQ(put(vdb_url, "A", "a2"), 1);
    EXPECT_EQ(g_vurl_meta.next_id, 4);
    EXPECT_EQ(stored("A"), "a2");
    g_vurl_meta.next_id = 258;
    ASSERT_EQ(put(vdb_url, "wide", "w"), 1);
    EXPECT_EQ(record_keys().back(), std::string("\0\0\1\2", 4));
    EXPECT_EQ(id_of("wide"), 258u);
}

// No record is deleted through the slots; the cursor is set on an id.
TEST_F(IdIndirectTest, TheSlotsNeverDeleteARecordAndSetTheCursorOnAnId) {
    open_new_db();
    for (const char *url : {"A", "B", "C"}) ASSERT_EQ(put(vdb_url, url, url), 1);
    DBT url = string_key("A");
    EXPECT_EQ(vdb_url->del(vdb_url, &url), 1);
    EXPECT_EQ(vdb_url->cursor_del(vdb_url), 1);
    EXPECT_EQ(stored("A"), "A");
    const std::string id = be32(2);
    DBT key = borrowed_dbt(id.data(), id.size()), data{};
    ASSERT_EQ(vdb_url->set_cursor(vdb_url, &key, &data), 1);
    EXPECT_EQ(std::string(static_cast<const char *>(data.data), data.size), "B");
    ASSERT_EQ(vdb_url->next(vdb_url, &key, &data), 1);
    EXPECT_EQ(std::string(static_cast<const char *>(key.data), key.size), be32(3));
    EXPECT_EQ(vdb_url->sync(vdb_url), 1);
}

// With either file closed nothing is stored or read through the slots.
TEST_F(IdIndirectTest, WithEitherFileClosedNothingIsStoredOrRead) {
    open_new_db();
    ASSERT_EQ(put(vdb_url, "A", "a"), 1);
    for (storage_object *closed : {vdb_id, vdb_url}) {
        SCOPED_TRACE(closed->name);
        ASSERT_EQ(sto_close(closed), 1);
        EXPECT_EQ(put(vdb_url, "B", "b"), 0);
        EXPECT_EQ(get(vdb_url, "A"), "");
        DBT key = string_key("A");
        MallocDbt value;
        EXPECT_EQ(vurl_get_stored(&key, value.get()), 0);
        ASSERT_NE(sto_open(closed, DB_CREATE), nullptr);
    }
    EXPECT_EQ(stored("A"), "a");
    EXPECT_EQ(stored("B"), "");
}

TEST_F(IdIndirectTest, AnUnknownUrlIsNeitherUpdatedNorGivenAnId) {
    open_new_db();
    EXPECT_EQ(put(vdb_url, "D", "d", true), 0);
    EXPECT_EQ(g_vurl_meta.next_id, 1);
    EXPECT_TRUE(record_keys().empty());
    ASSERT_EQ(put(vdb_url, "D", "d"), 1);
    EXPECT_EQ(put(vdb_url, "D", "d2", true), 1);
    EXPECT_EQ(stored("D"), "d2");
}

}  // namespace
