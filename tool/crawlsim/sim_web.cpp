#include "tool/crawlsim/sim_web.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace {

constexpr uint32_t kMaxAge = 90 * 86400;
constexpr uint64_t kStartingPoints = 3;

uint64_t splitmix64(uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

}  // namespace

SimWeb::SimWeb(uint64_t universe, uint32_t links_per_page, uint32_t hosts, uint64_t seed)
    : universe_(std::max<uint64_t>(universe, 1)),
      links_per_page_(links_per_page),
      hosts_(std::max<uint32_t>(hosts, 1)),
      seed_(seed) {}

uint64_t SimWeb::mix(uint64_t page, uint64_t salt) const {
    return splitmix64(splitmix64(seed_ ^ (salt * 0x632BE59BD9B4E019ULL)) ^ page);
}

std::string SimWeb::url(uint64_t page) const {
    char text[96];
    std::snprintf(text, sizeof text, "http://www.site%u.test/p%llu.html",
                  static_cast<unsigned>(page % hosts_), static_cast<unsigned long long>(page));
    return text;
}

bool SimWeb::page_of(const std::string &url, uint64_t *page) const {
    const size_t at = url.rfind("/p");
    if (at == std::string::npos) return false;
    const char *end = url.data() + url.size();
    uint64_t number = 0;
    if (std::from_chars(url.data() + at + 2, end, number).ec != std::errc()) return false;
    // Only the URL the page is known by, written the same way, is the page's.
    if (this->url(number) != url) return false;
    *page = number;
    return true;
}

SimPage SimWeb::fetch(uint64_t page) const {
    SimPage found{};
    // Starting points always have content and links, so that a crawl spreads.
    const uint64_t kind = page < kStartingPoints ? 99 : mix(page, 1) % 100;
    found.server_status = kind < 4 ? 404 : kind < 7 ? 410 : kind < 10 ? 301 : 200;
    found.database = mix(page, 2) % 4 == 0 ? "archive" : "pages";
    if (found.server_status == 404 || found.server_status == 301) return found;

    char digest[33];
    std::snprintf(digest, sizeof digest, "%016llx%016llx",
                  static_cast<unsigned long long>(mix(page, 3)),
                  static_cast<unsigned long long>(mix(page, 4)));
    found.md5 = digest;
    found.age = mix(page, 5) % 5 == 0 ? 0 : 1 + static_cast<uint32_t>(mix(page, 6) % kMaxAge);
    if (found.server_status != 200) return found;

    // Distinct targets other than the page itself, while the web has them.
    const uint64_t wanted = std::min<uint64_t>(links_per_page_, universe_ - 1);
    for (uint64_t salt = 100; found.links.size() < wanted; ++salt) {
        uint64_t target = mix(page, salt) % universe_;
        if (target == page) continue;
        if (std::find(found.links.begin(), found.links.end(), target) != found.links.end()) {
            continue;
        }
        found.links.push_back(target);
    }
    return found;
}

std::vector<uint64_t> SimWeb::starting_points() const {
    std::vector<uint64_t> pages;
    for (uint64_t p = 0; p < std::min(kStartingPoints, universe_); ++p) pages.push_back(p);
    return pages;
}
