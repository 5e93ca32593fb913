// Turns a stored record's referer and link ids into URLs through a table of
// URLs by id, as the record decoder would: the same ids dropped with the
// same module-log lines, and the links in the order in which the decoder's
// link table walks them.
#ifndef CRAWLPEEK_TOOL_READING_RECORD_RESOLVER_H_
#define CRAWLPEEK_TOOL_READING_RECORD_RESOLVER_H_

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "robot/vurl_record.h"
#include "robot/vurl_url_table.h"
#include "tool/reading/spilled_ranges.h"

class RecordResolver {
  public:
    // Learns the URLs of vdb_url's records within budget_bytes; see
    // VisitedUrlTable::build. With past_budget, the ids past the budget are
    // resolved range by range from scratch files (see SpilledRanges) rather
    // than read one by one, for a caller that resolves every record in key
    // order.
    explicit RecordResolver(size_t budget_bytes, bool past_budget = false);
    ~RecordResolver();
    RecordResolver(const RecordResolver &) = delete;
    RecordResolver &operator=(const RecordResolver &) = delete;

    // Resolves the referer and links of fields, of the record under key
    // (which only a resolver with past_budget needs). What it gives stays
    // valid until the next call.
    void resolve(const visited_url_fields &fields, std::string_view key = {});

    // The referer's URL; none for a starting point or an id without a record.
    std::optional<std::string_view> referer() const { return referer_; }
    // The URLs of the links that have a record, in the decoder's order.
    const std::vector<std::string_view> &links() const { return links_; }

  private:
    bool find(uint32_t position, uint32_t id, resolved_url *out);

    VisitedUrlTable table_;
    std::unique_ptr<SpilledRanges> spilled_;  // null: ids past the table are read one by one
    std::string url_;  // the record's URL as a C string, for the log lines
    std::optional<std::string_view> referer_;
    std::vector<resolved_url> found_;
    std::vector<std::string_view> links_;
};

#endif  // CRAWLPEEK_TOOL_READING_RECORD_RESOLVER_H_
