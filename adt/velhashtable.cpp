#include "adt/velhashtable.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr int32_t kDefaultBuckets = 7;
constexpr uint32_t kGoldenRatio = 0x9E3779B9u;

vellist *bucket_for(const velhashtable *table, uint32_t hv) {
    return table->buckets[hv % table->size];
}

vellist *bucket_of(const velhashtable *table, const void *key) {
    return bucket_for(table, table->hash(key));
}

template <typename Hook, typename Setter>
int set_hook(velhashtable *table, Hook hook, Hook velhashtable::*field, Setter set_on_bucket) {
    if (table == nullptr || hook == nullptr) return 1;
    table->*field = hook;
    for (uint32_t i = 0; i < table->size; ++i) {
        if (table->buckets[i] != nullptr) set_on_bucket(table->buckets[i], hook);
    }
    return 0;
}

}  // namespace

int velhashtable_create(int32_t n, velhashtable **out) {
    velhashtable *table = new (std::nothrow) velhashtable{};
    *out = table;
    if (table == nullptr) return 1;
    table->size = static_cast<uint32_t>(n < 1 ? kDefaultBuckets : n);
    table->buckets = new (std::nothrow) vellist *[table->size];
    if (table->buckets == nullptr) {
        delete table;
        *out = nullptr;
        return 1;
    }
    for (uint32_t i = 0; i < table->size; ++i) {
        if (vellist_create(&table->buckets[i]) != 0) table->buckets[i] = nullptr;
    }
    table->count = 0;
    velhashtable_set_hash(table, velhashtable_hf_default);
    velhashtable_set_free(table, vellist_free_string);
    velhashtable_set_copy(table, vellist_copy_string);
    velhashtable_set_compare(table, vellist_cmp_string);
    return 0;
}

int velhashtable_set_hash(velhashtable *table, velhashtable_hash_fn hash) {
    if (table == nullptr || hash == nullptr) return 1;
    table->hash = hash;
    return 0;
}

int velhashtable_set_copy(velhashtable *table, vellist_copy_fn copy) {
    return set_hook(table, copy, &velhashtable::copy, vellist_set_copy);
}

int velhashtable_set_compare(velhashtable *table, vellist_compare_fn compare) {
    return set_hook(table, compare, &velhashtable::compare, vellist_set_compare);
}

int velhashtable_set_free(velhashtable *table, vellist_free_fn free_fn) {
    return set_hook(table, free_fn, &velhashtable::free, vellist_set_free);
}

int velhashtable_insert(velhashtable *table, const void *key, const void *item) {
    if (vellist_append(bucket_of(table, key), item) != 0) return 1;
    ++table->count;
    return 0;
}

int velhashtable_insert_unique(velhashtable *table, const void *key, const void *item) {
    vellist *bucket = bucket_of(table, key);
    if (item != nullptr && vellist_find(bucket, item) != nullptr) return -1;
    if (vellist_append(bucket, item) != 0) return 1;
    ++table->count;
    return 0;
}

int velhashtable_delete(velhashtable *table, const void *key) {
    if (vellist_delete(bucket_of(table, key), key) != 0) return 1;
    --table->count;
    return 0;
}

void *velhashtable_find(velhashtable *table, const void *key) {
    return vellist_find(bucket_of(table, key), key);
}

void *velhashtable_findhv(velhashtable *table, const void *key, uint32_t hv) {
    return vellist_find(bucket_for(table, hv), key);
}

void *velhashtable_iterate(velhashtable *table, const void *key, const void *prev) {
    uint32_t start = key == nullptr ? 0 : table->hash(key) % table->size;
    bool may_return = key == nullptr || prev == nullptr;
    for (uint32_t i = start; i < table->size; ++i) {
        if (table->buckets[i] == nullptr) continue;
        for (vellist_node *node = table->buckets[i]->head; node != nullptr; node = node->next) {
            if (may_return && node->item != nullptr) return node->item;
            if (node->item == prev) may_return = true;
        }
    }
    return nullptr;
}

int velhashtable_free(velhashtable *table) {
    for (uint32_t i = 0; i < table->size; ++i) vellist_do_free(table->buckets[i], 1);
    delete[] table->buckets;
    delete table;
    return 0;
}

uint32_t velhashtable_hf_default(const void *key) {
    if (key == nullptr) return 0;
    const char *s = static_cast<const char *>(key);
    const size_t n = std::strlen(s);
    uint32_t h = 0;
    for (size_t i = 0; i < n; ++i) {
        // Each byte is taken as signed and widened with its sign.
        const uint32_t c =
            static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(s[i])));
        h = h ^ (h << 8) ^ (h >> 8) ^ c;
    }
    return h ^ (static_cast<uint32_t>(n) * kGoldenRatio);
}

void velhashtable_stats(const velhashtable *table, velhashtable_stat *stat) {
    stat->items = table->count;
    stat->bucket_count = table->size;
    stat->longest = 0;
    stat->total = 0;
    double squares = 0.0;
    for (uint32_t i = 0; i < table->size; ++i) {
        const vellist *bucket = table->buckets[i];
        if (bucket == nullptr || bucket->count == 0) continue;
        const uint32_t c = bucket->count;
        if (c > stat->longest) stat->longest = c;
        squares += static_cast<double>(c) * c;
        stat->total += c;
    }
    const double size = table->size;
    const double total = stat->total;
    stat->mean = total / size;
    stat->spread = 0.0;
    if (table->size > 1) {
        const double variance = (size * squares - total * total) / (size * (size - 1));
        stat->spread = variance > 0.0 ? std::sqrt(variance) : 0.0;
    }
}
