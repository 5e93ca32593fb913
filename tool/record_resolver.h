// Turns a stored record's referer and link ids into URLs through a table of
// URLs by id, as the record decoder would: the same ids dropped with the
// same module-log lines, and the links in the order in which the decoder's
// link table walks them.
#ifndef CRAWLPEEK_TOOL_RECORD_RESOLVER_H_
#define CRAWLPEEK_TOOL_RECORD_RESOLVER_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "robot/vurl_record.h"
#include "robot/vurl_url_table.h"

class RecordResolver {
  public:
    // Learns the URLs of vdb_url's records within budget_bytes; see
    // VisitedUrlTable::build.
    explicit RecordResolver(size_t budget_bytes) { table_.build(budget_bytes); }

    // Resolves the referer and links of fields. What it gives stays valid
    // until the next call.
    void resolve(const visited_url_fields &fields);

    // The referer's URL; none for a starting point or an id without a record.
    std::optional<std::string_view> referer() const { return referer_; }
    // The URLs of the links that have a record, in the decoder's order.
    const std::vector<std::string_view> &links() const { return links_; }

  private:
    VisitedUrlTable table_;
    std::string url_;  // the record's URL as a C string, for the log lines
    std::optional<std::string_view> referer_;
    std::vector<resolved_url> found_;
    std::vector<std::string_view> links_;
};

#endif  // CRAWLPEEK_TOOL_RECORD_RESOLVER_H_
