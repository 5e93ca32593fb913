// Crawler threads sharing the visited-URL database and the URL pool. Built
// and run under ThreadSanitizer as well.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>

#include "robot/robot_fixture.h"

namespace {

std::string site(int n) {
    return "http://site/" + std::to_string(n % 60);
}

// Claims pages and stores them with links that overlap other workers'
// pages, so that link records are created concurrently too.
void crawl(int worker) {
    for (int round = 0; round < 150; ++round) {
        const int n = round * (worker + 1) + worker;
        const std::string url = site(n);
        visited_url_get_status(url.c_str(), nullptr, 1, 5);
        Table links = make_links({site(n + 1), site(n * 7 + 3), site(n + 30)});
        const uint32_t visited = static_cast<uint32_t>(round);
        visited_url_update_data(url.c_str(), 200, 0, &visited, nullptr, nullptr, links.get(),
                                "0123456789abcdef0123456789abcdef", "pages");
        if (round % 5 == 0) visited_url_update_status(url.c_str(), worker);
        if (round % 7 == 0) visited_url_clear_md5(url.c_str());
    }
}

using ConcurrencyTest = RobotTest;

TEST_F(ConcurrencyTest, OverlappingWritersLeaveOneRecordPerUrlAndUniqueIds) {
    open_new_db();
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) workers.emplace_back(crawl, w);
    for (std::thread &t : workers) t.join();
    std::set<uint32_t> ids;
    for (int n = 0; n < 60; ++n) {
        ids.insert(id_of(site(n)));
        EXPECT_TRUE(logged(stored(site(n)), site(n) + '\0')) << site(n);  // its record
    }
    // Ids 1 to 60, each once, and no other handed out.
    EXPECT_EQ(ids.size(), 60u);
    EXPECT_EQ(*ids.begin(), 1u);
    EXPECT_EQ(*ids.rbegin(), 60u);
    EXPECT_EQ(g_vurl_meta.next_id, 61);
}

std::string key_of(int worker, int i) {
    return "w" + std::to_string(worker) + "|" + std::to_string(i);
}

// Adds its URLs, then backs each up and finishes every third.
void work_on_pool(int w) {
    for (int i = 0; i < 150; ++i) {
        url_pool_put_url_obj(make_url(key_of(w, i), "http://w/" + key_of(w, i)).get());
    }
    for (int i = 0; i < 150; ++i) {
        url_pool_backup_url(make_url(key_of(w, i), "http://w/").get());
        if (i % 3 == 0) url_pool_done_url_by_key(key_of(w, i).c_str());
    }
}

TEST_F(ConcurrencyTest, NoPoolUrlIsLostOrDuplicatedWhileThreadsMoveThem) {
    open_pool();
    std::atomic<bool> stop{false};
    // A reader walking the main bank meanwhile, as the crawler's scheduler does.
    std::thread reader([&] {
        while (!stop) {
            for (UrlObj obj(url_pool_first_url(nullptr)); obj; obj.reset(url_pool_next_url())) {
            }
        }
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) workers.emplace_back(work_on_pool, w);
    for (std::thread &t : workers) t.join();
    stop = true;
    reader.join();
    Strings expected;  // each URL not finished, once, in key order
    for (int w = 0; w < 4; ++w) {
        for (int i = 0; i < 150; ++i) {
            if (i % 3 != 0) expected.push_back(key_of(w, i));
        }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(keys_of(pool_->backup_bank), expected);
    EXPECT_EQ(keys_of(pool_->main_bank), Strings{});
    EXPECT_EQ(url_pool_get_count(), 0);
}

// The crawler's two sides at once, each under nothing but the library's own
// locks: threads storing pages (the visited-URL lock, taken inside the record
// operations) beside threads working the URL pool (the pool's lock). Both
// share the one environment, whose cache is made small here so that pages of
// one side's files are written out while the other side reads and writes.
// Under ThreadSanitizer, which looks for races and lock orders in this
// library's own code, a quarter of the work: it is the plain build's volume
// that brings two threads into Berkeley DB's shared state often enough.
#if defined(__SANITIZE_THREAD__)
constexpr int kWorkShare = 4;
#else
constexpr int kWorkShare = 1;
#endif
constexpr int kSideThreads = 3;
constexpr int kPagesPerThread = 4000 / kWorkShare;
constexpr int kLinksPerPage = 8;
constexpr int kPoolRounds = 8000 / kWorkShare;

std::string page(int thread, int i) {
    return "http://t" + std::to_string(thread) + ".test/" + std::to_string(i);
}

// The page's links: pages of every record thread, so that threads create
// each other's records.
Strings links_of(int thread, int i) {
    Strings links;
    for (int k = 0; k < kLinksPerPage; ++k) {
        links.push_back(
            page((thread + k) % kSideThreads, (i * 7 + k * 13) % (kPagesPerThread * 2)));
    }
    return links;
}

void store_pages(int thread) {
    for (int i = 0; i < kPagesPerThread; ++i) {
        const std::string url = page(thread, i);
        visited_url_get_status(url.c_str(), nullptr, 1, 3);
        Table links = make_links(links_of(thread, i));
        const uint32_t visited = static_cast<uint32_t>(i);
        visited_url_update_data(url.c_str(), 200, 0, &visited, nullptr, nullptr, links.get(),
                                "0123456789abcdef0123456789abcdef", "pages");
    }
}

std::string pool_key(int thread, int i) {
    char number[16];
    std::snprintf(number, sizeof number, "%07d", i);
    return "c" + std::to_string(thread) + "|" + number;
}

// Puts two URLs of its own collection a round and takes the first one through
// the backup bank, as a crawler's worker does: after R rounds its keys R to
// 2R - 1 are left waiting.
void work_pool(int thread) {
    const std::string collection = "c" + std::to_string(thread);
    const char *prefix = collection.c_str();
    for (int i = 0; i < kPoolRounds; ++i) {
        for (int k : {2 * i, 2 * i + 1}) {
            url_pool_put_url_obj(
                make_url(pool_key(thread, k), "http://p/" + pool_key(thread, k)).get());
        }
        UrlObj first(url_pool_first_url(&prefix));
        if (first == nullptr) continue;
        url_pool_backup_url(first.get());
        url_pool_done_url_by_key(first->key);
    }
}

// Berkeley DB's verdict on a closed file: 0 when it is sound.
int verify_file(const std::string &path) {
    DB *db = nullptr;
    if (db_create(&db, nullptr, 0) != 0) return -1;
    return db->verify(db, path.c_str(), nullptr, nullptr, 0);  // releases the handle
}

// The crawler's environment for one test, in a directory of its own whose
// DB_CONFIG sets a small cache; the environment the fixture opened comes back
// when it goes. The database files keep their absolute paths in the fixture's
// home.
class SmallCacheEnv {
  public:
    explicit SmallCacheEnv(const std::string &dir) : dir_(dir), saved_(sys_get_db_env()) {
        std::filesystem::create_directories(dir);
        write_file(dir + "/DB_CONFIG", "set_cachesize 0 65536 1\n");
        env_ = robot_db_open_env(dir.c_str());
        sys_set_db_env(env_);
    }
    ~SmallCacheEnv() {
        // Its files first, should the test have stopped before closing them.
        visited_url_shutdown(0);
        close_all_url_banks();
        if (env_ != nullptr) env_->close(env_, 0);
        sys_set_db_env(saved_);
        std::filesystem::remove_all(dir_);
    }
    SmallCacheEnv(const SmallCacheEnv &) = delete;
    SmallCacheEnv &operator=(const SmallCacheEnv &) = delete;
    bool open() const { return env_ != nullptr; }

  private:
    std::string dir_;
    DB_ENV *saved_;
    DB_ENV *env_;
};

TEST_F(ConcurrencyTest, RecordAndPoolThreadsUnderTheLibrarysLocksLeaveSoundFiles) {
    SmallCacheEnv env(file("threads-env"));
    ASSERT_TRUE(env.open());
    open_new_db();
    pool_ = create_url_pool(file("pool").c_str());  // beside the records, not in the new home
    sys_set_url_pool(pool_);
    std::vector<std::thread> threads;
    for (int t = 0; t < kSideThreads; ++t) {
        threads.emplace_back(store_pages, t);
        threads.emplace_back(work_pool, t);
    }
    for (std::thread &t : threads) t.join();

    // Every page stored with its links, and one id for each URL met.
    Strings wrong;
    std::set<std::string> urls;
    for (int t = 0; t < kSideThreads; ++t) {
        for (int i = 0; i < kPagesPerThread; ++i) {
            const Strings links = links_of(t, i);
            urls.insert(page(t, i));
            urls.insert(links.begin(), links.end());
            Record obj = record(page(t, i));
            Strings entries = obj != nullptr ? table_entries(obj->links) : Strings{};
            std::sort(entries.begin(), entries.end());
            const std::set<std::string> expected(links.begin(), links.end());
            if (obj == nullptr || obj->progress_status != kVurlDataStored ||
                entries != Strings(expected.begin(), expected.end())) {
                wrong.push_back(page(t, i));
            }
        }
    }
    EXPECT_EQ(wrong.size(), 0u) << "the first: " << (wrong.empty() ? "" : wrong.front());
    EXPECT_EQ(g_vurl_meta.next_id, static_cast<int32_t>(urls.size()) + 1);
    Strings waiting;
    for (int t = 0; t < kSideThreads; ++t) {
        for (int k = kPoolRounds; k < 2 * kPoolRounds; ++k) waiting.push_back(pool_key(t, k));
    }
    EXPECT_EQ(keys_of(pool_->main_bank), waiting);
    EXPECT_EQ(keys_of(pool_->backup_bank), Strings{});

    // Every file closed, its pages written, before the environment goes.
    visited_url_shutdown(1);
    close_all_url_banks();
    for (const std::string &name : {file("url-visited.db"), file("vid.db"),
                                    pool_file(kUrlPoolMainFile), pool_file(kUrlPoolBackupFile)}) {
        EXPECT_EQ(verify_file(name), 0) << name;
    }
}

}  // namespace
