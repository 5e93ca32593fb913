// A visited-URL database opened for writing in the shared test home, and
// ways to look at what it stores.
#ifndef CRAWLPEEK_TESTS_ROBOT_VURL_FIXTURE_H_
#define CRAWLPEEK_TESTS_ROBOT_VURL_FIXTURE_H_

#include <memory>
#include <string>
#include <vector>

#include "adt/velhashtable.h"
#include "robot/robot_home.h"
#include "robot/vurl_record.h"

using Record = VisitedUrlPtr;

struct FreeTable {
    void operator()(velhashtable *table) const { velhashtable_free(table); }
};
using Table = std::unique_ptr<velhashtable, FreeTable>;

// A links table holding urls, in this order.
Table make_links(const std::vector<std::string> &urls);
// The entries of a table in its walking order.
std::vector<std::string> table_entries(velhashtable *table);

class VurlDbTest : public RobotHomeTest {
  protected:
    // Opens a new database (crawl start now) and sets the crawl stamp to kCrawl.
    void SetUp() override;

    static constexpr int32_t kCrawl = 1700000000;

    // url's stored value; empty when it has none.
    std::string stored(const std::string &url);
    // url's id in vid.db; 0 when it has none.
    uint32_t id_of(const std::string &url);
    // url's record with ids resolved; null when it has none.
    Record record(const std::string &url);
    // Claims url the way the crawler does (a new record is a starting point),
    // then stores its fetched data with these links.
    void add_page(const std::string &url, const std::vector<std::string> &links,
                  const char *md5 = "0123456789abcdef0123456789abcdef");
};

#endif  // CRAWLPEEK_TESTS_ROBOT_VURL_FIXTURE_H_
