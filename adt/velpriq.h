// A priority queue of borrowed pointers: one queue per priority value, served
// from the lowest value up, items of one priority in the order they were put.
//
// It is a list whose items are velpriq_level records in ascending order of
// priority, one per distinct value; count is the number of levels. A level is
// made on the first put of its priority and stays, even when empty, until
// velpriq_free. The walks go from head through next and never use tail.
#ifndef CRAWLPEEK_ADT_VELPRIQ_H_
#define CRAWLPEEK_ADT_VELPRIQ_H_

#include <cstdint>

#include "adt/velstack_queue.h"

typedef vellist velpriq;

struct velpriq_level {
    velqueue *queue;  // the items of this priority, oldest first
    int32_t priority;
};

// Stores a new priority queue in *out; 0, or 1 (and null) when memory is short.
int velpriq_create(velpriq **out);

// Puts item at the given priority. The result of putting it into the level's
// queue: 0, or 1 for a null item (a new level is made all the same) or when
// memory is short.
int velpriq_put(velpriq *pq, const void *item, int32_t priority);

// The oldest item of the lowest priority that has items, removed; null when
// every level is empty.
void *velpriq_get(velpriq *pq);

// The oldest item of exactly this priority, removed; null when there is no
// such level or it is empty. Never makes a level.
void *velpriq_getpri(velpriq *pq, int32_t priority);

// Releases every level and the priority queue, not the items. 1 for null.
int velpriq_free(velpriq *pq);

#endif  // CRAWLPEEK_ADT_VELPRIQ_H_
