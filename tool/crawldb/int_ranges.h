// Sets of integers written as lists of numbers and ranges, as "404,500-599".
#ifndef CRAWLPEEK_TOOL_CRAWLDB_INT_RANGES_H_
#define CRAWLPEEK_TOOL_CRAWLDB_INT_RANGES_H_

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

class IntRanges {
  public:
    // Reads a comma-separated list of items, each a number or two numbers
    // joined by '-' (first not above second). A number may have a leading
    // '-'. False, with the set unchanged, for anything else (an empty list
    // or item, spaces, a number past 32 bits).
    bool parse(std::string_view text);

    bool contains(int64_t value) const;

  private:
    std::vector<std::pair<int64_t, int64_t>> ranges_;
};

#endif  // CRAWLPEEK_TOOL_CRAWLDB_INT_RANGES_H_
