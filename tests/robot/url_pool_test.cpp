#include "robot/url_pool.h"

#include <gtest/gtest.h>

#include <limits.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "log/objlog.h"
#include "robot/dbt.h"
#include "robot/robot_db_env.h"
#include "robot/robot_home.h"
#include "robot/url_pool_fixture.h"
#include "support/scratch_dir.h"
#include "support/test_hooks.h"

namespace {

time_t fake_now = 1000;
time_t fake_clock() {
    return fake_now;
}

// Puts that fail from the nth call of the slot on.
int puts_left = 0;
int put_until_exhausted(storage_object *obj, DBT *key, DBT *data) {
    if (puts_left-- <= 0) return 0;
    return sto_put(obj, key, data);
}

// The keys of a bank, read through its walk.
std::vector<std::string> keys_of(storage_object *bank) {
    std::vector<std::string> keys;
    url_obj *raw = nullptr;
    for (int more = coll_first(bank, &raw, nullptr); more != 0; more = coll_next(bank, &raw)) {
        UrlObj obj(raw);
        keys.emplace_back(obj->key);
    }
    return keys;
}

void put_all(storage_object *bank, const std::vector<std::string> &keys) {
    for (const std::string &key : keys) {
        UrlObj obj = make_url(key, "http://" + key);
        ASSERT_EQ(coll_put(bank, obj.get()), 1) << key;
    }
}

TEST(UrlPoolFiles, TheBanksLieInTheGivenDirectoryMadeAbsoluteAndUncut) {
    const std::string &home = robot_home();  // the environment is open there
    const std::string deep = "/" + std::string(2039, 'd');
    const struct {
        const char *dir;
        std::string main;
        std::string backup;
    } cases[] = {
        {nullptr, home + "/enumerate.db", home + "/enumerate_bak.db"},
        {"/d", "/d/enumerate.db", "/d/enumerate_bak.db"},
        {"pool", home + "/pool/enumerate.db", home + "/pool/enumerate_bak.db"},
        {deep.c_str(), deep + "/enumerate.db", deep + "/enumerate_bak.db"},
    };
    for (const auto &c : cases) {
        url_pool *pool = create_url_pool(c.dir);
        ASSERT_NE(pool, nullptr);
        EXPECT_EQ(pool->main_bank->name, c.main);
        EXPECT_EQ(pool->backup_bank->name, c.backup);
        destroy_url_pool(pool);
    }
    const std::string too_long = "/" + std::string(PATH_MAX, 'd');
    write_file(home + "/robot.log", "");
    EXPECT_EQ(create_url_pool(too_long.c_str()), nullptr);
    EXPECT_NE(robot_log_text().find("URL pool directory /ddd"), std::string::npos);
}

TEST_F(UrlPoolTest, PutsNeedAUrlAndARepeatedKeyClosesTheBankUntilTheNextUse) {
    UrlObj empty = make_url("a|1", "");
    EXPECT_EQ(coll_put(pool_->main_bank, empty.get()), 0);
    EXPECT_FALSE(file_exists(dir_.file("enumerate.db")));

    UrlObj first = make_url("a|1", "http://first/");
    UrlObj second = make_url("a|1", "http://second/");
    ASSERT_EQ(coll_put(pool_->main_bank, first.get()), 1);
    EXPECT_EQ(coll_put(pool_->main_bank, second.get()), 0);
    EXPECT_EQ(pool_->main_bank->db, nullptr);
    EXPECT_EQ(coll_count(pool_->main_bank), 1);

    url_obj *raw = nullptr;
    ASSERT_EQ(coll_get(pool_->main_bank, "a|1", &raw), 1);
    UrlObj found(raw);
    EXPECT_STREQ(found->url, "http://first/");
    EXPECT_EQ(coll_update(pool_->main_bank, second.get()), 1);
    ASSERT_EQ(coll_get(pool_->main_bank, "a|1", &raw), 1);
    EXPECT_STREQ(UrlObj(raw)->url, "http://second/");
}

TEST_F(UrlPoolTest, APrefixWalkStartsAtItsCollection) {
    put_all(pool_->main_bank, {"b|1", "a|2", "a|1", "c|"});
    url_obj *raw = nullptr;
    const char *a = "a", *b = "b", *c = "c", *d = "d";
    ASSERT_EQ(coll_first(pool_->main_bank, &raw, &a), 1);
    EXPECT_STREQ(UrlObj(raw)->key, "a|1");
    ASSERT_EQ(coll_next(pool_->main_bank, &raw), 1);
    EXPECT_STREQ(UrlObj(raw)->key, "a|2");
    ASSERT_EQ(coll_next(pool_->main_bank, &raw), 1);
    EXPECT_STREQ(UrlObj(raw)->key, "b|1");
    ASSERT_EQ(coll_first(pool_->main_bank, &raw, &b), 1);
    EXPECT_STREQ(UrlObj(raw)->key, "b|1");
    // "c|" alone is the prefix itself, not a URL of the collection.
    EXPECT_EQ(coll_first(pool_->main_bank, &raw, &c), 0);
    EXPECT_EQ(coll_first(pool_->main_bank, &raw, &d), 0);
    EXPECT_EQ(raw, nullptr);
}

TEST_F(UrlPoolTest, TheCountDecidesWhetherThePoolIsReadAtAll) {
    put_all(pool_->main_bank, {"a|1", "a|2"});
    pool_->main_bank->count = 0;
    EXPECT_EQ(url_pool_first_url(nullptr), nullptr);
    close_all_url_banks();
    EXPECT_EQ(url_pool_refresh_counter(), 0);
    EXPECT_EQ(url_pool_get_count(), 2);
    EXPECT_EQ(pool_->main_bank->db, nullptr);
    UrlObj first(url_pool_first_url(nullptr));
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->key, "a|1");
    UrlObj next(url_pool_next_url());
    ASSERT_NE(next, nullptr);
    EXPECT_STREQ(next->key, "a|2");
}

TEST_F(UrlPoolTest, UrlsMoveFromTheMainBankToTheBackupAndOut) {
    UrlObj obj = make_url("a|1", "http://a/");
    ASSERT_EQ(url_pool_put_url_obj(obj.get()), 1);
    EXPECT_EQ(url_pool_get_dirty_flag(), 1);
    EXPECT_EQ(url_pool_backup_url(obj.get()), 1);
    EXPECT_TRUE(keys_of(pool_->main_bank).empty());
    EXPECT_EQ(keys_of(pool_->backup_bank), std::vector<std::string>{"a|1"});
    EXPECT_EQ(url_pool_done_url_by_key("a|1"), 1);
    EXPECT_TRUE(keys_of(pool_->backup_bank).empty());

    // Not in the main bank: the delete counts as done and the move goes on.
    UrlObj stray = make_url("s|1", "http://s/");
    EXPECT_EQ(url_pool_backup_url(stray.get()), 1);
    EXPECT_EQ(keys_of(pool_->backup_bank), std::vector<std::string>{"s|1"});
}

TEST_F(UrlPoolTest, ABackupThatFailsPutsTheUrlBackIntoTheMainBank) {
    UrlObj obj = make_url("a|1", "http://a/");
    ASSERT_EQ(url_pool_put_url_obj(obj.get()), 1);
    puts_left = 0;
    pool_->backup_bank->update = put_until_exhausted;
    EXPECT_EQ(url_pool_backup_url(obj.get()), 0);
    pool_->backup_bank->update = sto_update;
    EXPECT_EQ(keys_of(pool_->main_bank), std::vector<std::string>{"a|1"});
    EXPECT_TRUE(keys_of(pool_->backup_bank).empty());
}

TEST_F(UrlPoolTest, AUrlMetAgainWhileInWorkMovesAndIsHeldOnce) {
    UrlObj first = make_url("a|1", "http://a/");
    UrlObj again = make_url("a|1", "http://a/", "again");
    ASSERT_EQ(url_pool_put_url_obj(first.get()), 1);
    ASSERT_EQ(url_pool_backup_url(first.get()), 1);
    ASSERT_EQ(url_pool_put_url_obj(again.get()), 1);
    EXPECT_EQ(url_pool_backup_url(again.get()), 1);
    EXPECT_TRUE(keys_of(pool_->main_bank).empty());
    EXPECT_EQ(keys_of(pool_->backup_bank), std::vector<std::string>{"a|1"});
    url_obj *raw = nullptr;
    ASSERT_EQ(coll_get(pool_->backup_bank, "a|1", &raw), 1);
    EXPECT_STREQ(UrlObj(raw)->text_a, "again");
}

TEST_F(UrlPoolTest, ARecordThatDoesNotDecodeIsPassedOverByEveryWalk) {
    ASSERT_EQ(coll_open(pool_->main_bank, DB_CREATE), 1);
    // A value too short to decode, under a key of the collection and under
    // a zero-length key, which sorts first.
    UrlObj sound = make_url("z|1", "http://z/");
    DBT *sound_value = url_obj2DBT(sound.get());
    for (const std::string bad : {"a|0", "a|3", ""}) {
        DBT key = borrowed_dbt(bad.c_str(), bad.empty() ? 0 : bad.size() + 1);
        DBT value = bad.empty() ? *sound_value : borrowed_dbt("x", 1);
        ASSERT_EQ(pool_->main_bank->put(pool_->main_bank, &key, &value), 1);
    }
    destroy_DBT(sound_value);
    put_all(pool_->main_bank, {"a|1", "a|2", "b|1", "b|2"});
    const int32_t count = coll_count(pool_->main_bank);
    std::vector<std::string> walked;
    for (UrlObj obj(url_pool_first_url(nullptr)); obj != nullptr; obj.reset(url_pool_next_url())) {
        walked.emplace_back(obj->key);
    }
    EXPECT_EQ(walked, (std::vector<std::string>{"a|1", "a|2", "b|1", "b|2"}));
    const char *a = "a";
    url_obj *raw = nullptr;
    ASSERT_EQ(coll_first(pool_->main_bank, &raw, &a), 1);
    EXPECT_STREQ(UrlObj(raw)->key, "a|1");
    EXPECT_EQ(coll_count(pool_->main_bank), count);
}

TEST_F(UrlPoolTest, ReadinessFollowsTheDirtyFlagAndTheBackoff) {
    url_pool_set_clock(fake_clock);
    fake_now = 1000;
    url_pool_set_dirty_flag(1);
    EXPECT_EQ(url_pool_is_ready(), 1);
    EXPECT_EQ(url_pool_get_dirty_flag(), 0);
    url_pool_backoff(30);
    EXPECT_EQ(url_pool_is_ready(), 0);
    fake_now = 1029;
    EXPECT_EQ(url_pool_is_ready(), 0);
    fake_now = 1030;
    EXPECT_EQ(url_pool_is_ready(), 1);
    url_pool_backoff(30);
    url_pool_set_dirty_flag(0);
    EXPECT_EQ(url_pool_is_ready(), 1);
}

// The restore logs through the robot log, which the shared home provides.
class UrlPoolRestoreTest : public UrlPoolTest {
  protected:
    void SetUp() override {
        robot_home();
        UrlPoolTest::SetUp();
        write_file(robot_home() + "/robot.log", "");
    }
};

TEST_F(UrlPoolRestoreTest, RestoreMovesEveryBackedUpUrlAndRemovesTheBackupFile) {
    EXPECT_EQ(url_pool_restore_db(), 0);  // no backup file: nothing happens
    EXPECT_FALSE(file_exists(dir_.file("enumerate.db")));

    put_all(pool_->backup_bank, {"a|1", "a|2", "b|1"});
    close_all_url_banks();
    EXPECT_EQ(url_pool_restore_db(), 0);
    EXPECT_FALSE(file_exists(dir_.file("enumerate_bak.db")));
    EXPECT_EQ(pool_->main_bank->db, nullptr);
    EXPECT_EQ(pool_->backup_bank->db, nullptr);
    EXPECT_EQ(keys_of(pool_->main_bank), (std::vector<std::string>{"a|1", "a|2", "b|1"}));
    EXPECT_NE(robot_log_text().find("Restore 3 URLs from " + dir_.file("enumerate_bak.db") +
                                    " to " + dir_.file("enumerate.db") + "\n"),
              std::string::npos)
        << robot_log_text();
}

TEST_F(UrlPoolRestoreTest, AnInterruptedRestoreKeepsTheRestAndCanBeRunAgain) {
    put_all(pool_->backup_bank, {"a|1", "a|2", "b|1"});
    close_all_url_banks();
    puts_left = 1;
    pool_->main_bank->put = put_until_exhausted;
    EXPECT_EQ(url_pool_restore_db(), 0);
    pool_->main_bank->put = sto_put;
    EXPECT_NE(robot_log_text().find("Restore failed on writing " + dir_.file("enumerate.db")),
              std::string::npos);
    EXPECT_TRUE(file_exists(dir_.file("enumerate_bak.db")));
    EXPECT_EQ(keys_of(pool_->main_bank), std::vector<std::string>{"a|1"});
    close_all_url_banks();

    EXPECT_EQ(url_pool_restore_db(), 0);
    EXPECT_FALSE(file_exists(dir_.file("enumerate_bak.db")));
    EXPECT_EQ(keys_of(pool_->main_bank), (std::vector<std::string>{"a|1", "a|2", "b|1"}));
    EXPECT_NE(robot_log_text().find("Restore 3 URLs"), std::string::npos);
}

// A walk that reads one record and then meets a read error.
int next_calls = 0;
int next_then_error(storage_object *obj, DBT *key, DBT *data) {
    if (++next_calls > 1) {
        obj->cursor_result = EIO;
        return 0;
    }
    return sto_next(obj, key, data);
}

TEST_F(UrlPoolRestoreTest, ARestoreStoppedByAReadErrorKeepsTheBackupFile) {
    put_all(pool_->backup_bank, {"a|1", "a|2", "b|1"});
    close_all_url_banks();
    next_calls = 0;
    pool_->backup_bank->next = next_then_error;
    EXPECT_EQ(url_pool_restore_db(), 0);
    pool_->backup_bank->next = sto_next;
    EXPECT_TRUE(file_exists(dir_.file("enumerate_bak.db")));
    EXPECT_NE(robot_log_text().find("Restore failed on reading " + dir_.file("enumerate_bak.db")),
              std::string::npos);
    EXPECT_EQ(url_pool_restore_db(), 0);
    EXPECT_EQ(keys_of(pool_->main_bank), (std::vector<std::string>{"a|1", "a|2", "b|1"}));
}

TEST_F(UrlPoolRestoreTest, ARelativeDirectoryIsTheOneTheEnvironmentOpens) {
    std::filesystem::create_directory(robot_home() + "/relative");
    url_pool *pool = create_url_pool("relative");
    sys_set_url_pool(pool);
    put_all(pool->backup_bank, {"a|1"});
    close_all_url_banks();
    EXPECT_EQ(url_pool_restore_db(), 0);
    EXPECT_FALSE(file_exists(robot_home() + "/relative/enumerate_bak.db"));
    EXPECT_EQ(keys_of(pool->main_bank), std::vector<std::string>{"a|1"});
    close_all_url_banks();
    sys_set_url_pool(pool_);
    destroy_url_pool(pool);
}

TEST_F(UrlPoolTest, CleaningReplacesTheFilesAndCreatesNoneThatWereMissing) {
    EXPECT_EQ(coll_clean(pool_->backup_bank), 1);
    EXPECT_FALSE(file_exists(dir_.file("enumerate_bak.db")));
    put_all(pool_->main_bank, {"a|1"});
    close_all_url_banks();
    EXPECT_EQ(url_pool_clean(), 1);
    EXPECT_EQ(coll_count(pool_->main_bank), 0);
    pool_->main_bank->count = 1;
    EXPECT_TRUE(keys_of(pool_->main_bank).empty());
}

}  // namespace
