// A soak check of the start-point marking pass: one chain of CHAIN_PAGES
// pages (default 200000), each linking the next, is crawled into a fresh
// database and marked from its start, and every page of it must be marked,
// however long the chain. Run by hand with bench/chain-soak.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "robot/robot_fixture.h"
#include "robot/vurl_db.h"
#include "robot/vurl_marking.h"
#include "robot/vurl_ops.h"

namespace {

using ChainSoak = RobotTest;

TEST_F(ChainSoak, ALongChainIsMarkedToItsEnd) {
    const char *given = std::getenv("CHAIN_PAGES");
    const int pages = given != nullptr ? std::atoi(given) : 200000;
    open_new_db();
    ASSERT_EQ(visited_url_get_status("p0", nullptr, 1, pages), 1);
    for (int i = 0; i < pages; ++i) {
        Table next = make_links({"p" + std::to_string(i + 1)});
        ASSERT_EQ(visited_url_update_data(("p" + std::to_string(i)).c_str(), 200, 0, nullptr,
                                          nullptr, nullptr, next.get(), nullptr, nullptr),
                  1);
    }
    g_timestamp = kCrawl + 1;
    EXPECT_EQ(ProcessDisabledStartPoint(), 0);
    int unmarked = 0;
    for (int i = 0; i <= pages; ++i) {
        unmarked += record("p" + std::to_string(i))->last_processed != kCrawl + 1;
    }
    EXPECT_EQ(unmarked, 0) << "of " << pages + 1 << " pages";
}

}  // namespace
