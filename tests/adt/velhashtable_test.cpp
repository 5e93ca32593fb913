#include "adt/velhashtable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

std::vector<std::string> traversal(velhashtable *table) {
    std::vector<std::string> out;
    for (void *item = velhashtable_iterate(table, nullptr, nullptr); item != nullptr;
         item = velhashtable_iterate(table, item, item)) {
        out.push_back(static_cast<char *>(item));
    }
    return out;
}

uint32_t bucket(const char *s, uint32_t n) {
    return velhashtable_hf_default(s) % n;
}

TEST(HashFunctionTest, KnownValues) {
    EXPECT_EQ(velhashtable_hf_default(""), 0u);
    EXPECT_EQ(velhashtable_hf_default("a"), 0x9E3779D8u);
    EXPECT_EQ(velhashtable_hf_default("abc"), 0xDAC70F2Au);
    EXPECT_EQ(velhashtable_hf_default("\xE9"), 0x61C88650u);  // high bytes widen with their sign
    EXPECT_EQ(velhashtable_hf_default(nullptr), 0u);
    EXPECT_EQ(bucket("a", 73), 18u);
    EXPECT_EQ(bucket("abc", 73), 17u);
    EXPECT_EQ(bucket("a", 7), 2u);
    EXPECT_EQ(bucket("abc", 7), 4u);
}

class HashTableTest : public testing::Test {
  protected:
    void make(int32_t n) { ASSERT_EQ(velhashtable_create(n, &table_), 0); }
    void TearDown() override {
        if (table_) {
            EXPECT_EQ(velhashtable_free(table_), 0);
        }
    }
    velhashtable *table_ = nullptr;
};

TEST_F(HashTableTest, BucketCountBelowOneMeansSeven) {
    make(0);
    EXPECT_EQ(table_->size, 7u);
    velhashtable_free(table_);
    make(-5);
    EXPECT_EQ(table_->size, 7u);
}

TEST_F(HashTableTest, InsertKeepsDuplicatesAndInsertUniqueRefusesThem) {
    make(73);
    EXPECT_EQ(velhashtable_insert(table_, "abc", "abc"), 0);
    EXPECT_EQ(velhashtable_insert_unique(table_, "abc", "abc"), -1);
    EXPECT_EQ(table_->count, 1u);
    EXPECT_EQ(velhashtable_insert(table_, "abc", "abc"), 0);
    EXPECT_EQ(table_->count, 2u);
    EXPECT_EQ(traversal(table_), (std::vector<std::string>{"abc", "abc"}));
    EXPECT_EQ(velhashtable_insert(table_, "x", nullptr), 1);
    EXPECT_EQ(velhashtable_insert_unique(table_, "x", nullptr), 1);
    EXPECT_EQ(table_->count, 2u);
}

TEST_F(HashTableTest, DeleteRemovesTheFirstCopyOnly) {
    make(73);
    velhashtable_insert(table_, "abc", "abc");
    velhashtable_insert(table_, "abc", "abc");
    EXPECT_EQ(velhashtable_delete(table_, "abc"), 0);
    EXPECT_EQ(table_->count, 1u);
    EXPECT_NE(velhashtable_find(table_, "abc"), nullptr);
    EXPECT_EQ(velhashtable_delete(table_, "absent"), 1);
    EXPECT_EQ(table_->count, 1u);
}

TEST_F(HashTableTest, FindStoresPrivateCopiesAndFindhvUsesTheGivenHash) {
    make(73);
    char text[] = "a";
    velhashtable_insert(table_, text, text);
    void *found = velhashtable_find(table_, "a");
    ASSERT_NE(found, nullptr);
    EXPECT_NE(found, static_cast<void *>(text));
    EXPECT_EQ(velhashtable_findhv(table_, "a", velhashtable_hf_default("a")), found);
    EXPECT_EQ(velhashtable_findhv(table_, "a", velhashtable_hf_default("a") + 1), nullptr);
}

TEST_F(HashTableTest, TraversalGoesByBucketThenInsertionOrder) {
    make(7);
    EXPECT_EQ(traversal(table_), std::vector<std::string>{});
    // Find strings for buckets 3 and 5, two each, and insert them interleaved.
    std::vector<std::string> in3, in5;
    for (int i = 0; in3.size() < 2 || in5.size() < 2; ++i) {
        std::string s = "k" + std::to_string(i);
        uint32_t b = bucket(s.c_str(), 7);
        if (b == 3 && in3.size() < 2) in3.push_back(s);
        if (b == 5 && in5.size() < 2) in5.push_back(s);
    }
    for (const std::string *s : {&in5[0], &in3[0], &in5[1], &in3[1]}) {
        velhashtable_insert(table_, s->c_str(), s->c_str());
    }
    EXPECT_EQ(traversal(table_), (std::vector<std::string>{in3[0], in3[1], in5[0], in5[1]}));
}

TEST_F(HashTableTest, IteratingFromADeletedItemEnds) {
    make(73);
    velhashtable_insert(table_, "a", "a");
    velhashtable_insert(table_, "abc", "abc");
    void *first = velhashtable_iterate(table_, nullptr, nullptr);
    ASSERT_NE(first, nullptr);
    const std::string key = static_cast<char *>(first);
    // Another copy of the same string stands in for the deleted one.
    velhashtable_insert(table_, key.c_str(), key.c_str());
    velhashtable_delete(table_, key.c_str());
    EXPECT_EQ(velhashtable_iterate(table_, key.c_str(), first), nullptr);
}

TEST_F(HashTableTest, SettersReachEveryBucket) {
    make(3);
    static int freed;
    freed = 0;
    EXPECT_EQ(velhashtable_set_free(table_,
                                    [](void *item) {
                                        ++freed;
                                        free(item);
                                    }),
              0);
    for (const char *s : {"a", "b", "c", "d"}) velhashtable_insert(table_, s, s);
    velhashtable_delete(table_, "b");
    EXPECT_EQ(freed, 1);
    velhashtable_free(table_);
    table_ = nullptr;
    EXPECT_EQ(freed, 4);
    EXPECT_EQ(velhashtable_set_hash(nullptr, velhashtable_hf_default), 1);
}

TEST_F(HashTableTest, StatsOfEmptyAndFilledTables) {
    make(4);
    velhashtable_stat stat;
    velhashtable_stats(table_, &stat);
    EXPECT_EQ(stat.items, 0u);
    EXPECT_EQ(stat.total, 0u);
    EXPECT_EQ(stat.longest, 0u);
    EXPECT_EQ(stat.mean, 0.0);
    EXPECT_EQ(stat.spread, 0.0);

    // Every key in bucket 0: lengths 3, 0, 0, 0.
    velhashtable_set_hash(table_, [](const void *) -> uint32_t { return 0; });
    for (const char *s : {"a", "b", "c"}) velhashtable_insert(table_, s, s);
    velhashtable_stats(table_, &stat);
    EXPECT_EQ(stat.items, 3u);
    EXPECT_EQ(stat.bucket_count, 4u);
    EXPECT_EQ(stat.longest, 3u);
    EXPECT_EQ(stat.total, 3u);
    EXPECT_DOUBLE_EQ(stat.mean, 0.75);
    EXPECT_DOUBLE_EQ(stat.spread, std::sqrt((4.0 * 9 - 9) / 12));  // sample deviation, 1.5
}

TEST_F(HashTableTest, OneBucketHasNoSpread) {
    make(1);
    velhashtable_insert(table_, "a", "a");
    velhashtable_stat stat;
    velhashtable_stats(table_, &stat);
    EXPECT_EQ(stat.mean, 1.0);
    EXPECT_EQ(stat.spread, 0.0);
}

}  // namespace
