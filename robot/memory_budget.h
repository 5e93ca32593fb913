// The memory a crawler's store may take: the Berkeley DB cache of its
// environment and the index of URLs' ids (url_id_index.h), each given half.
//
// The budget is ROBOT_MEMORY_BUDGET, a number of bytes, when that is set;
// else a quarter of the machine's physical memory. The cache is taken as
// pages are read into it, so a small crawl uses little of its half; past its
// half the index stops growing and lookups go to the file, slower but right.
#ifndef CRAWLPEEK_ROBOT_MEMORY_BUDGET_H_
#define CRAWLPEEK_ROBOT_MEMORY_BUDGET_H_

#include <cstddef>

// The environment variable that sets the budget.
inline constexpr char kRobotMemoryBudgetVariable[] = "ROBOT_MEMORY_BUDGET";

// The budget in bytes. A value of the variable that is not a whole number of
// bytes is logged and the machine's default taken instead.
size_t robot_memory_budget();

// The Berkeley DB cache of the crawler's environment: half the budget, at
// least 10 MB and at most the machine's memory.
size_t robot_cache_budget();

// The index of URLs' ids: half the budget.
size_t robot_index_budget();

#endif  // CRAWLPEEK_ROBOT_MEMORY_BUDGET_H_
