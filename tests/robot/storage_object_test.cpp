#include "robot/storage_object.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "robot/dbt.h"
#include "robot/robot_home.h"
#include "support/scratch_dir.h"
#include "support/test_hooks.h"

namespace {

struct DestroyObject {
    void operator()(storage_object *obj) const { destroy_storage_object(obj, 0); }
};

class StorageObjectTest : public RobotHomeTest {
  protected:
    void SetUp() override {
        RobotHomeTest::SetUp();
        obj_.reset(create_storage_object(file("other.db").c_str()));
        ASSERT_NE(sto_open(obj_.get(), DB_CREATE), nullptr);
    }

    int put(const char *key, const char *value) {
        DBT k = string_key(key), v = string_key(value);
        return obj_->put(obj_.get(), &k, &v);
    }
    int update(const char *key, const char *value) {
        DBT k = string_key(key), v = string_key(value);
        return obj_->update(obj_.get(), &k, &v);
    }
    int del(const char *key) {
        DBT k = string_key(key);
        return obj_->del(obj_.get(), &k);
    }
    // The value stored under key, or "(none)".
    std::string get(const char *key) {
        DBT k = string_key(key);
        MallocDbt v;
        if (obj_->get(obj_.get(), &k, v.get()) == 0) return "(none)";
        return static_cast<const char *>(v.data());
    }
    // The key a cursor call left in key, as text.
    static std::string text(const DBT &key) { return key_text(&key); }

    std::unique_ptr<storage_object, DestroyObject> obj_;
};

TEST_F(StorageObjectTest, OpenKeepsAHandleWithTheSameFlagsAndReopensForOthers) {
    DB *first = obj_->db.get();
    EXPECT_EQ(sto_open(obj_.get(), DB_CREATE), first);
    ASSERT_EQ(put("a", "1"), 1);
    DBT key{}, value{};
    ASSERT_EQ(sto_first(obj_.get(), &key, &value), 1);
    ASSERT_NE(obj_->cursor, nullptr);

    DB *read_only = sto_open(obj_.get(), DB_RDONLY);
    ASSERT_NE(read_only, nullptr);
    EXPECT_EQ(obj_->cursor, nullptr);
    EXPECT_EQ(obj_->open_flags, static_cast<uint32_t>(DB_RDONLY));
    EXPECT_EQ(get("a"), "1");
}

TEST_F(StorageObjectTest, PutRefusesAStoredKeyLogsAndClosesWhileUpdateReplaces) {
    ASSERT_EQ(put("k", "old"), 1);
    EXPECT_EQ(obj_->count, 1);
    EXPECT_EQ(put("k", "new"), 0);
    EXPECT_EQ(obj_->db, nullptr);
    EXPECT_EQ(obj_->count, 1);
    EXPECT_NE(robot_log_text().find("Failed on writing k to database " + file("other.db") +
                                    " error=" + std::to_string(DB_KEYEXIST) + "\n"),
              std::string::npos)
        << robot_log_text();

    ASSERT_NE(sto_open(obj_.get(), DB_CREATE), nullptr);
    EXPECT_EQ(get("k"), "old");
    EXPECT_EQ(update("k", "new"), 1);
    EXPECT_EQ(obj_->count, 2);
    EXPECT_EQ(get("k"), "new");
}

TEST_F(StorageObjectTest, MissingKeysGetSilentlyAndDeleteWithANotFoundLine) {
    EXPECT_EQ(get("nope"), "(none)");
    EXPECT_EQ(robot_log_text(), "");
    EXPECT_EQ(del("nope"), 1);
    EXPECT_NE(robot_log_text().find(" Failed to remove KEY=nope from database " + file("other.db") +
                                    " error=NOT FOUND\n"),
              std::string::npos)
        << robot_log_text();
    EXPECT_EQ(obj_->count, 0);
}

TEST_F(StorageObjectTest, CountNeverGoesBelowZero) {
    ASSERT_EQ(put("x", "1"), 1);
    obj_->count = 0;
    EXPECT_EQ(del("x"), 1);
    EXPECT_EQ(obj_->count, 0);
    EXPECT_EQ(get("x"), "(none)");
}

TEST_F(StorageObjectTest, FirstStartsAtTheSmallestKeyOrTheFirstNotBelowTheGivenOne) {
    for (const char *key : {"c", "a", "bb"}) ASSERT_EQ(put(key, "v"), 1);
    sto_close(obj_.get());
    ASSERT_NE(sto_open(obj_.get(), DB_RDONLY), nullptr);

    DBT key{}, value{};
    ASSERT_EQ(obj_->next(obj_.get(), &key, &value), 1);  // a fresh cursor starts at the front
    EXPECT_EQ(text(key), "a");
    ASSERT_EQ(obj_->next(obj_.get(), &key, &value), 1);
    DBT empty{};
    ASSERT_EQ(obj_->first(obj_.get(), &empty, &value), 1);
    EXPECT_EQ(text(empty), "a");

    DBT from = string_key("b");
    ASSERT_EQ(obj_->first(obj_.get(), &from, &value), 1);
    EXPECT_EQ(text(from), "bb");
    ASSERT_EQ(obj_->next(obj_.get(), &key, &value), 1);
    EXPECT_EQ(text(key), "c");
    EXPECT_EQ(obj_->next(obj_.get(), &key, &value), 0);
}

TEST_F(StorageObjectTest, AClosedObjectRefusesEveryOperation) {
    ASSERT_EQ(put("k", "v"), 1);
    EXPECT_EQ(sto_close(obj_.get()), 1);
    EXPECT_EQ(sto_close(obj_.get()), 0);
    DBT key{}, value{};
    EXPECT_EQ(get("k"), "(none)");
    EXPECT_EQ(put("j", "v"), 0);
    EXPECT_EQ(obj_->first(obj_.get(), &key, &value), 0);
    EXPECT_EQ(obj_->next(obj_.get(), &key, &value), 0);
    EXPECT_EQ(obj_->sync(obj_.get()), 0);
    EXPECT_EQ(robot_log_text(), "");
}

TEST_F(StorageObjectTest, DestroyRemovesTheFileOnlyWhileTheHostErases) {
    const std::string path = file("other.db");
    destroy_storage_object(obj_.release(), 1);
    EXPECT_TRUE(file_exists(path));

    test_hooks().erase_status = 1;
    destroy_storage_object(create_storage_object(path.c_str()), 0);
    EXPECT_TRUE(file_exists(path));
    destroy_storage_object(create_storage_object(path.c_str()), 1);
    EXPECT_FALSE(file_exists(path));
}

}  // namespace
