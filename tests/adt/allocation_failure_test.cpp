// Memory that runs out at each allocation in turn: every structure reports
// the failure where it happens and keeps whole what it had stored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "adt/velhashtable.h"
#include "adt/vellist.h"
#include "adt/velpriq.h"

namespace {

// The number of nothrow allocations still to succeed before one fails;
// negative: none fails.
long g_fail_in = -1;
bool g_failed = false;

void *allocate(std::size_t size, bool array) {
    if (g_fail_in >= 0 && g_fail_in-- == 0) {
        g_failed = true;
        return nullptr;
    }
    return array ? ::operator new[](size) : ::operator new(size);
}

}  // namespace

// The structures allocate with new (std::nothrow); in this binary that
// allocation fails when the countdown reaches it.
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return allocate(size, false);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    return allocate(size, true);
}

namespace {

// Runs body with its first, second, third ... nothrow allocation failing,
// until a run makes no allocation that fails.
void at_each_failure(const std::function<void()> &body) {
    for (long k = 0;; ++k) {
        SCOPED_TRACE("allocation " + std::to_string(k) + " fails");
        g_failed = false;
        g_fail_in = k;
        body();
        g_fail_in = -1;
        if (!g_failed || testing::Test::HasFailure()) break;
    }
}

const std::vector<std::string> kItems = {"a", "b", "c", "d", "e", "f", "g", "h"};

TEST(AllocationFailure, AHashTableStoresExactlyTheItemsItSaidItStored) {
    at_each_failure([] {
        velhashtable *t = nullptr;
        if (velhashtable_create(3, &t) != 0) {
            EXPECT_EQ(t, nullptr);
            return;
        }
        std::vector<bool> stored;
        for (const std::string &item : kItems) {
            const int r = velhashtable_insert_unique(t, item.c_str(), item.c_str());
            EXPECT_TRUE(r == 0 || r == 1) << r;
            stored.push_back(r == 0);
        }
        for (size_t i = 0; i < kItems.size(); ++i) {
            EXPECT_EQ(velhashtable_find(t, kItems[i].c_str()) != nullptr, stored[i]) << kItems[i];
            EXPECT_EQ(velhashtable_delete(t, kItems[i].c_str()), stored[i] ? 0 : 1) << kItems[i];
        }
        velhashtable_free(t);
    });
}

TEST(AllocationFailure, AListKeepsItsOrderAndCountThroughFailedInsertions) {
    at_each_failure([] {
        vellist *list = nullptr;
        if (vellist_create(&list) != 0) {
            EXPECT_EQ(list, nullptr);
            return;
        }
        std::vector<std::string> model;
        for (size_t i = 0; i < kItems.size(); ++i) {
            const bool at_tail = i % 2 == 0;
            const char *item = kItems[i].c_str();
            const int r = at_tail ? vellist_append(list, item) : vellist_prepend(list, item);
            if (r == 0) model.insert(at_tail ? model.end() : model.begin(), kItems[i]);
            EXPECT_EQ(vellist_count(list), model.size());
        }
        std::vector<std::string> order;
        vellist_apply(list, [](void *item) { static_cast<char *>(item)[0] ^= 0x20; });
        for (void *item; (item = vellist_behead(list)) != nullptr;) {
            order.push_back(static_cast<char *>(item));
            vellist_free_string(item);
        }
        for (std::string &item : model) item[0] ^= 0x20;  // upper case, as applied
        EXPECT_EQ(order, model);
        vellist_do_free(list, 1);
    });
}

TEST(AllocationFailure, APriorityQueueGivesBackEveryItemItTookInOrder) {
    at_each_failure([] {
        velpriq *pq = nullptr;
        if (velpriq_create(&pq) != 0) {
            EXPECT_EQ(pq, nullptr);
            return;
        }
        const int32_t priorities[] = {3, 1, 2, 1, 3, 0, 2, 1};
        std::vector<std::pair<int32_t, std::string>> model;
        for (size_t i = 0; i < kItems.size(); ++i) {
            if (velpriq_put(pq, kItems[i].c_str(), priorities[i]) == 0)
                model.emplace_back(priorities[i], kItems[i]);
        }
        std::stable_sort(model.begin(), model.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        std::vector<std::string> expected, got;
        for (const auto &entry : model) expected.push_back(entry.second);
        for (void *item; (item = velpriq_get(pq)) != nullptr;)
            got.push_back(static_cast<const char *>(item));
        EXPECT_EQ(got, expected);
        velpriq_free(pq);
    });
}

}  // namespace
