#include "adt/velpriq.h"

#include <new>

namespace {

velpriq_level *level_of(const vellist_node *node) {
    return static_cast<velpriq_level *>(node->item);
}

// Links a new level for priority after prev (at the head when prev is null).
velpriq_level *insert_level(velpriq *pq, vellist_node *prev, int32_t priority) {
    velpriq_level *level = new (std::nothrow) velpriq_level{nullptr, priority};
    if (level == nullptr) return nullptr;
    vellist_node *node = new (std::nothrow) vellist_node{level, nullptr};
    if (node == nullptr || velqueue_create(&level->queue) != 0) {
        delete node;
        delete level;
        return nullptr;
    }
    if (prev == nullptr) {
        node->next = pq->head;
        pq->head = node;
    } else {
        node->next = prev->next;
        prev->next = node;
    }
    if (pq->tail == nullptr || prev == pq->tail) pq->tail = node;
    ++pq->count;
    return level;
}

}  // namespace

int velpriq_create(velpriq **out) {
    return vellist_create(out);
}

int velpriq_put(velpriq *pq, const void *item, int32_t priority) {
    vellist_node *prev = nullptr;
    for (vellist_node *node = pq->head; node != nullptr; node = node->next) {
        velpriq_level *level = level_of(node);
        if (level->priority == priority) return velqueue_put(level->queue, item);
        if (level->priority > priority) break;
        prev = node;
    }
    velpriq_level *level = insert_level(pq, prev, priority);
    if (level == nullptr) return 1;
    return velqueue_put(level->queue, item);
}

void *velpriq_get(velpriq *pq) {
    if (pq == nullptr) return nullptr;
    for (vellist_node *node = pq->head; node != nullptr; node = node->next) {
        void *item = velqueue_get(level_of(node)->queue);
        if (item != nullptr) return item;
    }
    return nullptr;
}

void *velpriq_getpri(velpriq *pq, int32_t priority) {
    if (pq == nullptr) return nullptr;
    for (vellist_node *node = pq->head; node != nullptr; node = node->next) {
        velpriq_level *level = level_of(node);
        if (level->priority == priority) return velqueue_get(level->queue);
    }
    return nullptr;
}

int velpriq_free(velpriq *pq) {
    if (pq == nullptr) return 1;
    for (vellist_node *node = pq->head; node != nullptr; node = node->next) {
        velpriq_level *level = level_of(node);
        velqueue_free(level->queue);
        delete level;
    }
    return vellist_do_free(pq, 0);
}
