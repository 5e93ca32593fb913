// Several crawler threads adding, taking and finishing URLs of one pool at
// once. Built and run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "robot/url_pool_fixture.h"

namespace {

constexpr int kWorkers = 4;
constexpr int kUrlsEach = 150;

std::string key_of(int worker, int i) {
    return "w" + std::to_string(worker) + "|" + std::to_string(i);
}

// Adds its URLs, then backs each up and finishes every third.
void worker(int w) {
    for (int i = 0; i < kUrlsEach; ++i) {
        UrlObj obj =
            make_url(key_of(w, i), "http://w" + std::to_string(w) + "/" + std::to_string(i));
        url_pool_put_url_obj(obj.get());
    }
    for (int i = 0; i < kUrlsEach; ++i) {
        UrlObj obj = make_url(key_of(w, i), "http://w/");
        url_pool_backup_url(obj.get());
        if (i % 3 == 0) url_pool_done_url_by_key(key_of(w, i).c_str());
    }
}

std::multiset<std::string> keys_of(storage_object *bank) {
    std::multiset<std::string> keys;
    url_obj *raw = nullptr;
    for (int more = coll_first(bank, &raw, nullptr); more != 0; more = coll_next(bank, &raw)) {
        UrlObj obj(raw);
        keys.insert(obj->key);
    }
    return keys;
}

using UrlPoolConcurrencyTest = UrlPoolTest;

TEST_F(UrlPoolConcurrencyTest, NoUrlIsLostOrDuplicatedWhileThreadsMoveThem) {
    std::atomic<bool> stop{false};
    // A reader walking the main bank meanwhile, as the crawler's scheduler does.
    std::thread reader([&] {
        while (!stop) {
            for (UrlObj obj(url_pool_first_url(nullptr)); obj != nullptr;
                 obj.reset(url_pool_next_url())) {
            }
        }
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) workers.emplace_back(worker, w);
    for (std::thread &t : workers) t.join();
    stop = true;
    reader.join();

    std::multiset<std::string> expected;
    for (int w = 0; w < kWorkers; ++w) {
        for (int i = 0; i < kUrlsEach; ++i) {
            if (i % 3 != 0) expected.insert(key_of(w, i));
        }
    }
    EXPECT_TRUE(keys_of(pool_->main_bank).empty());
    EXPECT_EQ(keys_of(pool_->backup_bank), expected);
    EXPECT_EQ(url_pool_get_count(), 0);
}

}  // namespace
