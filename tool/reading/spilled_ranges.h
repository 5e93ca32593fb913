// Referers and links resolved past the URL table's budget, range by range.
//
// When the URLs of a file do not fit the budget, reading each id past it
// from the B-tree costs a random read per link, and a dump falls off a cliff.
// Instead the ids are split into ranges whose URLs each fit the budget, and
// each range is resolved in one pass over every record's ids, in id order:
//
//   - the table's first walk hands the URLs past the budget to a scratch
//     file, in id order (about the bytes of those URLs);
//   - a second walk of url-visited.db writes every record's key, referer and
//     link ids to a scratch list (about 4 bytes an id), resolving the ids of
//     the first range, still in the table, as it goes;
//   - each further range is read from the URL file into the table, and the
//     list is read once to resolve the ids of that range; the last range
//     stays in the table for the printing walk.
//
// What a pass finds goes to a spill: for each record, in record order, the
// position, id, bucket and URL of each id that resolved in that range. The
// spills of all ranges lie one after another in one scratch file (about the
// bytes of the links and referers printed from them, plus 16 bytes each),
// and the printing walk reads them side by side, each from its own offset
// through a buffer of 64 KB beside the budget, merging by record key. On a
// 200,000-page crawl held to a tenth of its table the three files came to
// about twice the size of url-visited.db.
//
// Partitioning rather than an external sort: every pass is sequential, each
// file is written once, the spills come out in record order so the merge
// needs no sort, and a dump that fits the budget pays for none of it. The
// cost is one pass over the id list a range: linear in the links for a given
// ratio of URLs to budget.
//
// The scratch files are made in $TMPDIR (or /tmp) and unlinked at once, so
// they go when the dump ends however it ends. Whatever a spill does not hold
// (a record that changed since, an id without a record, an id added after
// the first walk, a URL larger than the whole budget, a scratch file that
// could not be written) is read from the file by the caller, as the decoder
// would: the answers do not depend on the spills.
#ifndef CRAWLPEEK_TOOL_READING_SPILLED_RANGES_H_
#define CRAWLPEEK_TOOL_READING_SPILLED_RANGES_H_

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "robot/vurl_url_table.h"
#include "tool/reading/temp_file.h"

class SpilledRanges {
  public:
    // Resolves every record against the ranges of ids past those table
    // holds, with the URLs that table's build handed over in urls (each as
    // written by add_url). Leaves table holding the last range.
    SpilledRanges(VisitedUrlTable *table, const TempFile &urls);
    ~SpilledRanges();
    SpilledRanges(const SpilledRanges &) = delete;
    SpilledRanges &operator=(const SpilledRanges &) = delete;

    // Writes one URL past the budget to urls, for the constructor.
    static void add_url(const TempFile &urls, uint32_t id, std::string_view url);

    // Makes ready what the passes found for the record under key; records
    // are to be asked for in key order.
    void start_record(std::string_view key);
    // The URL of the id at position (0 the referer, i + 1 link i) of that
    // record, as a pass found it; false when no pass did. Positions are to
    // be asked for in ascending order. What it gives stays valid until the
    // next start_record.
    bool find(uint32_t position, uint32_t id, resolved_url *out);

  private:
    class Reader;
    struct Entry {
        uint32_t position;
        uint32_t id;
        uint32_t bucket;
        size_t offset;  // of the URL in text_
        size_t size;
    };
    struct Ids;

    void spill(const Ids &record, const VisitedUrlTable &table);
    void close_spill(off_t begin);

    TempFile ids_;
    TempFile spills_;
    std::vector<std::unique_ptr<Reader>> readers_;
    std::vector<Entry> entries_;  // what the passes found for the current record
    std::string text_;            // their URLs
    size_t next_ = 0;             // the entry find looks at first
};

#endif  // CRAWLPEEK_TOOL_READING_SPILLED_RANGES_H_
