// A byte buffer that lives in memory while small and spills to a file.
//
// Filled with velio_append, closed to writing with velio_finish, read back
// with velio_rewind and velio_copy. When the memory block would grow past
// maxmem (0: never) the content moves to a spill file: the owner's
// `filename` when set before, else a new temporary file, which velio_reset
// deletes. In file mode small appends collect in a 4096-byte write-behind
// block; a reader rewinds or finishes first so that they reach the file.
//
// Invariants: in memory mode membuf holds length bytes and a NUL after them,
// unless a growth failed: then membuf is null, the content is gone, and every
// append, spill and duplication fails until velio_reset. The memory content
// or the file always holds every byte appended, except those waiting in wbuf.
// A spill that cannot write the file leaves the buffer in memory mode with
// all its content. A spill, or the first file append after a reset, starts
// the file empty. One thread at a time. Reports go to the module log.
#ifndef CRAWLPEEK_ADT_VELIO_H_
#define CRAWLPEEK_ADT_VELIO_H_

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t kVelioMemory = 1;
inline constexpr uint32_t kVelioFile = 16;

struct velio {
    uint32_t mode;  // kVelioMemory, kVelioFile, or both (after velio_dup2file)
    char *membuf;
    uint32_t length;     // bytes appended
    uint32_t readpos;    // next byte velio_copy delivers
    uint32_t memsize;    // allocated size of membuf
    uint32_t maxmem;     // spill limit, set by the owner; 0: none
    uint32_t increment;  // least growth of membuf
    char *filename;      // spill file; malloc'd
    int32_t fd;          // -1 when not open
    int32_t is_temp;     // 1: made by the buffer, deleted by velio_reset
    char *wbuf;          // write-behind block
    uint32_t wlen;
    int32_t closed;  // 1: closed to writing
};

// A new empty buffer in memory mode, in *out (null when memory is short).
void velio_create(velio **out);

// Appends n bytes: n, or 0 when nothing could be stored (closed, no file,
// memory lost); length counts the bytes in any case but the first two and
// the last. An append that would make length pass 2^32 - 2 bytes, or of more
// than 2^31 - 1 bytes, is refused whole (logged) and not counted. A null
// data flushes the write-behind block and returns 0.
int32_t velio_append(velio *v, const void *data, uint32_t n);

// Reallocates the memory block as std::realloc does. A test puts an allocator
// here that fails, to see how the buffer takes a growth that fails.
extern void *(*velio_realloc)(void *block, size_t size);

// Grows the memory block by need bytes at least (increment at least), or
// spills when that would pass maxmem. Nothing in file mode, nor once a
// growth has failed.
void velio_increase(velio *v, uint32_t need);

// Flushes, closes the file and refuses further appends. 0.
int32_t velio_finish(velio *v);

// Closes the spill file's descriptor; the file stays. 0.
int32_t velio_releasefd(velio *v);

// Flushes when still open for writing and starts reading from byte 0.
// Accepts null. Returns v.
velio *velio_rewind(velio *v);

// Copies up to n of the next bytes into dest: the count, 0 at the end, -1
// when the file cannot be read.
int32_t velio_copy(velio *v, void *dest, uint32_t n);

// Moves the memory content into the spill file. Only in memory mode.
void velio_convert2file(velio *v);

// Writes the memory content to the spill file as well, keeping the memory
// copy, and closes the buffer to writing. Only in memory mode.
void velio_dup2file(velio *v);

// Empties the buffer: memory freed, file closed (deleted when temporary),
// open for writing; mode, maxmem and increment stay. Accepts null.
velio *velio_reset(velio *v);

// velio_reset, then frees the record. Accepts null.
void velio_destroy(velio *v);

#endif  // CRAWLPEEK_ADT_VELIO_H_
