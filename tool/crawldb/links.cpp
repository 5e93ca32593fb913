#include "tool/crawldb/links.h"

#include <cinttypes>
#include <cstdio>
#include <string_view>
#include <vector>

#include "extra/malloc_ptr.h"
#include "robot/coding.h"
#include "robot/id_indirect.h"
#include "robot/vurl_record.h"
#include "tool/crawldb/file_walk.h"
#include "tool/crawldb/id_index.h"
#include "tool/crawldb/text_out.h"

namespace {

// What the first walk learns of each record, by position.
constexpr uint8_t kDecodes = 1;      // the value decodes and holds a URL
constexpr uint8_t kHasReferer = 2;   // it names a referer
constexpr uint8_t kLinked = 4;       // a stored page links to it
constexpr uint8_t kCounted = 8;      // counted once already as a broken target

// The URL of the record with id, as the record decoder reads it; empty when
// it has none.
std::string url_of(uint32_t id) {
    MallocPtr<char> url(visited_url_url_of_id(id));
    return url != nullptr ? std::string(url.get()) : std::string();
}

class LinkJoin {
  public:
    LinkJoin(CrawlDb *db, const LinksOptions &options) : db_(*db), options_(options) {}

    // The exit status.
    int run();

  private:
    bool learn(bool statuses);
    bool walk_pages(const char *what,
                    const std::function<void(uint32_t id, const visited_url_fields &)> &page);
    void broken(uint32_t page_id, const visited_url_fields &page);
    void dangling(const visited_url_fields &page, const char *kind, uint32_t id);
    bool orphans();
    bool to();
    void url_field(std::string_view url);

    CrawlDb &db_;
    const LinksOptions &options_;
    IdIndex index_;
    std::vector<uint8_t> flags_;
    std::vector<int32_t> statuses_;  // server status by position, for --broken
    Output output_;
    uint64_t found_ = 0;
    uint64_t pages_ = 0;    // pages with a broken link
    uint64_t targets_ = 0;  // distinct broken targets
};

void LinkJoin::url_field(std::string_view url) {
    append_tsv_field(output_.buffer(), url, BadBytes::kPercent);
}

bool LinkJoin::learn(bool statuses) {
    const size_t hint = db_.record_count_hint();
    flags_.reserve(hint);
    if (statuses) statuses_.reserve(hint);
    visited_url_fields f;
    return walk_file(vdb_url, "links: url-visited.db, 1 of 2", db_.last_id(),
                     [&](std::string_view key, std::string_view value) {
                         const uint32_t id = record_key_id(key);
                         if (id == 0) return true;
                         index_.add(id);
                         const bool decodes =
                             visited_url_parse(value.data(), value.size(), &f) && !f.url.empty();
                         flags_.push_back((decodes ? kDecodes : 0) |
                                          (decodes && f.has_referer ? kHasReferer : 0));
                         if (statuses) statuses_.push_back(decodes ? f.server_status : 0);
                         return true;
                     });
}

bool LinkJoin::walk_pages(
    const char *what, const std::function<void(uint32_t id, const visited_url_fields &)> &page) {
    visited_url_fields f;
    return walk_file(vdb_url, what, db_.last_id(),
                     [&](std::string_view key, std::string_view value) {
                         const uint32_t id = record_key_id(key);
                         if (id != 0 && visited_url_parse(value.data(), value.size(), &f) &&
                             !f.url.empty()) {
                             page(id, f);
                         }
                         return true;
                     });
}

void LinkJoin::broken(uint32_t, const visited_url_fields &page) {
    bool page_counted = false;
    for (size_t i = 0; i < page.link_id_count; ++i) {
        const uint32_t target = page.link_id(i);
        const size_t at = index_.find(target);
        if (at == IdIndex::kNone || (flags_[at] & kDecodes) == 0 ||
            !options_.statuses.contains(statuses_[at])) {
            continue;
        }
        ++found_;
        if (!page_counted) ++pages_;
        page_counted = true;
        if ((flags_[at] & kCounted) == 0) ++targets_;
        flags_[at] |= kCounted;
        const std::string target_url = url_of(target);
        if (options_.json) {
            JsonObject(output_.buffer())
                .url("page", page.url)
                .url("target", target_url)
                .number("status", statuses_[at]);
        } else {
            url_field(page.url);
            output_.buffer()->push_back('\t');
            url_field(target_url);
            output_.buffer()->push_back('\t');
            append_json_number(output_.buffer(), statuses_[at]);
        }
        output_.end_line();
    }
}

void LinkJoin::dangling(const visited_url_fields &page, const char *kind, uint32_t id) {
    // A live crawler may have stored the record after the first walk.
    if (index_.find(id) != IdIndex::kNone || (db_.being_written() && id > index_.last())) return;
    ++found_;
    if (options_.json) {
        JsonObject(output_.buffer())
            .url("page", page.url)
            .text("kind", kind, BadBytes::kReplacement)
            .number("id", id);
    } else {
        url_field(page.url);
        output_.buffer()->append("\t").append(kind).push_back('\t');
        append_json_number(output_.buffer(), id);
    }
    output_.end_line();
}

bool LinkJoin::orphans() {
    const bool marked = walk_pages("links: url-visited.db, 2 of 3",
                                   [&](uint32_t, const visited_url_fields &page) {
                                       for (size_t i = 0; i < page.link_id_count; ++i) {
                                           const size_t at = index_.find(page.link_id(i));
                                           if (at != IdIndex::kNone) flags_[at] |= kLinked;
                                       }
                                   });
    if (!marked) return false;
    return walk_pages("links: url-visited.db, 3 of 3", [&](uint32_t id, const visited_url_fields &f) {
        const size_t at = index_.find(id);
        // A record a live crawler stored after the first walk has no flags:
        // whether anything links to it was not learnt, so it is passed over.
        if (at == IdIndex::kNone || (flags_[at] & (kHasReferer | kLinked)) != kHasReferer) {
            return;
        }
        ++found_;
        const std::string referer = url_of(f.referer_id);
        if (options_.json) {
            JsonObject object(output_.buffer());
            object.url("url", f.url).number("id", id);
            if (referer.empty()) {
                object.null("referer");
            } else {
                object.url("referer", referer);
            }
        } else {
            url_field(f.url);
            output_.buffer()->push_back('\t');
            append_json_number(output_.buffer(), id);
            output_.buffer()->push_back('\t');
            url_field(referer);
        }
        output_.end_line();
    });
}

bool LinkJoin::to() {
    // The URL's id, from vid.db; a URL without one has no in-links.
    const std::optional<uint32_t> found = vid_value_of(options_.url);
    if (!found) return true;
    const uint32_t wanted = *found;
    return walk_pages("links", [&](uint32_t id, const visited_url_fields &page) {
        for (size_t i = 0; i < page.link_id_count; ++i) {
            if (page.link_id(i) != wanted) continue;
            ++found_;
            if (options_.json) {
                JsonObject(output_.buffer()).url("page", page.url).number("id", id);
            } else {
                url_field(page.url);
            }
            output_.end_line();
            return;
        }
    });
}

int LinkJoin::run() {
    bool read = true;
    switch (options_.mode) {
        case LinksOptions::Mode::kBroken:
            read = learn(true) &&
                   walk_pages("links: url-visited.db, 2 of 2",
                              [&](uint32_t id, const visited_url_fields &f) { broken(id, f); });
            break;
        case LinksOptions::Mode::kTo:
            read = to();
            break;
        case LinksOptions::Mode::kOrphans:
            read = learn(false) && orphans();
            break;
        case LinksOptions::Mode::kDangling:
            read = learn(false) &&
                   walk_pages("links: url-visited.db, 2 of 2",
                              [&](uint32_t, const visited_url_fields &f) {
                                  if (f.has_referer) dangling(f, "referer", f.referer_id);
                                  for (size_t i = 0; i < f.link_id_count; ++i) {
                                      dangling(f, "link", f.link_id(i));
                                  }
                              });
            break;
    }
    output_.flush();
    if (!read) return db_.read_failure_status();
    if (db_.confirm() != CrawlDb::Opened::kOpen) return 2;
    if (options_.mode == LinksOptions::Mode::kBroken && !options_.json) {
        std::fflush(stdout);
        std::fprintf(stderr,
                     "crawldb: %" PRIu64 " broken links on %" PRIu64 " pages to %" PRIu64
                     " distinct targets\n",
                     found_, pages_, targets_);
    }
    return found_ != 0 ? 0 : 1;
}

}  // namespace

int run_links(CrawlDb *db, const LinksOptions &options) {
    return LinkJoin(db, options).run();
}
