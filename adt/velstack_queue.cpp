#include "adt/velstack_queue.h"

int velstack_create(velstack **out) {
    if (vellist_create(out) != 0) return 1;
    vellist_set_copy(*out, vellist_copy_nop);
    vellist_set_free(*out, vellist_free_nop);
    return 0;
}

int velstack_push(velstack *stack, const void *item) {
    return vellist_prepend(stack, item);
}

void *velstack_pop(velstack *stack) {
    return vellist_behead(stack);
}

int velstack_free(velstack *stack) {
    return vellist_do_free(stack, 1);
}

int velqueue_create(velqueue **out) {
    return vellist_create_with_nop(out);
}

int velqueue_put(velqueue *queue, const void *item) {
    return vellist_append(queue, item);
}

void *velqueue_get(velqueue *queue) {
    return vellist_behead(queue);
}

void *velqueue_peek(velqueue *queue) {
    if (queue == nullptr || queue->head == nullptr) return nullptr;
    return queue->head->item;
}

int velqueue_delete(velqueue *queue, const void *key) {
    return vellist_delete(queue, key);
}

int velqueue_free(velqueue *queue) {
    return vellist_do_free(queue, 1);
}
