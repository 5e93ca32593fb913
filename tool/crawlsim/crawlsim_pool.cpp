// crawlsim's bodies for the URL-pool object hooks.
//
// A URL's pool key is
//
//   <host>|<distance>|<url>     www.site3.test|02|http://www.site3.test/p123.html
//
//   host      the URL's host (and port) as written, between "://" and the
//             path: the key's collection prefix, so that a site's waiting
//             URLs lie together, for an operator reading enumerate.db and
//             for url_pool_first_url with a prefix;
//   distance  the links followed from a starting point to the URL, two
//             digits (kSimStartDepth less the depth countdown, held within
//             00..99): within a host the nearer URLs come first, so a site is
//             crawled breadth first; its first digit is the key digit;
//   url       the URL itself, which makes the key unique.
//
// The fields of an object:
//
//   num_a    the depth countdown: the steps of links still followed below the
//            page (kSimStartDepth at a starting point; at 0 its links are not
//            claimed);
//   num_b    0, num_c 0: not used;
//   text_a   the referer, the URL of the page whose link was claimed; none
//            for a starting point;
//   text_b   none: the simulated pages declare no charset;
//   host_a   the key digit and host_b the host constant, as the pool hands
//            them over when it reads a record; crawlsim reads neither.
#include "tool/crawlsim/crawlsim_pool.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "extra/malloc_ptr.h"
#include "robot/crawler_hooks.h"

namespace {

char *copy(const char *text) {
    if (text == nullptr) return nullptr;
    char *copied = strdup(text);
    if (copied == nullptr) out_of_memory();
    return copied;
}

// The URL's host and port; empty when it has no "://".
std::string_view host_of(std::string_view url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) return {};
    const std::string_view rest = url.substr(scheme + 3);
    return rest.substr(0, rest.find_first_of("/?#"));
}

}  // namespace

url_obj *create_url_obj(const char *url, int32_t num_a, int32_t num_b, int32_t key_digit,
                        int32_t num_c, const char *text_a, const char *text_b,
                        int32_t host_constant) {
    auto *obj = static_cast<url_obj *>(std::calloc(1, sizeof(url_obj)));
    if (obj == nullptr) out_of_memory();
    obj->num_a = num_a;
    obj->num_b = num_b;
    obj->url = copy(url);
    obj->host_a = key_digit;
    obj->num_c = num_c;
    obj->host_b = host_constant;
    obj->text_a = copy(text_a);
    obj->text_b = copy(text_b);
    return obj;
}

char *create_url_obj_key(url_obj *obj) {
    const std::string_view url = obj->url != nullptr ? obj->url : "";
    const int64_t distance = std::clamp<int64_t>(int64_t{kSimStartDepth} - obj->num_a, 0, 99);
    char steps[4];
    std::snprintf(steps, sizeof steps, "%02d", static_cast<int>(distance));
    std::string key(host_of(url));
    key.append("|").append(steps).append("|").append(url);
    return copy(key.c_str());
}

void destroy_url_obj(url_obj *obj) {
    if (obj == nullptr) return;
    for (char *text : {obj->url, obj->text_a, obj->key, obj->text_b}) std::free(text);
    std::free(obj);
}

void DestroyUrlObj::operator()(url_obj *obj) const {
    destroy_url_obj(obj);
}

SimUrl make_sim_url(const char *url, int32_t depth, const char *referer) {
    SimUrl obj(create_url_obj(url, depth, 0, 0, 0, referer, nullptr, 10));
    obj->key = create_url_obj_key(obj.get());
    obj->host_a = url_key_digit(obj->key);
    return obj;
}
