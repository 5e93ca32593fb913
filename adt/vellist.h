// A singly linked list of untyped items with copy, free and compare hooks.
//
// Every inserted item is passed through `copy` and the list stores what it
// returns; `free` releases an item removed by delete or reset; `compare(item,
// key)` returns 0 when a stored item matches a key. The default hooks make a
// list of NUL-terminated strings that it owns (strdup, free, strcmp); the nop
// hooks make a list of borrowed pointers.
//
// Invariants: head and tail are both null or both set; count is the number
// of nodes in the chain from head. A stored item is null only when `copy`
// returned null; find, delete and apply skip such nodes.
//
// Status results are 0 for success and 1 for failure. No locking: a list
// belongs to one thread at a time or to a lock of the caller's.
#ifndef CRAWLPEEK_ADT_VELLIST_H_
#define CRAWLPEEK_ADT_VELLIST_H_

#include <cstdint>

typedef void (*vellist_free_fn)(void *item);
typedef int (*vellist_compare_fn)(const void *item, const void *key);
typedef void *(*vellist_copy_fn)(const void *item);

struct vellist_node {
    void *item;
    vellist_node *next;  // null at the tail
};

struct vellist {
    vellist_node *head;
    vellist_node *tail;
    uint32_t count;
    vellist_free_fn free;
    vellist_compare_fn compare;
    vellist_copy_fn copy;
};

// Stores a new list with the string hooks in *out. 1 (and null) when memory
// is short.
int vellist_create(vellist **out);

// Stores a new list with the nop hooks in *out. 1 (and null) when memory is
// short.
int vellist_create_with_nop(vellist **out);

// Replace one hook. 1 for a null list or hook, and nothing changes.
int vellist_set_compare(vellist *list, vellist_compare_fn compare);
int vellist_set_free(vellist *list, vellist_free_fn free_fn);
int vellist_set_copy(vellist *list, vellist_copy_fn copy);

// Stores copy(item) as the new tail (append) or head (prepend). 1 for a null
// list or item, or when no node can be allocated.
int vellist_append(vellist *list, const void *item);
int vellist_prepend(vellist *list, const void *item);

// Removes the head and hands its item to the caller without calling `free`.
// Null for a null or empty list.
void *vellist_behead(vellist *list);

// Removes the first item matching key and releases it with `free`. 1 for a
// null list or key, an empty list, or no match.
int vellist_delete(vellist *list, const void *key);

// The first stored item matching key, or null. The list is unchanged.
void *vellist_find(vellist *list, const void *key);

// Calls fn on every stored item that is not null, from head to tail.
void vellist_apply(vellist *list, void (*fn)(void *item));

// The number of nodes in the chain from head; 0 for a null list.
uint32_t vellist_count(const vellist *list);

// Empties the list, releasing each item with `free` first when free_items is
// nonzero. The list itself stays usable. Returns 0.
int vellist_do_reset(vellist *list, int free_items);

// Resets the list as vellist_do_reset and releases it. 1 for a null list.
int vellist_do_free(vellist *list, int free_items);

// The nop hooks: copy returns its argument, free does nothing, compare
// compares the first four bytes that item and key point at.
void *vellist_copy_nop(const void *item);
void vellist_free_nop(void *item);
int vellist_cmp_nop(const void *item, const void *key);

// The string hooks that vellist_create installs: strdup, free and strcmp.
void *vellist_copy_string(const void *item);
void vellist_free_string(void *item);
int vellist_cmp_string(const void *item, const void *key);

#endif  // CRAWLPEEK_ADT_VELLIST_H_
