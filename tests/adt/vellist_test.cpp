#include "adt/vellist.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "adt/velhashtable.h"
#include "adt/velpriq.h"
#include "adt/velstack_queue.h"

namespace {

using Strings = std::vector<std::string>;

// The stored strings from head to tail; tail and count must agree with the
// chain.
Strings items(const vellist *list) {
    Strings out;
    const vellist_node *last = nullptr;
    for (const vellist_node *n = list->head; n != nullptr; n = n->next) {
        out.push_back(static_cast<const char *>(n->item));
        last = n;
    }
    EXPECT_EQ(list->tail, last);
    EXPECT_EQ(vellist_count(list), out.size());
    EXPECT_EQ(list->count, out.size());
    return out;
}

TEST(Vellist, AStringListKeepsItsChainThroughEveryInsertionAndRemoval) {
    vellist *list = nullptr;
    ASSERT_EQ(vellist_create(&list), 0);
    char text[] = "b";
    ASSERT_EQ(vellist_prepend(list, text), 0);               // into the empty list: head and tail
    EXPECT_NE(list->head->item, static_cast<void *>(text));  // a copy of its own
    text[0] = 'X';
    vellist_append(list, "c");
    vellist_prepend(list, "a");
    vellist_append(list, "a");
    EXPECT_EQ(items(list), (Strings{"a", "b", "c", "a"}));
    EXPECT_EQ(vellist_delete(list, "a"), 0);  // the first match only
    EXPECT_EQ(vellist_delete(list, "a"), 0);  // the tail: "c" becomes the tail
    EXPECT_EQ(vellist_delete(list, "a"), 1);
    vellist_append(list, "d");
    EXPECT_EQ(items(list), (Strings{"b", "c", "d"}));
    EXPECT_STREQ(static_cast<char *>(vellist_find(list, "c")), "c");

    for (const char *expected : {"b", "c", "d"}) {
        void *item = vellist_behead(list);  // the caller's now
        EXPECT_STREQ(static_cast<char *>(item), expected);
        std::free(item);
    }
    EXPECT_EQ(items(list), Strings{});
    vellist_append(list, "e");
    EXPECT_EQ(vellist_delete(list, "e"), 0);  // the only node
    EXPECT_EQ(vellist_append(list, nullptr), 1);
    EXPECT_EQ(items(list), Strings{});

    vellist_append(list, "kept");
    void *item = list->head->item;
    EXPECT_EQ(vellist_do_reset(list, 0), 0);  // leaves the items to the caller
    EXPECT_EQ(items(list), Strings{});
    EXPECT_STREQ(static_cast<char *>(item), "kept");
    std::free(item);  // a second release would abort
    EXPECT_EQ(vellist_do_free(list, 1), 0);
    EXPECT_EQ(vellist_count(nullptr), 0u);
}

// A reset that frees the items frees each one once, and one that does not
// frees none.
TEST(Vellist, AResetFreesEachItemOnceWhenAsked) {
    static int freed = 0;
    for (const int free_items : {1, 0}) {
        freed = 0;
        vellist *list = nullptr;
        ASSERT_EQ(vellist_create(&list), 0);
        for (const char *text : {"a", "b", "c"}) vellist_append(list, text);
        std::vector<void *> kept;
        for (const vellist_node *n = list->head; n != nullptr; n = n->next) kept.push_back(n->item);
        vellist_set_free(list, [](void *item) {
            ++freed;
            std::free(item);
        });
        vellist_do_reset(list, free_items);
        EXPECT_EQ(freed, free_items != 0 ? 3 : 0);
        EXPECT_EQ(list->head, nullptr);
        EXPECT_EQ(list->count, 0u);
        if (free_items == 0) {
            for (void *item : kept) std::free(item);
        }
        vellist_do_free(list, 0);
    }
}

TEST(VelstackQueue, StackReversesQueueKeepsOrderAndMatchesOnFourBytes) {
    // On a little-endian machine these differ in their fourth byte alone.
    int32_t values[] = {0x11223344, 0x22223344, 0x33223344};
    velstack *stack = nullptr;
    velqueue *queue = nullptr;
    ASSERT_EQ(velstack_create(&stack), 0);
    ASSERT_EQ(velqueue_create(&queue), 0);
    for (int32_t &v : values) {
        velstack_push(stack, &v);
        velqueue_put(queue, &v);
    }
    for (int i = 2; i >= 0; --i) EXPECT_EQ(velstack_pop(stack), &values[i]);
    EXPECT_EQ(velstack_pop(stack), nullptr);
    EXPECT_EQ(velqueue_peek(queue), &values[0]);
    int32_t key = 0x22223344;  // another pointer to an equal value
    EXPECT_EQ(velqueue_delete(queue, &key), 0);
    for (int i : {0, 2}) EXPECT_EQ(velqueue_get(queue), &values[i]);
    EXPECT_EQ(velqueue_get(queue), nullptr);
    velstack_push(stack, &values[0]);  // the caller's: freed with neither
    velqueue_put(queue, &values[0]);
    EXPECT_EQ(velstack_free(stack), 0);
    EXPECT_EQ(velqueue_free(queue), 0);
}

TEST(Velpriq, LowestPriorityFirstThenArrivalOrderPassingEmptyLevels) {
    velpriq *pq = nullptr;
    ASSERT_EQ(velpriq_create(&pq), 0);
    char a = 'A', b = 'B', c = 'C', d = 'D', z = 'Z', n = 'N';
    velpriq_put(pq, &a, 5);
    velpriq_put(pq, &b, 1);
    velpriq_put(pq, &c, 5);
    velpriq_put(pq, &d, 3);
    EXPECT_EQ(velpriq_getpri(pq, 4), nullptr);
    EXPECT_EQ(pq->count, 3u);  // one level per priority, none made by the get
    EXPECT_EQ(velpriq_getpri(pq, 5), &a);
    EXPECT_EQ(velpriq_put(pq, nullptr, 9), 1);  // refused, but its level stays
    velpriq_put(pq, &z, 0);
    velpriq_put(pq, &n, -7);
    EXPECT_EQ(pq->count, 6u);
    for (char *expected : {&n, &z, &b, &d, &c}) EXPECT_EQ(velpriq_get(pq), expected);
    EXPECT_EQ(velpriq_get(pq), nullptr);
    EXPECT_EQ(pq->count, 6u);  // empty levels stay
    EXPECT_EQ(velpriq_free(pq), 0);
}

}  // namespace

namespace {

// Every entry refuses a null structure, item, key or hook, changing nothing:
// 1 (or null) as the headers say.
TEST(AdtArguments, EveryEntryRefusesANullStructureItemOrHook) {
    vellist *list = nullptr;
    ASSERT_EQ(vellist_create(&list), 0);
    ASSERT_EQ(vellist_append(list, "kept"), 0);
    velhashtable *table = nullptr;
    ASSERT_EQ(velhashtable_create(1, &table), 0);
    const int refused[] = {
        vellist_set_compare(nullptr, vellist_cmp_nop),
        vellist_set_compare(list, nullptr),
        vellist_set_free(nullptr, vellist_free_nop),
        vellist_set_free(list, nullptr),
        vellist_set_copy(nullptr, vellist_copy_nop),
        vellist_set_copy(list, nullptr),
        vellist_append(nullptr, "x"),
        vellist_append(list, nullptr),
        vellist_prepend(nullptr, "x"),
        vellist_prepend(list, nullptr),
        vellist_delete(nullptr, "kept"),
        vellist_delete(list, nullptr),
        velhashtable_set_hash(nullptr, velhashtable_hf_default),
        velhashtable_set_hash(table, nullptr),
        velhashtable_set_copy(nullptr, vellist_copy_nop),
        velhashtable_set_copy(table, nullptr),
        velhashtable_set_compare(nullptr, vellist_cmp_nop),
        velhashtable_set_compare(table, nullptr),
        velhashtable_set_free(nullptr, vellist_free_nop),
        velhashtable_set_free(table, nullptr),
        velpriq_free(nullptr),
    };
    for (size_t i = 0; i < std::size(refused); ++i) EXPECT_EQ(refused[i], 1) << "call " << i;
    EXPECT_EQ(vellist_behead(nullptr), nullptr);
    EXPECT_EQ(vellist_find(nullptr, "kept"), nullptr);
    EXPECT_EQ(vellist_find(list, nullptr), nullptr);
    EXPECT_EQ(velpriq_get(nullptr), nullptr);
    EXPECT_EQ(velpriq_getpri(nullptr, 0), nullptr);
    EXPECT_EQ(velqueue_peek(nullptr), nullptr);
    vellist_apply(nullptr, vellist_free_nop);
    vellist_apply(list, nullptr);
    EXPECT_EQ(items(list), Strings{"kept"});  // the hooks are still the string ones
    EXPECT_STREQ(static_cast<char *>(vellist_find(list, "kept")), "kept");
    EXPECT_EQ(vellist_set_compare(list, vellist_cmp_string) +
                  vellist_set_free(list, vellist_free_string) +
                  vellist_set_copy(list, vellist_copy_string),
              0);
    vellist_do_free(list, 1);

    // A hook given is taken, by the table and every bucket alike.
    EXPECT_EQ(velhashtable_set_copy(table, vellist_copy_nop), 0);
    EXPECT_EQ(velhashtable_set_compare(table, vellist_cmp_nop), 0);
    EXPECT_EQ(velhashtable_set_free(table, vellist_free_nop), 0);
    EXPECT_TRUE(table->copy == vellist_copy_nop && table->compare == vellist_cmp_nop &&
                table->free == vellist_free_nop);
    const vellist *bucket = table->buckets[0];
    EXPECT_TRUE(bucket->copy == vellist_copy_nop && bucket->compare == vellist_cmp_nop &&
                bucket->free == vellist_free_nop);
    EXPECT_EQ(velhashtable_free(table), 0);
}

}  // namespace
