#include "adt/velio.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "extra/files.h"
#include "log/log.h"

namespace {

constexpr char kSource[] = "adt";
constexpr int32_t kWarning = 2;
constexpr int32_t kError = 3;
constexpr uint32_t kWriteBehind = 4096;
constexpr uint32_t kIncrement = 4096;

bool in_memory(const velio *v) {
    return (v->mode & kVelioFile) == 0;
}

// A growth failed and took the memory block with it. A new block would hold
// no content but what came after, so until the reset none is made, and no
// append or spill succeeds.
bool memory_lost(const velio *v) {
    return in_memory(v) && v->membuf == nullptr && (v->length != 0 || v->memsize != 0);
}

void flush_write_behind(velio *v) {
    if (v->wbuf == nullptr) return;
    // Write errors here are not reported; the bytes are dropped with the block.
    if (v->fd >= 0 && v->wlen > 0) write_all(v->fd, v->wbuf, v->wlen);
    std::free(v->wbuf);
    v->wbuf = nullptr;
    v->wlen = 0;
}

// Every write goes to the end of the file, wherever a read left the
// descriptor.
constexpr int kOpenFlags = O_RDWR | O_APPEND;

// Opens the spill file for writing, naming a temporary one first when the
// owner named none. A spill, or the first append after a reset, starts the
// file afresh; a file that already holds the content (its descriptor
// released) is reopened as it is. False (reported) when it cannot.
bool open_spill_file(velio *v) {
    if (v->fd >= 0) return true;
    if (v->filename == nullptr) {
        v->filename = vel_tempnam("velio");
        if (v->filename == nullptr) {
            vellog_write(1, kError, kSource, __LINE__, "Cannot create temporary file?\n");
            return false;
        }
        v->is_temp = 1;
    }
    const bool afresh = in_memory(v) || v->length == 0;
    v->fd = open(v->filename, kOpenFlags | (afresh ? O_CREAT | O_TRUNC : 0), 0666);
    if (v->fd < 0) {
        vellog_write(1, kError, kSource, __LINE__, "velio_append: %s: %s\n", v->filename,
                     std::strerror(errno));
        return false;
    }
    return true;
}

// Writes the memory content into the spill file, leaving the descriptor
// open. On failure the file is given up and the memory content is intact.
bool write_memory_to_file(velio *v) {
    if (memory_lost(v) || !open_spill_file(v)) return false;
    if (v->length == 0 || write_all(v->fd, v->membuf, v->length) == 0) return true;
    close(v->fd);
    v->fd = -1;
    return false;
}

// Moves the content to the file; false, with nothing changed, when the file
// cannot take it.
bool spill(velio *v) {
    if (v->mode != kVelioMemory || !write_memory_to_file(v)) return false;
    std::free(v->membuf);
    v->membuf = nullptr;
    v->memsize = 0;
    v->mode = kVelioFile;
    return true;
}

int32_t append_to_file(velio *v, const void *data, uint32_t n) {
    if (!open_spill_file(v)) return -1;
    if (n >= kWriteBehind - v->wlen) flush_write_behind(v);
    if (n < kWriteBehind - v->wlen) {
        if (v->wbuf == nullptr) v->wbuf = static_cast<char *>(std::malloc(kWriteBehind));
        if (v->wbuf != nullptr) {
            std::memcpy(v->wbuf + v->wlen, data, n);
            v->wlen += n;
            return static_cast<int32_t>(n);
        }
    }
    return write_all(v->fd, data, n) == 0 ? static_cast<int32_t>(n) : 0;
}

void *realloc_block(void *block, size_t size) {
    return std::realloc(block, size);
}

}  // namespace

void *(*velio_realloc)(void *, size_t) = realloc_block;

void velio_create(velio **out) {
    auto *v = static_cast<velio *>(std::calloc(1, sizeof(velio)));
    if (v != nullptr) {
        v->mode = kVelioMemory;
        v->increment = kIncrement;
        v->fd = -1;
    }
    *out = v;
}

int32_t velio_append(velio *v, const void *data, uint32_t n) {
    if (v->closed != 0) {
        vellog_write(1, kWarning, kSource, __LINE__,
                     "VELIO Buffer was already closed to writing?\n");
        return 0;
    }
    if (data == nullptr) {
        if ((v->mode & kVelioFile) != 0) flush_write_behind(v);
        return 0;
    }
    if (n == 0) return 0;
    // length, and the memory block with its NUL, are counted in 32 bits; an
    // append that would pass them is refused whole, rather than wrap the
    // sizes and copy past the block. The result is a signed count too.
    if (n > INT32_MAX || uint64_t{v->length} + n + 1 > UINT32_MAX) {
        vellog_write(1, kWarning, kSource, __LINE__,
                     "VELIO Buffer cannot hold %u more bytes after %u\n", n, v->length);
        return 0;
    }
    int32_t result = 0;
    if (in_memory(v) && v->length + n + 1 > v->memsize) {
        velio_increase(v, v->length + n + 1 - v->memsize);
    }
    if (in_memory(v)) {
        if (v->membuf != nullptr) {
            std::memcpy(v->membuf + v->length, data, n);
            v->membuf[v->length + n] = '\0';
            result = static_cast<int32_t>(n);
        }
    } else {
        result = append_to_file(v, data, n);
        if (result < 0) return 0;  // nothing stored, and not counted
    }
    v->length += n;
    return result;
}

void velio_increase(velio *v, uint32_t need) {
    if (!in_memory(v) || memory_lost(v)) return;
    const uint32_t size = static_cast<uint32_t>(std::min<uint64_t>(
        uint64_t{v->memsize} + std::max(need, v->increment), UINT32_MAX));
    // A spill that fails keeps the content in memory, past the limit.
    if (v->maxmem != 0 && size > v->maxmem && spill(v)) return;
    v->memsize = size;
    char *grown = static_cast<char *>(velio_realloc(v->membuf, size));
    // Out of memory: the block goes, and appends report 0 until the reset.
    if (grown == nullptr) std::free(v->membuf);
    v->membuf = grown;
}

int32_t velio_finish(velio *v) {
    if (v->closed != 0) return 0;
    flush_write_behind(v);
    if (v->fd >= 0) close(v->fd);
    v->fd = -1;
    v->closed = 1;
    return 0;
}

int32_t velio_releasefd(velio *v) {
    if ((v->mode & kVelioFile) == 0 || v->fd < 0) return 0;
    // The waiting bytes go to the file first: without a descriptor they
    // could not be flushed later.
    flush_write_behind(v);
    close(v->fd);
    v->fd = -1;
    return 0;
}

velio *velio_rewind(velio *v) {
    if (v == nullptr) return nullptr;
    if (v->closed == 0) flush_write_behind(v);
    v->readpos = 0;
    return v;
}

int32_t velio_copy(velio *v, void *dest, uint32_t n) {
    uint32_t count = n < v->length - v->readpos ? n : v->length - v->readpos;
    if ((v->mode & kVelioMemory) != 0) {
        if (v->membuf == nullptr) return 0;
        std::memcpy(dest, v->membuf + v->readpos, count);
        v->readpos += count;
        return static_cast<int32_t>(count);
    }
    if (v->fd < 0) {
        v->fd = v->filename != nullptr ? open(v->filename, kOpenFlags) : -1;
        if (v->fd < 0) return 0;
    }
    if (lseek(v->fd, static_cast<off_t>(v->readpos), SEEK_SET) < 0) return -1;
    const ssize_t got = read(v->fd, dest, count);
    if (got < 0) return -1;
    v->readpos += static_cast<uint32_t>(got);
    return static_cast<int32_t>(got);
}

void velio_convert2file(velio *v) {
    spill(v);
}

void velio_dup2file(velio *v) {
    if (v->mode != kVelioMemory) return;
    velio_finish(v);
    if (write_memory_to_file(v)) v->mode = kVelioMemory | kVelioFile;
}

velio *velio_reset(velio *v) {
    if (v == nullptr) return nullptr;
    std::free(v->membuf);
    v->membuf = nullptr;
    v->memsize = 0;
    if (v->fd >= 0) close(v->fd);
    v->fd = -1;
    if (v->is_temp != 0 && v->filename != nullptr) unlink(v->filename);
    std::free(v->filename);
    v->filename = nullptr;
    v->is_temp = 0;
    std::free(v->wbuf);
    v->wbuf = nullptr;
    v->wlen = 0;
    v->length = 0;
    v->readpos = 0;
    v->closed = 0;
    // The memory copy of a duplicated buffer is gone: it goes on as a file.
    if (v->mode == (kVelioMemory | kVelioFile)) v->mode = kVelioFile;
    return v;
}

void velio_destroy(velio *v) {
    if (v == nullptr) return;
    velio_reset(v);
    std::free(v);
}
