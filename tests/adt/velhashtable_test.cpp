#include "adt/velhashtable.h"

#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <utility>
#include <vector>

namespace {

// A table with the string hooks, released at the end of the scope.
struct Table {
    explicit Table(int32_t n) { EXPECT_EQ(velhashtable_create(n, &t), 0); }
    ~Table() { velhashtable_free(t); }
    std::vector<std::string> traversal() const {
        std::vector<std::string> out;
        for (void *item = velhashtable_iterate(t, nullptr, nullptr); item != nullptr;
             item = velhashtable_iterate(t, item, item)) {
            out.push_back(static_cast<char *>(item));
        }
        return out;
    }
    velhashtable *t = nullptr;
};

struct HashRow {
    const char *text;
    uint32_t hash;
    uint32_t bucket_of_73, bucket_of_7;
};
constexpr HashRow kHashes[] = {
    {"", 0, 0, 0},
    {"a", 0x9E3779D8u, 18, 2},
    {"abc", 0xDAC70F2Au, 17, 4},
    {"\xE9", 0x61C88650u, 54, 0},  // bytes above 127 widen with their sign
};

TEST(Velhashtable, TheDefaultHashChoosesTheBucketByItsRemainder) {
    EXPECT_EQ(velhashtable_hf_default(nullptr), 0u);
    for (const HashRow &row : kHashes) {
        EXPECT_EQ(velhashtable_hf_default(row.text), row.hash) << row.text;
        for (auto [size, bucket] : {std::pair{73, row.bucket_of_73}, {7, row.bucket_of_7}}) {
            Table table(size);
            velhashtable_insert(table.t, row.text, row.text);
            EXPECT_EQ(vellist_count(table.t->buckets[bucket]), 1u) << row.text << " of " << size;
        }
    }
    for (auto [asked, made] : {std::pair{0, 7u}, {-5, 7u}, {1, 1u}}) {
        EXPECT_EQ(Table(asked).t->size, made) << asked;
    }
}

// Bucket lengths 2, 0, 1, 0, 0, 0, 0: the sample deviation of seven buckets.
TEST(Velhashtable, StatsGiveTheDistributionOfBucketLengths) {
    Table table(7);
    for (const char *text : {"", "\xE9", "a"}) velhashtable_insert(table.t, text, text);
    velhashtable_stat stat{};
    velhashtable_stats(table.t, &stat);
    EXPECT_EQ(stat.items, 3u);
    EXPECT_EQ(stat.bucket_count, 7u);
    EXPECT_EQ(stat.longest, 2u);
    EXPECT_EQ(stat.total, 3u);
    EXPECT_DOUBLE_EQ(stat.mean, 3.0 / 7);
    EXPECT_DOUBLE_EQ(stat.spread, std::sqrt(26.0 / 42));
}

TEST(Velhashtable, DuplicatesAreKeptAndDeletedOneAtATime) {
    Table table(73);
    char text[] = "abc";
    EXPECT_EQ(velhashtable_insert(table.t, text, text), 0);
    EXPECT_EQ(velhashtable_insert_unique(table.t, "abc", "abc"), -1);
    EXPECT_EQ(velhashtable_insert(table.t, "abc", "abc"), 0);
    EXPECT_EQ(velhashtable_insert(table.t, "x", nullptr), 1);
    EXPECT_EQ(table.t->count, 2u);
    EXPECT_EQ(table.traversal(), (std::vector<std::string>{"abc", "abc"}));
    void *first = velhashtable_find(table.t, "abc");
    EXPECT_NE(first, static_cast<void *>(text));  // a private copy
    EXPECT_EQ(velhashtable_findhv(table.t, "abc", velhashtable_hf_default("abc")), first);
    EXPECT_EQ(velhashtable_findhv(table.t, "abc", velhashtable_hf_default("abc") + 1), nullptr);

    EXPECT_EQ(velhashtable_delete(table.t, "abc"), 0);
    EXPECT_EQ(table.t->count, 1u);
    EXPECT_EQ(velhashtable_iterate(table.t, "abc", first), nullptr);  // first is gone
    EXPECT_EQ(velhashtable_delete(table.t, "absent"), 1);
}

TEST(Velhashtable, TraversalGoesByBucketThenInsertionOrder) {
    Table table(7);
    EXPECT_EQ(table.traversal(), std::vector<std::string>{});
    velhashtable_stat stat;
    velhashtable_stats(table.t, &stat);
    EXPECT_EQ(stat.items + stat.total + stat.longest, 0u);
    EXPECT_EQ(stat.mean, 0.0);
    std::vector<std::string> in3, in5;  // two keys each for buckets 3 and 5
    for (int i = 0; in3.size() < 2 || in5.size() < 2; ++i) {
        std::string s = "k" + std::to_string(i);
        const uint32_t b = velhashtable_hf_default(s.c_str()) % 7;
        if (b == 3 && in3.size() < 2) in3.push_back(s);
        if (b == 5 && in5.size() < 2) in5.push_back(s);
    }
    for (const std::string *s : {&in5[0], &in3[0], &in5[1], &in3[1]}) {
        velhashtable_insert(table.t, s->c_str(), s->c_str());
    }
    EXPECT_EQ(table.traversal(), (std::vector<std::string>{in3[0], in3[1], in5[0], in5[1]}));
}

}  // namespace
