#include "adt/vellist.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "adt/velstack_queue.h"

namespace {

// The stored strings from head to tail, checking the chain's invariants.
std::vector<std::string> items(const vellist *list) {
    std::vector<std::string> out;
    const vellist_node *last = nullptr;
    for (const vellist_node *n = list->head; n != nullptr; n = n->next) {
        out.push_back(static_cast<const char *>(n->item));
        last = n;
    }
    EXPECT_EQ(list->tail, last);
    EXPECT_EQ(list->count, out.size());
    return out;
}

TEST(VellistTest, DefaultListOwnsCopiesOfStrings) {
    vellist *list = nullptr;
    ASSERT_EQ(vellist_create(&list), 0);
    char text[] = "abc";
    ASSERT_EQ(vellist_append(list, text), 0);
    void *stored = vellist_find(list, "abc");
    ASSERT_NE(stored, nullptr);
    EXPECT_NE(stored, static_cast<void *>(text));
    text[0] = 'X';  // the list's copy is its own
    EXPECT_EQ(items(list), std::vector<std::string>{"abc"});
    EXPECT_EQ(vellist_delete(list, "abc"), 0);
    EXPECT_EQ(vellist_delete(list, "abc"), 1);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);
    EXPECT_EQ(vellist_do_free(list, 1), 0);
}

TEST(VellistTest, NullArgumentsAreRefused) {
    vellist *list = nullptr;
    ASSERT_EQ(vellist_create(&list), 0);
    EXPECT_EQ(vellist_append(list, nullptr), 1);
    EXPECT_EQ(vellist_prepend(list, nullptr), 1);
    EXPECT_EQ(vellist_append(nullptr, "a"), 1);
    EXPECT_EQ(list->count, 0u);
    EXPECT_EQ(vellist_delete(list, "a"), 1);  // empty
    EXPECT_EQ(vellist_find(list, nullptr), nullptr);
    EXPECT_EQ(vellist_behead(list), nullptr);
    EXPECT_EQ(vellist_set_copy(list, nullptr), 1);
    EXPECT_EQ(vellist_set_free(nullptr, vellist_free_nop), 1);
    EXPECT_EQ(vellist_count(nullptr), 0u);
    EXPECT_EQ(vellist_do_free(nullptr, 1), 1);
    vellist_do_free(list, 1);
}

TEST(VellistTest, DeletingHeadMiddleAndTailKeepsTheChain) {
    vellist *list = nullptr;
    ASSERT_EQ(vellist_create(&list), 0);
    for (const char *s : {"a", "b", "c"}) vellist_append(list, s);
    vellist_prepend(list, "z");
    EXPECT_EQ(items(list), (std::vector<std::string>{"z", "a", "b", "c"}));
    EXPECT_EQ(vellist_delete(list, "c"), 0);  // the tail: "b" becomes the tail
    vellist_append(list, "d");
    EXPECT_EQ(items(list), (std::vector<std::string>{"z", "a", "b", "d"}));
    EXPECT_EQ(vellist_delete(list, "z"), 0);
    EXPECT_EQ(vellist_delete(list, "b"), 0);
    EXPECT_EQ(items(list), (std::vector<std::string>{"a", "d"}));
    EXPECT_EQ(vellist_count(list), 2u);
    vellist_do_free(list, 1);
}

TEST(VellistTest, DeleteRemovesOnlyTheFirstMatch) {
    vellist *list = nullptr;
    ASSERT_EQ(vellist_create(&list), 0);
    for (const char *s : {"x", "y", "x"}) vellist_append(list, s);
    EXPECT_EQ(vellist_delete(list, "x"), 0);
    EXPECT_EQ(items(list), (std::vector<std::string>{"y", "x"}));
    vellist_do_free(list, 1);
}

TEST(VellistTest, BeheadHandsTheItemToTheCaller) {
    vellist *list = nullptr;
    ASSERT_EQ(vellist_create(&list), 0);
    vellist_append(list, "one");
    void *item = vellist_behead(list);
    EXPECT_STREQ(static_cast<char *>(item), "one");
    EXPECT_EQ(list->tail, nullptr);
    free(item);
    vellist_do_free(list, 1);
}

TEST(VellistTest, ResetWithoutFreeingLeavesTheItemsToTheCaller) {
    vellist *list = nullptr;
    ASSERT_EQ(vellist_create(&list), 0);
    vellist_append(list, "kept");
    void *item = list->head->item;
    EXPECT_EQ(vellist_do_reset(list, 0), 0);
    EXPECT_EQ(list->count, 0u);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_STREQ(static_cast<char *>(item), "kept");  // still alive
    free(item);
    vellist_append(list, "again");  // a reset list is usable
    EXPECT_EQ(items(list), std::vector<std::string>{"again"});
    vellist_do_free(list, 1);
}

TEST(VellistTest, ApplySkipsItemsTheCopyHookTurnedNull) {
    vellist *list = nullptr;
    ASSERT_EQ(vellist_create_with_nop(&list), 0);
    static int calls;
    calls = 0;
    int32_t a = 1, b = 2;
    vellist_append(list, &a);
    vellist_set_copy(list, [](const void *) -> void * { return nullptr; });
    vellist_append(list, &b);
    EXPECT_EQ(list->count, 2u);
    vellist_apply(list, [](void *) { ++calls; });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(vellist_find(list, &b), nullptr);
    vellist_do_free(list, 1);
}

TEST(VellistTest, NopListMatchesByTheFirstFourBytes) {
    vellist *list = nullptr;
    ASSERT_EQ(vellist_create_with_nop(&list), 0);
    int32_t stored = 42, key = 42, other = 43;
    vellist_append(list, &stored);
    EXPECT_EQ(vellist_find(list, &key), &stored);  // same pointer back, found by value
    EXPECT_EQ(vellist_find(list, &other), nullptr);
    EXPECT_EQ(vellist_delete(list, &key), 0);
    EXPECT_EQ(stored, 42);  // never released
    vellist_do_free(list, 1);
}

TEST(VelstackQueueTest, StackReversesAndQueueKeepsOrder) {
    int values[] = {1, 2, 3};
    velstack *stack = nullptr;
    velqueue *queue = nullptr;
    ASSERT_EQ(velstack_create(&stack), 0);
    ASSERT_EQ(velqueue_create(&queue), 0);
    for (int &v : values) {
        velstack_push(stack, &v);
        velqueue_put(queue, &v);
    }
    EXPECT_EQ(velqueue_peek(queue), &values[0]);
    EXPECT_EQ(queue->count, 3u);  // peek does not remove
    for (int i = 2; i >= 0; --i) EXPECT_EQ(velstack_pop(stack), &values[i]);
    EXPECT_EQ(velstack_pop(stack), nullptr);
    int32_t key = 2;
    EXPECT_EQ(velqueue_delete(queue, &key), 0);
    EXPECT_EQ(velqueue_get(queue), &values[0]);
    EXPECT_EQ(velqueue_get(queue), &values[2]);
    EXPECT_EQ(velqueue_get(queue), nullptr);
    EXPECT_EQ(velqueue_peek(nullptr), nullptr);
    EXPECT_EQ(velstack_free(stack), 0);
    EXPECT_EQ(velqueue_free(queue), 0);
}

}  // namespace
