// crawldb pool: the crawler's frontier seen from outside. The URL pool's
// two banks (enumerate.db: waiting; enumerate_bak.db: taken out and in
// work, what a restore after a crash puts back) are opened directly and
// read-only; the pool's own operations would make missing files.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_POOL_H_
#define CRAWLPEEK_TOOL_CRAWLDB_POOL_H_

#include <cstddef>
#include <optional>
#include <string>

struct PoolOptions {
    std::string home = "robot";             // the robot state directory
    std::optional<std::string> pool_dir;    // the pool's directory, when not home
    bool json = false;
    bool hosts = false;                     // add the counts by host
    size_t host_rows = 20;
    std::optional<std::string> collection;  // list this collection's URLs
};

// Prints the counts per collection (the key's prefix before its '|') in
// each bank, or the URLs of one collection in key order with their stored
// fields. A missing bank counts as empty, with a note. The exit status: 0,
// 1 when the collection asked for holds no URL, 2 on trouble (reported).
int run_pool(const PoolOptions &options);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_POOL_H_
