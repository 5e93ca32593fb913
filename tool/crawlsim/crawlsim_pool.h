// crawlsim's URLs in the crawler's URL pool: the object hooks that the pool
// makes its objects with, and the object of a URL crawlsim claims.
#ifndef CRAWLPEEK_TOOL_CRAWLSIM_CRAWLSIM_POOL_H_
#define CRAWLPEEK_TOOL_CRAWLSIM_CRAWLSIM_POOL_H_

#include <cstdint>
#include <memory>

#include "robot/url_record.h"

// The depth countdown of a starting point: the crawl follows links this many
// steps from it.
inline constexpr int32_t kSimStartDepth = 16;

struct DestroyUrlObj {
    void operator()(url_obj *obj) const;
};
using SimUrl = std::unique_ptr<url_obj, DestroyUrlObj>;

// The pool object of url, claimed with the depth countdown depth on the page
// referer (null for a starting point), its key made.
SimUrl make_sim_url(const char *url, int32_t depth, const char *referer);

#endif  // CRAWLPEEK_TOOL_CRAWLSIM_CRAWLSIM_POOL_H_
