// A stack (last in, first out) and a queue (first in, first out) of borrowed
// pointers, both lists with the nop copy and free hooks: they never copy or
// release their items.
#ifndef CRAWLPEEK_ADT_VELSTACK_QUEUE_H_
#define CRAWLPEEK_ADT_VELSTACK_QUEUE_H_

#include "adt/vellist.h"

typedef vellist velstack;
typedef vellist velqueue;

// Stores a new stack in *out; 0, or 1 (and null) when memory is short.
int velstack_create(velstack **out);
// Pushes item; 1 for a null stack or item.
int velstack_push(velstack *stack, const void *item);
// The most recently pushed item, removed; null when empty.
void *velstack_pop(velstack *stack);
// Releases the stack, not its items. 1 for a null stack.
int velstack_free(velstack *stack);

// Stores a new queue in *out; 0, or 1 (and null) when memory is short. Its
// compare hook matches items by their first four bytes.
int velqueue_create(velqueue **out);
// Appends item; 1 for a null queue or item.
int velqueue_put(velqueue *queue, const void *item);
// The oldest item, removed; null when empty.
void *velqueue_get(velqueue *queue);
// The oldest item, left in place; null for a null or empty queue.
void *velqueue_peek(velqueue *queue);
// Removes the first item whose first four bytes equal the key's. 1 when
// there is none.
int velqueue_delete(velqueue *queue, const void *key);
// Releases the queue, not its items. 1 for a null queue.
int velqueue_free(velqueue *queue);

#endif  // CRAWLPEEK_ADT_VELSTACK_QUEUE_H_
