// The web that crawlsim crawls: a fixed, seeded graph of pages on a few
// hosts. Everything about a page follows from its number and the seed, so a
// page looks the same in every crawl and every run.
#ifndef CRAWLPEEK_TOOL_CRAWLSIM_SIM_WEB_H_
#define CRAWLPEEK_TOOL_CRAWLSIM_SIM_WEB_H_

#include <cstdint>
#include <string>
#include <vector>

// What a fetch of a page finds.
struct SimPage {
    int32_t server_status;        // 200, 404 (gone, no content), 410 (content withdrawn), 301
    std::string md5;              // 32 hex digits for pages with content, else empty
    uint32_t age;                 // seconds between its last change and the crawl; 0: unknown
    const char *database;         // where its content is kept
    std::vector<uint64_t> links;  // distinct pages it links to
};

class SimWeb {
  public:
    // A web of universe pages (at least 1) on hosts hosts, each page with
    // content linking to links_per_page others.
    SimWeb(uint64_t universe, uint32_t links_per_page, uint32_t hosts, uint64_t seed);

    std::string url(uint64_t page) const;
    // The page whose URL is url; false when url is none of this web's.
    bool page_of(const std::string &url, uint64_t *page) const;
    SimPage fetch(uint64_t page) const;
    // The pages a crawl starts from.
    std::vector<uint64_t> starting_points() const;

  private:
    uint64_t mix(uint64_t page, uint64_t salt) const;

    uint64_t universe_;
    uint32_t links_per_page_;
    uint32_t hosts_;
    uint64_t seed_;
};

#endif  // CRAWLPEEK_TOOL_CRAWLSIM_SIM_WEB_H_
