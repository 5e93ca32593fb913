// A growable array of owned pointers that can take an element out by position.
//
// Elements belong to the array from dynbuf_append until dynbuf_get takes them
// out; dynbuf_destroy disposes of those still held with free_item, or free
// when it is null. Slots from count on are null.
#ifndef CRAWLPEEK_EXTRA_DYNBUF_H_
#define CRAWLPEEK_EXTRA_DYNBUF_H_

#include <cstdint>

struct dynbuf {
    int32_t size;     // slots allocated
    int32_t count;    // elements, in slots 0 .. count - 1
    int32_t grow_by;  // slots added when full
    void **items;
    void (*free_item)(void *);  // set by the owner; null: free
};

// A new array of size slots, or null when it cannot be allocated.
dynbuf *dynbuf_create(int32_t size, int32_t grow_by);

// Appends item and returns the new count. A full array grows by grow_by slots
// (by one when grow_by is below 1). 0, with item still the caller's, when the
// array is null or cannot grow.
int32_t dynbuf_append(dynbuf *buf, void *item);

// Takes out the element at index, moving the later ones down; null when the
// array is null or index is not within 0 .. count - 1.
void *dynbuf_get(dynbuf *buf, int32_t index);

// Disposes of the elements still held, then of the array. Accepts null.
void dynbuf_destroy(dynbuf *buf);

#endif  // CRAWLPEEK_EXTRA_DYNBUF_H_
