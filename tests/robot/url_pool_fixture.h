// URL-pool objects and a pool registered in a scratch directory.
#ifndef CRAWLPEEK_TESTS_ROBOT_URL_POOL_FIXTURE_H_
#define CRAWLPEEK_TESTS_ROBOT_URL_POOL_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "robot/url_pool.h"
#include "support/scratch_dir.h"

struct DestroyUrlObj {
    void operator()(url_obj *obj) const;
};
using UrlObj = std::unique_ptr<url_obj, DestroyUrlObj>;

// An object as the host would make it, with its key.
UrlObj make_url(const std::string &key, const std::string &url, const char *text_a = nullptr,
                const char *text_b = nullptr);

class UrlPoolTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    url_pool *pool_ = nullptr;
    ScratchDir dir_;
};

#endif  // CRAWLPEEK_TESTS_ROBOT_URL_POOL_FIXTURE_H_
