// The one fixture of the storage-layer tests: one database home for the whole
// process (the storage layer computes it once), emptied before every test,
// its two logs in files, and ways to fill the databases and read them back.
#ifndef CRAWLPEEK_TESTS_ROBOT_ROBOT_FIXTURE_H_
#define CRAWLPEEK_TESTS_ROBOT_ROBOT_FIXTURE_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "adt/velhashtable.h"
#include "log/log.h"
#include "log/objlog.h"
#include "robot/coding.h"
#include "robot/crawler_hooks.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/robot_db_env.h"
#include "robot/storage_object.h"
#include "robot/url_pool.h"
#include "robot/vurl_db.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_ops.h"
#include "robot/vurl_record.h"
#include "support/sample_db.h"
#include "support/scratch_dir.h"
#include "support/test_hooks.h"

using Record = VisitedUrlPtr;
struct FreeTable {
    void operator()(velhashtable *table) const { velhashtable_free(table); }
};
using Table = std::unique_ptr<velhashtable, FreeTable>;
struct DestroyUrlObj {
    void operator()(url_obj *obj) const { destroy_url_obj(obj); }
};
using UrlObj = std::unique_ptr<url_obj, DestroyUrlObj>;
using Strings = std::vector<std::string>;

inline const std::string &robot_home() {
    static ScratchDir dir;
    static const bool ready = [] {
        test_hooks().state_path = dir.path();
        robot_log_init((dir.path() + "/robot.log").c_str(), 5, 100000000);
        vellog_init(5, (dir.path() + "/module.log").c_str());
        // The environment lives in the process's memory: it is closed before
        // the process ends, once the test has closed its files.
        std::atexit([] { robot_db_shutdown(); });
        return robot_db_init() == 0;
    }();
    EXPECT_TRUE(ready);
    return dir.path();
}

// What each log has received since the test began.
inline std::string robot_log_text() {
    return read_file(robot_home() + "/robot.log");
}
inline std::string module_log_text() {
    std::fflush(nullptr);  // the module log leaves its stream unflushed
    return read_file(robot_home() + "/module.log");
}
inline bool logged(const std::string &log, const std::string &text) {
    return log.find(text) != std::string::npos;
}

// A links table holding urls, and the entries of a table in its walking order.
inline Table make_links(const Strings &urls) {
    velhashtable *table = nullptr;
    velhashtable_create(kVurlLinkBuckets, &table);
    for (const std::string &url : urls) velhashtable_insert(table, url.c_str(), url.c_str());
    return Table(table);
}
inline Strings table_entries(velhashtable *table) {
    Strings entries;
    for (void *item = table ? velhashtable_iterate(table, nullptr, nullptr) : nullptr; item;
         item = velhashtable_iterate(table, item, item)) {
        entries.emplace_back(static_cast<const char *>(item));
    }
    return entries;
}

// A pool object as the host makes it (numbers 1, 2, 3), with its key.
inline UrlObj make_url(const std::string &key, const std::string &url, const char *text_a = nullptr,
                       const char *text_b = nullptr) {
    UrlObj obj(create_url_obj(url.c_str(), 1, 2, 0, 3, text_a, text_b, 10));
    obj->key = strdup(key.c_str());
    return obj;
}

// A record decoded from an exact copy of bytes, so that the sanitizer build
// catches a read past its end.
inline Record decode_record(const std::string &bytes, int resolve = 1) {
    std::unique_ptr<char[]> copy(new char[bytes.size() + 1]);
    bytes.copy(copy.get(), bytes.size());
    DBT dbt = borrowed_dbt(copy.get(), bytes.size());
    return Record(DBT2visited_url_obj_V2(&dbt, resolve));
}

// Every field of a record on one line ("none" for no record, "-" for a field
// that is none): words, digest, URL, "<" referer, sorted links, the rest.
inline std::string describe(const Record &obj) {
    if (obj == nullptr) return "none";
    auto text = [](const char *s) { return std::string(s != nullptr ? s : "-"); };
    Strings entries = table_entries(obj->links);
    std::sort(entries.begin(), entries.end());
    std::string links;
    for (const std::string &link : entries) links += (links.empty() ? "" : ",") + link;
    std::string out;
    for (uint32_t word : {obj->last_processed, obj->last_visited, obj->last_modified,
                          obj->rd_expires, static_cast<uint32_t>(obj->progress_status)}) {
        out += std::to_string(word) + " ";
    }
    if (obj->md5[0] != '\0') out += "md5:" + std::string(obj->md5) + " ";
    return out + text(obj->url) + " <" + text(obj->referer) + " " +
           (obj->links != nullptr ? "[" + links + "]" : "-") + std::to_string(obj->link_count) +
           " " + text(obj->database) + " " + std::to_string(obj->depth_countdown) + " " +
           std::to_string(obj->server_status);
}

class RobotTest : public ::testing::Test {
  protected:
    static constexpr uint32_t kCrawl = 1700000000;

    void SetUp() override {
        reset_test_hooks();
        test_hooks().state_path = robot_home();
        for (const char *name : {"url-visited.db", "vid.db", "other.db"}) {
            std::remove(file(name).c_str());
        }
        std::filesystem::remove_all(file("pool"));
        std::filesystem::create_directory(file("pool"));
        // Emptied in place, once the module log has written what it holds back.
        std::fflush(nullptr);
        write_file(file("robot.log"), "");
        write_file(file("module.log"), "");
    }
    void TearDown() override {
        visited_url_shutdown(0);
        if (pool_ != nullptr) {
            close_all_url_banks();
            sys_set_url_pool(nullptr);
            destroy_url_pool(pool_);
        }
        url_pool_set_clock(nullptr);
    }
    std::string file(const std::string &name) const { return robot_home() + "/" + name; }

    // Stores or replaces value under the string key through obj's slots, and
    // reads it back (empty when not found).
    int put(storage_object *obj, const std::string &key, const std::string &value,
            bool replace = false) {
        DBT k = string_key(key.c_str()), v = borrowed_dbt(value.data(), value.size());
        return (replace ? obj->update : obj->put)(obj, &k, &v);
    }
    std::string get(storage_object *obj, const std::string &key) {
        DBT k = string_key(key.c_str());
        MallocDbt value;
        if (obj->get(obj, &k, value.get()) == 0) return std::string();
        return std::string(static_cast<const char *>(value.data()), value.size());
    }

    // The visited-URL database, written from samples or opened new for
    // writing with the crawl stamp kCrawl.
    void write(const SampleDb &db) { ASSERT_EQ(db.write(robot_home()), ""); }
    void open_new_db() {
        ASSERT_EQ(visited_url_init(1), 1);
        g_timestamp = kCrawl;
    }
    std::string stored(const std::string &url) { return get(vdb_url, url); }
    uint32_t id_of(const std::string &url) {  // 0 when url has no id
        const std::string id = get(vdb_id, url);
        return id.size() == 4 ? decode_fixed32(reinterpret_cast<const uint8_t *>(id.data())) : 0;
    }
    std::string stored_meta() {  // read from vid.db alone; empty for none
        return read_stored(file("vid.db"), std::string("VURL_META_DATA") + '\0').value_or("");
    }
    Record record(const std::string &url) {
        const std::string bytes = stored(url);
        return bytes.empty() ? nullptr : decode_record(bytes);
    }
    void put_raw(const std::string &url, const std::string &value) {  // unencoded
        ASSERT_EQ(put(vdb_url, url, value), 1);
    }
    // Claims url as the crawler does, then stores its fetch with these links.
    void add_page(const std::string &url, const Strings &links,
                  const char *md5 = "0123456789abcdef0123456789abcdef") {
        visited_url_get_status(url.c_str(), nullptr, 1, 3);
        Table table = make_links(links);
        const uint32_t visited = kCrawl + 1;
        ASSERT_EQ(visited_url_update_data(url.c_str(), 200, 0, &visited, nullptr, nullptr,
                                          table.get(), md5, "pages"),
                  1);
    }

    // A URL pool in the directory pool/ below the home, registered.
    void open_pool() {
        pool_ = create_url_pool("pool");  // relative: below the environment's home
        sys_set_url_pool(pool_);
    }
    std::string pool_file(const std::string &name) const { return file("pool/" + name); }
    Strings keys_of(storage_object *bank) {
        Strings keys;
        url_obj *raw = nullptr;
        for (int more = coll_first(bank, &raw, nullptr); more; more = coll_next(bank, &raw)) {
            keys.emplace_back(UrlObj(raw)->key);
        }
        return keys;
    }
    void put_all(storage_object *bank, const Strings &keys) {
        for (const std::string &key : keys) {
            ASSERT_EQ(coll_put(bank, make_url(key, "http://" + key).get()), 1) << key;
        }
    }

    url_pool *pool_ = nullptr;
};

#endif  // CRAWLPEEK_TESTS_ROBOT_ROBOT_FIXTURE_H_
