// Crawler threads sharing the visited-URL database and the URL pool. Built
// and run under ThreadSanitizer as well.

#include <algorithm>
#include <atomic>
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

}  // namespace
