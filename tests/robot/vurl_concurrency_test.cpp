// Several crawler threads claiming, storing and marking overlapping URLs at
// once. Built and run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "robot/coding.h"
#include "robot/id_indirect.h"
#include "robot/vurl_fixture.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_ops.h"

namespace {

constexpr int kThreads = 4;
constexpr int kUrls = 60;
constexpr int kRounds = 150;

std::string site(int n) {
    return "http://site/" + std::to_string(n % kUrls);
}

// One worker: claims pages and stores them with links that overlap other
// workers' pages, so that link records are created concurrently too.
void crawl(int worker) {
    for (int round = 0; round < kRounds; ++round) {
        const int n = round * (worker + 1) + worker;
        const std::string url = site(n);
        visited_url_get_status(url.c_str(), nullptr, 1, 5);
        Table links = make_links({site(n + 1), site(n * 7 + 3), site(n + kUrls / 2)});
        const uint32_t visited = static_cast<uint32_t>(round);
        visited_url_update_data(url.c_str(), 200, 0, &visited, nullptr, nullptr, links.get(),
                                "0123456789abcdef0123456789abcdef", "pages");
        if (round % 5 == 0) visited_url_update_status(url.c_str(), worker);
        if (round % 7 == 0) visited_url_clear_md5(url.c_str());
    }
}

using VurlConcurrencyTest = VurlDbTest;

TEST_F(VurlConcurrencyTest, OverlappingWritersLeaveOneRecordPerUrlAndUniqueIds) {
    std::vector<std::thread> workers;
    for (int w = 0; w < kThreads; ++w) workers.emplace_back(crawl, w);
    for (std::thread &t : workers) t.join();

    // Every URL of vid.db has its own id and a record that names it back.
    std::map<std::string, uint32_t> ids;
    DB *id_db = vdb_id->db.get();
    DBC *raw = nullptr;
    ASSERT_EQ(id_db->cursor(id_db, nullptr, &raw, 0), 0);
    std::unique_ptr<DBC, storage::CloseCursor> cursor(raw);
    DBT key{}, value{};
    while (cursor->get(cursor.get(), &key, &value, DB_NEXT) == 0) {
        std::string url(static_cast<const char *>(key.data), key.size - 1);
        if (url == VURL_META_KEY) continue;
        ASSERT_EQ(value.size, 4u) << url;
        ids[url] = decode_fixed32(static_cast<const uint8_t *>(value.data));
    }
    cursor.reset();

    std::set<uint32_t> distinct;
    uint32_t highest = 0;
    for (const auto &[url, id] : ids) {
        distinct.insert(id);
        highest = std::max(highest, id);
        Record obj = record(url);
        ASSERT_NE(obj, nullptr) << url;
        EXPECT_STREQ(obj->url, url.c_str());
    }
    EXPECT_EQ(ids.size(), static_cast<size_t>(kUrls));
    EXPECT_EQ(distinct.size(), ids.size());
    EXPECT_EQ(g_vurl_meta.next_id, static_cast<int32_t>(highest + 1));

    size_t records = 0;
    DBT id{}, data{};
    for (int more = vdb_url->first(vdb_url, &id, &data); more != 0;
         more = vdb_url->next(vdb_url, &id, &data)) {
        ++records;
    }
    EXPECT_EQ(records, ids.size());
}

}  // namespace
