// The URL pool: its records, its two banks, their collections, its readiness.
#include "robot/url_pool.h"
#include "robot/url_record.h"

#include <limits.h>

#include <cerrno>
#include <utility>

#include "robot/robot_fixture.h"

namespace {

std::string encode(const url_obj *obj) {
    DBT *dbt = url_obj2DBT(obj);
    if (dbt == nullptr) return "none";
    std::string bytes(static_cast<const char *>(dbt->data), dbt->size);
    destroy_DBT(dbt);
    return bytes;
}

// The fields decoded from an exact-size copy of the value (so that the sanitizer
// build catches over-reads) on one line, or "none".
std::string decode(const std::string &key, const std::string &value) {
    std::unique_ptr<char[]> copy(new char[value.size() + 1]);
    value.copy(copy.get(), value.size());
    DBT k = borrowed_dbt(key.data(), key.size()), v = borrowed_dbt(copy.get(), value.size());
    UrlObj obj(DBT2url_obj(&k, &v));
    if (obj == nullptr) return "none";
    auto text = [](const char *s) { return std::string(s != nullptr ? s : "-"); };
    return std::to_string(obj->num_a) + " " + std::to_string(obj->num_b) + " " +
           std::to_string(obj->num_c) + " " + text(obj->url) + " a=" + text(obj->text_a) +
           " b=" + text(obj->text_b) + " " + text(obj->key) + " " + std::to_string(obj->host_a) +
           " " + std::to_string(obj->host_b);
}

const std::string kNumbers = be32(1) + be32(2) + be32(3);

TEST(UrlRecord, ValuesAreNumbersThenTextsEachWithItsZeroAndKeysGiveTheDigitAfterTheBar) {
    EXPECT_EQ(encode(make_url("a|1", "123456789").get()),
              kNumbers + "123456789" + std::string(3, '\0'));
    EXPECT_EQ(encode(make_url("a|1", "u", "abc", "x").get()),
              kNumbers + std::string("u\0abc\0x\0", 8));
    UrlObj full = make_url("p|2rest", "http://x/", "alpha", "beta");
    char *url = std::exchange(full->url, nullptr);
    EXPECT_EQ(encode(full.get()) + encode(nullptr), "nonenone");  // no url: nothing to store
    full->url = url;
    full->num_a = -7;
    full->num_c = 1 << 30;
    const std::string plain = kNumbers + std::string("u\0\0\0", 4);
    const std::tuple<std::string, std::string, std::string> rows[] = {
        // key, value, decoded
        {std::string("a|5x", 5), kNumbers + "123456789" + std::string(3, '\0'),
         "1 2 3 123456789 a=- b=- a|5x 5 10"},
        {"p|2rest", encode(full.get()), "-7 2 1073741824 http://x/ a=alpha b=beta p|2rest 2 10"},
        {"z|9", plain, "1 2 3 u a=- b=- z|9 9 10"},
        {"k", kNumbers + std::string("u\0\0x\0", 5), "1 2 3 u a=- b=x k 0 10"},
        {"k", kNumbers + std::string("u\0abc\0\0", 7), "1 2 3 u a=abc b=- k 0 10"},
        // Written without closing zeros: all that follows the url is text_a.
        {"k", kNumbers + std::string("u\0ab\0c", 6), "1 2 3 u a=ab b=- k 0 10"},
        {"a|9", plain, "1 2 3 u a=- b=- a|9 9 10"},
        {"a|5|7", plain, "1 2 3 u a=- b=- a|5|7 5 10"},
        {"a|x", plain, "1 2 3 u a=- b=- a|x 0 10"},
        {"a|", plain, "1 2 3 u a=- b=- a| 0 10"},
        {"a5", plain, "1 2 3 u a=- b=- a5 0 10"},
        {"", plain, "1 2 3 u a=- b=- - 0 10"},
        {"k", kNumbers, "none"},
        {"k", kNumbers.substr(0, 9), "none"},
        {"k", kNumbers + "http://no-zero", "none"},
    };
    for (const auto &[key, value, expected] : rows) EXPECT_EQ(decode(key, value), expected) << key;
    DBT key = string_key("k");
    EXPECT_EQ(DBT2url_obj(&key, nullptr), nullptr);
    EXPECT_EQ(DBT2url_obj(nullptr, &key), nullptr);
}

// The bank's put slot fails once puts_left calls have gone through.
int puts_left = 0;
int put_until_exhausted(storage_object *obj, DBT *key, DBT *data) {
    return puts_left-- <= 0 ? 0 : sto_put(obj, key, data);
}

// A walk that reads one record and then meets a read error.
int next_calls = 0;
int next_then_error(storage_object *obj, DBT *key, DBT *data) {
    if (++next_calls == 1) return sto_next(obj, key, data);
    obj->cursor_result = EIO;
    return 0;
}

class UrlPoolTest : public RobotTest {
  protected:
    void SetUp() override {
        RobotTest::SetUp();
        open_pool();
    }
};

TEST_F(UrlPoolTest, TheBanksLieInTheGivenDirectoryMadeAbsoluteAndUncut) {
    const std::string &home = robot_home();  // the environment's home
    const std::string deep = "/" + std::string(2039, 'd');
    const std::tuple<const char *, std::string, std::string> rows[] = {
        // dir, main, backup
        {nullptr, home + "/enumerate.db", home + "/enumerate_bak.db"},
        {"/d", "/d/enumerate.db", "/d/enumerate_bak.db"},
        {"pool", home + "/pool/enumerate.db", home + "/pool/enumerate_bak.db"},
        {deep.c_str(), deep + "/enumerate.db", deep + "/enumerate_bak.db"},
    };
    for (const auto &[dir, main, backup] : rows) {
        url_pool *pool = create_url_pool(dir);
        ASSERT_NE(pool, nullptr);
        EXPECT_EQ(pool->main_bank->name, main);
        EXPECT_EQ(pool->backup_bank->name, backup);
        destroy_url_pool(pool);
    }
    EXPECT_EQ(create_url_pool(("/" + std::string(PATH_MAX, 'd')).c_str()), nullptr);
    EXPECT_TRUE(logged(robot_log_text(), "URL pool directory /ddd"));
}

TEST_F(UrlPoolTest, PutsNeedAUrlAndARepeatedKeyClosesTheBankUntilTheNextUse) {
    EXPECT_EQ(coll_put(pool_->main_bank, make_url("a|1", "").get()), 0);
    EXPECT_FALSE(file_exists(pool_file("enumerate.db")));
    UrlObj first = make_url("a|1", "http://first/"), second = make_url("a|1", "http://second/");
    ASSERT_EQ(coll_put(pool_->main_bank, first.get()), 1);
    EXPECT_EQ(coll_put(pool_->main_bank, second.get()), 0);
    EXPECT_EQ(pool_->main_bank->db, nullptr);
    EXPECT_EQ(coll_count(pool_->main_bank), 1);
    url_obj *raw = nullptr;
    ASSERT_EQ(coll_get(pool_->main_bank, "a|1", &raw), 1);
    EXPECT_STREQ(UrlObj(raw)->url, "http://first/");
    EXPECT_EQ(coll_update(pool_->main_bank, second.get()), 1);
    ASSERT_EQ(coll_get(pool_->main_bank, "a|1", &raw), 1);
    EXPECT_STREQ(UrlObj(raw)->url, "http://second/");
}

TEST_F(UrlPoolTest, APrefixWalkStartsAtItsCollectionAndEveryWalkPassesOverWhatDoesNotDecode) {
    ASSERT_EQ(coll_open(pool_->main_bank, DB_CREATE), 1);
    // A value too short to decode under keys of the collection a, and a sound
    // one under a zero-length key, which sorts first.
    DBT *sound = url_obj2DBT(make_url("z|1", "http://z/").get());
    for (const std::string bad : {"a|0", "a|3", ""}) {
        DBT key = borrowed_dbt(bad.c_str(), bad.empty() ? 0 : bad.size() + 1);
        DBT value = bad.empty() ? *sound : borrowed_dbt("x", 1);
        ASSERT_EQ(pool_->main_bank->put(pool_->main_bank, &key, &value), 1);
    }
    destroy_DBT(sound);
    put_all(pool_->main_bank, {"b|1", "a|2", "a|1", "c|"});
    // The count in memory decides whether the pool is read at all; only a
    // refresh counts the file.
    pool_->main_bank->count = 0;
    EXPECT_EQ(url_pool_first_url(nullptr), nullptr);
    close_all_url_banks();
    EXPECT_EQ(url_pool_refresh_counter(), 0);
    EXPECT_EQ(url_pool_get_count(), 7);
    EXPECT_EQ(pool_->main_bank->db, nullptr);
    Strings walked;
    for (UrlObj obj(url_pool_first_url(nullptr)); obj != nullptr; obj.reset(url_pool_next_url())) {
        walked.emplace_back(obj->key);
    }
    EXPECT_EQ(walked, (Strings{"a|1", "a|2", "b|1", "c|"}));
    EXPECT_EQ(coll_count(pool_->main_bank), 7);

    // The first key of a collection, or the next one; "none" when there is none.
    auto first = [&](const char *prefix) {
        url_obj *raw = nullptr;
        coll_first(pool_->main_bank, &raw, &prefix);
        return raw != nullptr ? std::string(UrlObj(raw)->key) : "none";
    };
    auto next = [&] {
        url_obj *raw = nullptr;
        coll_next(pool_->main_bank, &raw);
        return raw != nullptr ? std::string(UrlObj(raw)->key) : "none";
    };
    const std::string a1 = first("a"), a2 = next(), b1 = next();  // in this order
    EXPECT_EQ(a1 + " " + a2 + " " + b1, "a|1 a|2 b|1");
    // "c|" alone is the prefix itself, not a URL of the collection.
    EXPECT_EQ(first("b") + " " + first("c") + " " + first("d"), "b|1 none none");
}

TEST_F(UrlPoolTest, UrlsMoveFromTheMainBankToTheBackupAndOut) {
    UrlObj obj = make_url("a|1", "http://a/"), again = make_url("a|1", "http://a/", "again");
    ASSERT_EQ(url_pool_put_url_obj(obj.get()), 1);
    EXPECT_EQ(url_pool_get_dirty_flag(), 1);
    EXPECT_EQ(url_pool_backup_url(obj.get()), 1);
    EXPECT_EQ(keys_of(pool_->main_bank), Strings{});
    EXPECT_EQ(keys_of(pool_->backup_bank), Strings{"a|1"});
    // Met again while in work: it moves and is held once, as met last.
    ASSERT_EQ(url_pool_put_url_obj(again.get()), 1);
    EXPECT_EQ(url_pool_backup_url(again.get()), 1);
    EXPECT_EQ(keys_of(pool_->main_bank), Strings{});
    url_obj *raw = nullptr;
    ASSERT_EQ(coll_get(pool_->backup_bank, "a|1", &raw), 1);
    EXPECT_STREQ(UrlObj(raw)->text_a, "again");
    EXPECT_EQ(url_pool_done_url_by_key("a|1"), 1);
    EXPECT_EQ(keys_of(pool_->backup_bank), Strings{});

    // Not in the main bank: the delete counts as done and the move goes on.
    EXPECT_EQ(url_pool_backup_url(make_url("s|1", "http://s/").get()), 1);
    EXPECT_EQ(keys_of(pool_->backup_bank), Strings{"s|1"});
    // A move the backup bank refuses puts the URL back into the main bank.
    ASSERT_EQ(url_pool_put_url_obj(obj.get()), 1);
    puts_left = 0;
    pool_->backup_bank->update = put_until_exhausted;
    EXPECT_EQ(url_pool_backup_url(obj.get()), 0);
    pool_->backup_bank->update = sto_update;
    EXPECT_EQ(keys_of(pool_->main_bank), Strings{"a|1"});
    EXPECT_EQ(keys_of(pool_->backup_bank), Strings{"s|1"});
}

TEST_F(UrlPoolTest, ReadinessFollowsTheDirtyFlagAndTheBackoff) {
    static time_t fake_now;
    url_pool_set_clock([] { return fake_now; });
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
    // Dirty, the pool is ready at once, and from then on, whatever backoff came between.
    url_pool_set_dirty_flag(1);
    url_pool_backoff(30);
    EXPECT_EQ(url_pool_is_ready(), 1);
    EXPECT_EQ(url_pool_is_ready(), 1);
    // The host's own hold of the collections is released as it was taken.
    pool_db2_lock();
    pool_db2_unlock();
    EXPECT_EQ(url_pool_get_count(), 0);
}

TEST_F(UrlPoolTest, RestoreMovesEveryBackedUpUrlAndKeepsTheBackupUntilItHasMovedAll) {
    EXPECT_EQ(url_pool_restore_db(), 0);  // no backup file: nothing happens
    EXPECT_FALSE(file_exists(pool_file("enumerate.db")));
    put_all(pool_->backup_bank, {"a|1", "a|2", "b|1"});
    close_all_url_banks();
    puts_left = 1;
    pool_->main_bank->put = put_until_exhausted;
    EXPECT_EQ(url_pool_restore_db(), 0);
    pool_->main_bank->put = sto_put;
    EXPECT_TRUE(logged(robot_log_text(), "Restore failed on writing " + pool_file("enumerate.db")));
    EXPECT_TRUE(file_exists(pool_file("enumerate_bak.db")));
    EXPECT_EQ(keys_of(pool_->main_bank), Strings{"a|1"});
    close_all_url_banks();
    next_calls = 0;  // a read error stops it too
    pool_->backup_bank->next = next_then_error;
    EXPECT_EQ(url_pool_restore_db(), 0);
    pool_->backup_bank->next = sto_next;
    EXPECT_TRUE(file_exists(pool_file("enumerate_bak.db")));
    EXPECT_TRUE(
        logged(robot_log_text(), "Restore failed on reading " + pool_file("enumerate_bak.db")));

    EXPECT_EQ(url_pool_restore_db(), 0);
    EXPECT_FALSE(file_exists(pool_file("enumerate_bak.db")));
    EXPECT_EQ(pool_->main_bank->db, nullptr);
    EXPECT_EQ(pool_->backup_bank->db, nullptr);
    EXPECT_TRUE(logged(robot_log_text(), "Restore 3 URLs from " + pool_file("enumerate_bak.db") +
                                             " to " + pool_file("enumerate.db") + "\n"));
    EXPECT_EQ(keys_of(pool_->main_bank), (Strings{"a|1", "a|2", "b|1"}));

    // Cleaning replaces the files and creates none that were missing.
    close_all_url_banks();
    EXPECT_EQ(coll_clean(pool_->main_bank), 1);  // a file made anew
    EXPECT_EQ(url_pool_clean(), 1);
    EXPECT_EQ(coll_count(pool_->main_bank), 0);
    EXPECT_FALSE(file_exists(pool_file("enumerate_bak.db")));
    pool_->main_bank->count = 1;
    EXPECT_EQ(keys_of(pool_->main_bank), Strings{});
}

}  // namespace

namespace {

// A missing bank, object, key or output is refused, and so is every pool call
// while no pool is registered: nothing is stored and no file is made.
TEST_F(UrlPoolTest, EveryCallRefusesWhatIsMissingAndMakesNoFile) {
    storage_object *bank = pool_->main_bank;
    UrlObj url = make_url("a|1", "http://a/"), keyless = make_url("a|1", "http://a/");
    std::free(keyless->key);
    keyless->key = nullptr;
    url_obj *out = url.get();
    const int refused[] = {coll_open(nullptr, DB_CREATE),
                           coll_close(nullptr),
                           coll_put(nullptr, url.get()),
                           coll_put(bank, nullptr),
                           coll_put(bank, keyless.get()),
                           coll_get(nullptr, "a|1", &out),
                           coll_get(bank, nullptr, &out),
                           coll_get(bank, "a|1", nullptr),
                           coll_del(nullptr, "a|1"),
                           coll_del(bank, nullptr),
                           coll_set_cursor(nullptr, url.get()),
                           coll_set_cursor(bank, nullptr),
                           coll_set_cursor(bank, keyless.get()),
                           coll_cursor_del(nullptr),
                           coll_count(nullptr),
                           coll_first(nullptr, &out, nullptr),
                           coll_first(bank, nullptr, nullptr),
                           coll_next(nullptr, &out),
                           coll_next(bank, nullptr),
                           coll_clean(nullptr),
                           url_pool_put_url_obj(nullptr),
                           url_pool_backup_url(nullptr),
                           url_pool_backup_url(keyless.get()),
                           url_pool_done_url_by_key(nullptr)};
    for (size_t i = 0; i < std::size(refused); ++i) EXPECT_EQ(refused[i], 0) << "call " << i;
    EXPECT_EQ(out, nullptr);  // a refused read still clears its output

    sys_set_url_pool(nullptr);
    url_pool_set_dirty_flag(1);
    url_pool_backoff(60);
    pool_db2_lock();  // no lock to take: returns at once
    pool_db2_unlock();
    const int without_pool[] = {url_pool_put_url_obj(url.get()),
                                url_pool_backup_url(url.get()),
                                url_pool_done_url_by_key("a|1"),
                                url_pool_get_count(),
                                url_pool_refresh_counter(),
                                url_pool_restore_db(),
                                url_pool_clean(),
                                close_all_url_banks(),
                                url_pool_get_dirty_flag(),
                                url_pool_is_ready()};
    for (size_t i = 0; i < std::size(without_pool); ++i)
        EXPECT_EQ(without_pool[i], 0) << "call " << i;
    EXPECT_EQ(url_pool_first_url(nullptr), nullptr);
    EXPECT_EQ(url_pool_next_url(), nullptr);
    sys_set_url_pool(pool_);
    EXPECT_EQ(url_pool_get_dirty_flag(), 0);
    EXPECT_FALSE(file_exists(pool_file("enumerate.db")));
    EXPECT_FALSE(file_exists(pool_file("enumerate_bak.db")));
}

// The bank's cursor is set on a key, the bank opened again first when it was
// closed, and deletes what it stands on; a record that does not decode is
// not got.
TEST_F(UrlPoolTest, TheCursorIsSetOnAKeyAndDeletesTheRecordThere) {
    put_all(pool_->main_bank, {"a|1", "b|1", "c|1"});
    coll_close(pool_->main_bank);
    ASSERT_EQ(pool_->main_bank->db, nullptr);
    EXPECT_EQ(coll_set_cursor(pool_->main_bank, make_url("z|1", "http://z").get()), 0);
    ASSERT_EQ(coll_set_cursor(pool_->main_bank, make_url("b|1", "http://b").get()), 1);
    EXPECT_EQ(coll_cursor_del(pool_->main_bank), 1);
    EXPECT_EQ(keys_of(pool_->main_bank), (Strings{"a|1", "c|1"}));
    ASSERT_EQ(put(pool_->main_bank, "d|1", "no record"), 1);
    url_obj *raw = nullptr;
    EXPECT_EQ(coll_get(pool_->main_bank, "d|1", &raw), 0);
    EXPECT_EQ(raw, nullptr);
}

}  // namespace
