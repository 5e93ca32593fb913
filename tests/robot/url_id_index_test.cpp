// The index of URLs' ids answers exactly as the file it mirrors, within its
// budget, and says when it cannot.
#include "robot/url_id_index.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

namespace {

using Answer = UrlIdIndex::Answer;

// What the index answers for key: the id, or 0 for kAbsent, -1 for kUnknown.
int64_t answer(const UrlIdIndex &index, const std::string &key) {
    uint32_t id = 0;
    switch (index.find(key, &id)) {
        case Answer::kId:
            return id;
        case Answer::kAbsent:
            return 0;
        case Answer::kUnknown:
            return -1;
    }
    return -2;
}

TEST(UrlIdIndexTest, KeysAreTheirExactBytes) {
    UrlIdIndex index(1 << 20);
    EXPECT_EQ(answer(index, std::string("http://a/\0", 10)), 0);
    const std::string keys[] = {std::string(100000, 'k'),  // first, and larger than a block
                                std::string("http://a/\0", 10),
                                "http://a/",
                                std::string("http://a/\0x", 11),
                                std::string("", 0),
                                std::string("\0", 1),
                                "http://a/b"};
    uint32_t id = 1;
    for (const std::string &key : keys) index.put(key, id++);
    id = 1;
    for (const std::string &key : keys) EXPECT_EQ(answer(index, key), id++) << key;
    EXPECT_EQ(answer(index, "http://a"), 0);
    // A key written again names its new id.
    index.put(keys[2], 77);
    EXPECT_EQ(answer(index, keys[2]), 77);
    EXPECT_EQ(index.size(), 7u);
    EXPECT_TRUE(index.complete());
}

// Random puts of a few thousand keys, some written twice, as the table grows
// many times over: every key names its last id, and others are absent.
TEST(UrlIdIndexTest, AgreesWithAMapAsItGrows) {
    UrlIdIndex index(size_t{1} << 30);
    std::map<std::string, uint32_t> model;
    std::mt19937 random(5);
    for (uint32_t i = 1; i <= 40000; ++i) {
        const std::string key = "http://h" + std::to_string(random() % 30000) + ".test/" +
                                std::string(random() % 40, 'x') + '\0';
        index.put(key, i);
        model[key] = i;
    }
    ASSERT_EQ(index.size(), model.size());
    for (const auto &[key, id] : model) ASSERT_EQ(answer(index, key), id) << key;
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(answer(index, "http://absent/" + std::to_string(i)), 0);
    // A key longer than a block of keys is held whole.
    const std::string long_key(3 << 20, 'k');
    index.put(long_key, 9);
    EXPECT_EQ(answer(index, long_key), 9);
    EXPECT_EQ(answer(index, long_key.substr(1)), 0);
}

// Past the budget the index stops adding keys and no longer says a key is
// absent; what it holds it still answers, and it never holds more than its
// budget, whether its table or its blocks of keys fill it first. A budget
// of 100,000 bytes already holds hundreds of keys.
TEST(UrlIdIndexTest, PastItsBudgetItAnswersOnlyForWhatItHolds) {
    const struct {
        size_t budget;
        size_t padding;   // bytes added to each key
        size_t at_least;  // keys held
    } cases[] = {
        {0, 0, 0},
        {1000, 0, 0},
        {100000, 0, 500},
        {100000, 180, 300},
        {(1 << 20) + 40000, 0, 5000},
        {3 << 20, 0, 15000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.budget << " " << c.padding);
        UrlIdIndex index(c.budget);
        std::map<std::string, uint32_t> held;
        for (uint32_t i = 1; i <= 60000; ++i) {
            const std::string key =
                "http://site.test/page" + std::to_string(i) + std::string(c.padding, 'p');
            const bool was_complete = index.complete();
            index.put(key, i);
            ASSERT_LE(index.memory_used(), c.budget);
            if (index.complete()) {
                ASSERT_TRUE(was_complete);
                held[key] = i;
            }
        }
        EXPECT_FALSE(index.complete());
        EXPECT_EQ(index.size(), held.size());
        EXPECT_GE(held.size(), c.at_least);
        for (const auto &[key, id] : held) ASSERT_EQ(answer(index, key), id);
        EXPECT_EQ(answer(index, "http://site.test/page60000"), -1);
        EXPECT_EQ(answer(index, "http://elsewhere/"), -1);
        // Held keys still take new ids; new keys are not taken.
        if (!held.empty()) {
            index.put(held.begin()->first, 5);
            EXPECT_EQ(answer(index, held.begin()->first), 5);
        }
        const size_t size = index.size();
        index.put("http://late/", 6);
        EXPECT_EQ(index.size(), size);
    }
}

TEST(UrlIdIndexTest, MarkedIncompleteItNoLongerSaysAbsent) {
    UrlIdIndex index(1 << 20);
    index.put("held", 3);
    index.mark_incomplete();
    EXPECT_EQ(answer(index, "held"), 3);
    EXPECT_EQ(answer(index, "other"), -1);
}

}  // namespace
