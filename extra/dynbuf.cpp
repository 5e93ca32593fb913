#include "extra/dynbuf.h"

#include <cstdlib>
#include <cstring>

dynbuf *dynbuf_create(int32_t size, int32_t grow_by) {
    auto *buf = static_cast<dynbuf *>(std::calloc(1, sizeof(dynbuf)));
    if (buf == nullptr) return nullptr;
    buf->size = size > 0 ? size : 0;
    buf->grow_by = grow_by;
    if (buf->size > 0) {
        buf->items =
            static_cast<void **>(std::calloc(static_cast<size_t>(buf->size), sizeof(void *)));
        if (buf->items == nullptr) buf->size = 0;
    }
    return buf;
}

int32_t dynbuf_append(dynbuf *buf, void *item) {
    if (buf == nullptr) return 0;
    if (buf->count >= buf->size) {
        const int32_t size = buf->size + (buf->grow_by > 0 ? buf->grow_by : 1);
        auto *items = static_cast<void **>(std::calloc(static_cast<size_t>(size), sizeof(void *)));
        if (items == nullptr) return 0;
        if (buf->count > 0) std::memcpy(items, buf->items, sizeof(void *) * buf->count);
        std::free(buf->items);
        buf->items = items;
        buf->size = size;
    }
    buf->items[buf->count++] = item;
    return buf->count;
}

void *dynbuf_get(dynbuf *buf, int32_t index) {
    if (buf == nullptr || index < 0 || index >= buf->count) return nullptr;
    void *item = buf->items[index];
    std::memmove(buf->items + index, buf->items + index + 1,
                 sizeof(void *) * static_cast<size_t>(buf->count - index - 1));
    buf->items[--buf->count] = nullptr;
    return item;
}

void dynbuf_destroy(dynbuf *buf) {
    if (buf == nullptr) return;
    for (int32_t i = 0; i < buf->count; ++i) {
        if (buf->items[i] == nullptr) continue;
        if (buf->free_item != nullptr) {
            buf->free_item(buf->items[i]);
        } else {
            std::free(buf->items[i]);
        }
    }
    std::free(buf->items);
    std::free(buf);
}
