// Referers and links resolved past the URL table's budget, range by range.
//
// When the URLs of a file do not fit the budget, reading each id past it
// from the B-tree costs a random read per link, and a dump falls off a cliff.
// Instead the ids past the table are split into ranges whose URLs each fit
// the budget, and every reference is resolved from the range of its id:
//
//   - the table's walk hands over every record from the first whose URL did
//     not fit: each URL goes to a scratch file in id order, closing a range
//     whenever the next would pass the budget (a range's size counts the
//     ids present and their URLs, not the span of its ids), and each
//     record's key, referer and link ids go to a scratch list;
//   - the references are then split once by the range of their id, each
//     written once to its range's partition: those of the records before
//     the first handed over (read in a walk of that head of the file only),
//     then those of the list. A reference to an id in no range (a URL too
//     large for any, an id added after the walk) goes nowhere;
//   - each range's partition is read once against that range's URLs, the
//     table's own range first; what it finds goes to that range's spill,
//     in record order. The last range is not partitioned: it stays in
//     memory for the printing walk.
//
// The printing walk reads the spills side by side, merging by record key,
// with a heap so that a record costs only the spills that hold it.
//
// Memory: the table or one range (at most the budget, or a 1024th of the
// file's size when that is more, so that a tiny budget cannot make an
// endless number of ranges), plus buffers of a few megabytes whatever the
// number of ranges. Disk: about the bytes of the URLs past the table plus
// 8 bytes each, 4 bytes an id in the list (freed once partitioned), 8 an id
// in the partitions, and in the spills the bytes of each referer and link
// resolved plus 16.
//
// The scratch files are made in $TMPDIR (or /tmp) and unlinked at once, so
// they go when the dump ends however it ends. Whatever a spill or the range
// in memory does not hold (a record that changed since, an id without a
// record, an id added after the walk, a URL larger than a range, a scratch
// file that could not be made, written or read) is read from the file by
// the caller, as the decoder would: the answers do not depend on the
// scratch files. A scratch file that fails is dropped, with one line on
// standard error, once, when the printing walk starts or at the failure
// when it comes later.
#ifndef CRAWLPEEK_TOOL_READING_SPILLED_RANGES_H_
#define CRAWLPEEK_TOOL_READING_SPILLED_RANGES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "robot/vurl_url_table.h"
#include "tool/reading/scratch_blocks.h"

class SpilledRanges {
  public:
    // For a table learnt within budget_bytes from a file of file_size bytes.
    SpilledRanges(size_t budget_bytes, uint64_t file_size);
    ~SpilledRanges();
    SpilledRanges(const SpilledRanges &) = delete;
    SpilledRanges &operator=(const SpilledRanges &) = delete;

    // Takes a record the table's build hands over past its budget (see
    // VisitedUrlTable::Overflow); false, stopping the walk, once the
    // scratch files have failed and nothing past the table can be resolved.
    bool take_record(std::string_view key, std::string_view value);

    // Once table's build has ended: resolves every reference past table's
    // ids in the ranges. Releases table when its own range has been
    // spilled; otherwise leaves it for the printing walk.
    void resolve(VisitedUrlTable *table);

    // Makes ready what was found for the record under key; records are to
    // be asked for in key order.
    void start_record(std::string_view key);
    // The URL of the id at position (0 the referer, i + 1 link i) of that
    // record, from a spill or the range in memory; false when neither
    // holds it. Positions are to be asked for in ascending order. What it
    // gives stays valid until the next start_record.
    bool find(uint32_t position, uint32_t id, resolved_url *out);

  private:
    struct Range;
    struct Reference;
    class RangeTable;
    class SpillReader;
    struct Entry;

    bool start_scratch();
    void take_url(uint32_t id, std::string_view url);
    bool partition(const VisitedUrlTable &table);
    void route(std::string_view key, bool has_referer, uint32_t referer,
               const std::vector<uint32_t> &links, const VisitedUrlTable &table);
    int partition_of(uint32_t id, const VisitedUrlTable &table) const;
    template <typename Find>
    bool spill(size_t partition, const Find &find);
    void open_spills();
    void drop_scratch(int error);

    size_t range_bytes_;                  // the most a range takes in memory
    std::unique_ptr<ScratchFile> urls_;   // the URLs past the table, in id order
    std::unique_ptr<ScratchWriter> url_writer_;
    std::unique_ptr<ScratchFile> list_;   // each record's key and ids, from the first taken
    std::unique_ptr<ScratchWriter> list_writer_;
    std::string first_key_;               // of the first record taken
    std::vector<Range> ranges_;           // past the table, in id order
    std::unique_ptr<ScratchFile> parts_;  // the partitions, blocks interleaved
    std::vector<ScratchWriter> part_writers_;  // [0] the table's range, [i] ranges_[i - 1]
    std::vector<std::vector<Reference>> staged_;  // by partition: the record route is splitting
    std::vector<size_t> touched_;         // the partitions it has references for
    std::unique_ptr<ScratchFile> spills_;
    std::vector<std::vector<ScratchExtent>> spill_extents_;  // by partition, the spills written
    bool failed_ = false;                 // scratch files dropped: the caller reads the file

    std::unique_ptr<RangeTable> memory_;  // the range kept for the printing walk, or null
    std::vector<std::unique_ptr<SpillReader>> readers_;
    std::vector<SpillReader *> heap_;     // readers with a record left, by their next key
    std::vector<Entry> entries_;          // what the spills hold for the current record
    std::string text_;                    // their URLs
    size_t next_ = 0;                     // the entry find looks at first
};

#endif  // CRAWLPEEK_TOOL_READING_SPILLED_RANGES_H_
