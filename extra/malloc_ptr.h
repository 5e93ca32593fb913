// Ownership of memory from malloc, for the interfaces that hand such blocks
// to their callers.
#ifndef CRAWLPEEK_EXTRA_MALLOC_PTR_H_
#define CRAWLPEEK_EXTRA_MALLOC_PTR_H_

#include <cstdlib>
#include <memory>

struct FreeMalloced {
    void operator()(void *block) const { std::free(block); }
};

// Frees its block with free() when it goes.
template <typename T>
using MallocPtr = std::unique_ptr<T, FreeMalloced>;

#endif  // CRAWLPEEK_EXTRA_MALLOC_PTR_H_
