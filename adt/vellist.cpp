#include "adt/vellist.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "log/log.h"

namespace {

bool matches(const vellist *list, const vellist_node *node, const void *key) {
    return node->item != nullptr && list->compare(node->item, key) == 0;
}

int create_with(vellist **out, vellist_free_fn free_fn, vellist_compare_fn compare,
                vellist_copy_fn copy) {
    vellist *list = new (std::nothrow) vellist{nullptr, nullptr, 0, free_fn, compare, copy};
    *out = list;
    return list == nullptr ? 1 : 0;
}

vellist_node *new_node(vellist *list, const void *item) {
    return new (std::nothrow) vellist_node{list->copy(item), nullptr};
}

}  // namespace

int vellist_create(vellist **out) {
    return create_with(out, vellist_free_string, vellist_cmp_string, vellist_copy_string);
}

int vellist_create_with_nop(vellist **out) {
    return create_with(out, vellist_free_nop, vellist_cmp_nop, vellist_copy_nop);
}

int vellist_set_compare(vellist *list, vellist_compare_fn compare) {
    if (list == nullptr || compare == nullptr) return 1;
    list->compare = compare;
    return 0;
}

int vellist_set_free(vellist *list, vellist_free_fn free_fn) {
    if (list == nullptr || free_fn == nullptr) return 1;
    list->free = free_fn;
    return 0;
}

int vellist_set_copy(vellist *list, vellist_copy_fn copy) {
    if (list == nullptr || copy == nullptr) return 1;
    list->copy = copy;
    return 0;
}

int vellist_append(vellist *list, const void *item) {
    if (list == nullptr || item == nullptr) return 1;
    vellist_node *node = new_node(list, item);
    if (node == nullptr) return 1;
    if (list->tail == nullptr) {
        list->head = node;
    } else {
        list->tail->next = node;
    }
    list->tail = node;
    ++list->count;
    return 0;
}

int vellist_prepend(vellist *list, const void *item) {
    if (list == nullptr || item == nullptr) return 1;
    vellist_node *node = new_node(list, item);
    if (node == nullptr) return 1;
    node->next = list->head;
    if (list->head == nullptr) list->tail = node;
    list->head = node;
    ++list->count;
    return 0;
}

void *vellist_behead(vellist *list) {
    if (list == nullptr || list->head == nullptr) return nullptr;
    vellist_node *node = list->head;
    list->head = node->next;
    if (list->head == nullptr) list->tail = nullptr;
    void *item = node->item;
    delete node;
    --list->count;
    return item;
}

int vellist_delete(vellist *list, const void *key) {
    if (list == nullptr || key == nullptr || list->head == nullptr) return 1;
    vellist_node *prev = nullptr;
    vellist_node *node = list->head;
    while (node != nullptr && !matches(list, node, key)) {
        prev = node;
        node = node->next;
    }
    if (node == nullptr) return 1;
    if (prev != nullptr) prev->next = node->next;
    if (node == list->head) list->head = node->next;
    if (node == list->tail) list->tail = prev;
    list->free(node->item);
    delete node;
    --list->count;
    return 0;
}

void *vellist_find(vellist *list, const void *key) {
    if (list == nullptr || key == nullptr) return nullptr;
    for (vellist_node *node = list->head; node != nullptr; node = node->next) {
        if (matches(list, node, key)) return node->item;
    }
    return nullptr;
}

void vellist_apply(vellist *list, void (*fn)(void *item)) {
    if (list == nullptr || fn == nullptr) return;
    for (vellist_node *node = list->head; node != nullptr; node = node->next) {
        if (node->item != nullptr) fn(node->item);
    }
}

uint32_t vellist_count(const vellist *list) {
    if (list == nullptr) return 0;
    uint32_t n = 0;
    for (const vellist_node *node = list->head; node != nullptr; node = node->next) ++n;
    return n;
}

int vellist_do_reset(vellist *list, int free_items) {
    vellist_node *node = list->head;
    while (node != nullptr && list->count > 0) {
        vellist_node *next = node->next;
        if (free_items && node->item != nullptr) list->free(node->item);
        delete node;
        --list->count;
        node = next;
    }
    if (list->count > 0) {
        vellog_write(1, 2, "adt", 218, "Unknown %d items on linked list?\n",
                     static_cast<int>(list->count));
    }
    list->head = nullptr;
    list->tail = nullptr;
    list->count = 0;
    return 0;
}

int vellist_do_free(vellist *list, int free_items) {
    if (list == nullptr) return 1;
    vellist_do_reset(list, free_items);
    delete list;
    return 0;
}

void *vellist_copy_nop(const void *item) {
    return const_cast<void *>(item);
}

void vellist_free_nop(void *) {}

int vellist_cmp_nop(const void *item, const void *key) {
    return std::memcmp(item, key, 4);
}

void *vellist_copy_string(const void *item) {
    return strdup(static_cast<const char *>(item));
}

void vellist_free_string(void *item) {
    std::free(item);
}

int vellist_cmp_string(const void *item, const void *key) {
    return std::strcmp(static_cast<const char *>(item), static_cast<const char *>(key));
}
