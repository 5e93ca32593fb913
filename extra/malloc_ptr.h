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

// Ends the process with status -1, as every constructor and decoder of the
// crawler's modules does when memory runs out.
[[noreturn]] inline void out_of_memory() {
    std::exit(-1);
}

#endif  // CRAWLPEEK_EXTRA_MALLOC_PTR_H_
