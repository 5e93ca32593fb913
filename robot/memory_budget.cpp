#include "robot/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "log/objlog.h"

namespace {

constexpr size_t kMinimumCache = 10 << 20;
constexpr size_t kFallbackMemory = size_t{1} << 30;

size_t machine_memory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return kFallbackMemory;
    return static_cast<size_t>(pages) * static_cast<size_t>(page_size);
}

size_t machine_default() {
    return machine_memory() / 4;
}

}  // namespace

size_t robot_memory_budget() {
    const char *text = std::getenv(kRobotMemoryBudgetVariable);
    if (text == nullptr) return machine_default();
    size_t budget = 0;
    const char *end = text + std::strlen(text);
    const std::from_chars_result parsed = std::from_chars(text, end, budget);
    if (parsed.ec == std::errc() && parsed.ptr == end && end != text) return budget;
    rlog_write(0, 3, "robot_db", __LINE__, "%s=%s is not a number of bytes; ignored\n",
               kRobotMemoryBudgetVariable, text);
    return machine_default();
}

size_t robot_cache_budget() {
    return std::clamp(robot_memory_budget() / 2, kMinimumCache,
                      std::max(kMinimumCache, machine_memory()));
}

size_t robot_index_budget() {
    return robot_memory_budget() / 2;
}
