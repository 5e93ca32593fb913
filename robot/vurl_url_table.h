// The URLs of url-visited.db's records by id, learnt in one walk of the file,
// so that many referer and link ids can be turned into URLs without a B-tree
// read each.
//
// Ids are handed out from 1 upwards and a record's URL never changes, so the
// table is an array indexed by id into one block of URL bytes. It is held to
// a memory budget: the walk stops filling it at the first record that would
// pass the budget. Ids from there on, and ids of records added after the
// walk, are read from the file on demand, unless the caller takes the
// records past the budget and resolves them by other means. Every answer is
// the one
// visited_url_url_of_id gives: an id without a record, or whose record holds
// no readable or an empty URL, has none.
//
// The table belongs to one thread; it reads vdb_url without the visited-URL
// lock, like the dump tool that uses it.
#ifndef CRAWLPEEK_ROBOT_VURL_URL_TABLE_H_
#define CRAWLPEEK_ROBOT_VURL_URL_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A URL found for an id.
struct resolved_url {
    std::string_view url;  // never empty
    // The bucket of a record's link table the URL falls into: its hash modulo
    // kVurlLinkBuckets. Kept so that links can be put in the table's order
    // without hashing them again.
    uint32_t link_bucket = 0;
};

// The link bucket of url, a C string.
uint32_t vurl_link_bucket(const char *url);

class VisitedUrlTable {
  public:
    // What build hands over past the budget: every record from the first
    // whose URL did not fit on, in key order, its key and stored value as
    // the walk read them (valid for the call only). False stops the walk.
    using Overflow = std::function<bool(std::string_view key, std::string_view value)>;

    VisitedUrlTable() = default;
    ~VisitedUrlTable();
    VisitedUrlTable(const VisitedUrlTable &) = delete;
    VisitedUrlTable &operator=(const VisitedUrlTable &) = delete;

    // Walks vdb_url's file once and keeps what fits in budget_bytes. A budget
    // of 0, or a database that is not open, leaves every id to be read on
    // demand. Given overflow, the walk goes on past the budget and hands it
    // every later record instead of stopping, until it returns false.
    void build(size_t budget_bytes, const Overflow &overflow = nullptr);

    // Gives back the memory of the URLs learnt: every id is read from the
    // file from then on.
    void release();

    // The URL of id's record, into *out; false when there is none. A URL read
    // on demand stays valid until forget_reads; the others while the table
    // lives (or until restart).
    bool find(uint32_t id, resolved_url *out);
    // The same from memory alone: false also for an id the table does not
    // cover.
    bool find_in_memory(uint32_t id, resolved_url *out) const;

    // Releases the URLs read on demand since the last call.
    void forget_reads();

    // The ids below covered_ids() were all seen by the walk and are answered
    // from memory.
    uint32_t covered_ids() const { return covered_; }
    // Whether build stopped filling the table before the end of the file.
    bool overflowed() const { return overflowed_; }
    // Bytes the table holds for the ids it covers.
    size_t memory_used() const;

  private:
    // Keeps id's URL, ids coming in ascending order; false, keeping nothing,
    // once the budget is full.
    bool add(uint32_t id, std::string_view url);
    bool grow_index(size_t slots);
    bool find_in_file(uint32_t id, resolved_url *out);

    static constexpr uint32_t kAbsent = UINT32_MAX;

    size_t budget_ = 0;
    std::vector<uint32_t> offsets_;  // by id: offset of the URL in urls_, or kAbsent
    std::vector<uint8_t> buckets_;   // by id: the URL's link bucket
    char *urls_ = nullptr;           // the URLs, each led by its length, with a zero byte (mapped)
    size_t urls_capacity_ = 0;
    size_t urls_used_ = 0;
    uint32_t covered_ = 0;
    bool overflowed_ = false;
    std::deque<std::string> reads_;  // URLs read on demand
};

#endif  // CRAWLPEEK_ROBOT_VURL_URL_TABLE_H_
