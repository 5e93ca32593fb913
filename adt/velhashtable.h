// A chained hash table of untyped items with a fixed number of buckets.
//
// Each bucket is a vellist; the table's copy, compare and free hooks are also
// every bucket's. An item is inserted under a key, which selects the bucket
// (hash(key) modulo size) and is not stored; a later find or delete with a key
// that leads to the same bucket matches items with compare(item, key). The
// default hooks make a set of owned NUL-terminated strings in which every
// item is its own key.
//
// No locking: a table belongs to one thread at a time or to a lock of the
// caller's.
#ifndef CRAWLPEEK_ADT_VELHASHTABLE_H_
#define CRAWLPEEK_ADT_VELHASHTABLE_H_

#include <cstdint>

#include "adt/vellist.h"

typedef uint32_t (*velhashtable_hash_fn)(const void *key);

struct velhashtable {
    vellist **buckets;  // size lists; a slot is null when its list could not be made
    uint32_t size;      // at least 1, fixed at creation
    uint32_t count;     // items, kept by insert, insert-unique and delete
    velhashtable_hash_fn hash;
    vellist_copy_fn copy;
    vellist_compare_fn compare;
    vellist_free_fn free;
};

struct velhashtable_stat {
    uint32_t items;         // the table's count
    uint32_t bucket_count;  // the table's size
    uint32_t longest;       // nodes in the longest bucket
    uint32_t total;         // nodes in all buckets
    double mean;            // total / bucket_count
    double spread;          // standard deviation of the bucket lengths (0.0 for one bucket)
};

// Stores a new table of n buckets (7 when n is below 1) with the string hooks
// in *out. 1 (and null) when memory is short.
int velhashtable_create(int32_t n, velhashtable **out);

// Replace the hash function or a hook, on the table and every bucket. 1 for a
// null table or function.
int velhashtable_set_hash(velhashtable *table, velhashtable_hash_fn hash);
int velhashtable_set_copy(velhashtable *table, vellist_copy_fn copy);
int velhashtable_set_compare(velhashtable *table, vellist_compare_fn compare);
int velhashtable_set_free(velhashtable *table, vellist_free_fn free_fn);

// Stores copy(item) at the tail of key's bucket, duplicates included. 1 for a
// null item or a missing bucket list.
int velhashtable_insert(velhashtable *table, const void *key, const void *item);

// As insert, but -1 (and nothing stored) when key's bucket already holds an
// item matching the new item.
int velhashtable_insert_unique(velhashtable *table, const void *key, const void *item);

// Removes and releases the first item of key's bucket that matches key. 1 when
// there is none.
int velhashtable_delete(velhashtable *table, const void *key);

// The first item of key's bucket that matches key, or null.
void *velhashtable_find(velhashtable *table, const void *key);

// As find, for a key already hashed to hv.
void *velhashtable_findhv(velhashtable *table, const void *key, uint32_t hv);

// Walks the items: buckets in index order, each from head to tail. The first
// item comes from velhashtable_iterate(table, null, null); each next one from
// velhashtable_iterate(table, item, item) with the item last returned. Null at
// the end, and when the previous item is no longer in the table.
void *velhashtable_iterate(velhashtable *table, const void *key, const void *prev);

// Releases every item (free hook), every bucket and the table. Returns 0.
int velhashtable_free(velhashtable *table);

// The default hash of a NUL-terminated string; 0 for null.
uint32_t velhashtable_hf_default(const void *key);

// Fills stat with the table's counts and the distribution of bucket lengths.
void velhashtable_stats(const velhashtable *table, velhashtable_stat *stat);

#endif  // CRAWLPEEK_ADT_VELHASHTABLE_H_
