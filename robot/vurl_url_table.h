// The URLs of url-visited.db's records by id, learnt in one walk of the file,
// so that many referer and link ids can be turned into URLs without a B-tree
// read each.
//
// Ids are handed out from 1 upwards and a record's URL never changes, so the
// table is an array indexed by id into one block of URL bytes. It is held to
// a memory budget: the walk stops filling it at the first record that would
// pass the budget. Ids from there on, and ids of records added after the
// walk, are read from the file on demand. Every answer is the one
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

class VisitedUrlTable {
  public:
    VisitedUrlTable() = default;
    ~VisitedUrlTable();
    VisitedUrlTable(const VisitedUrlTable &) = delete;
    VisitedUrlTable &operator=(const VisitedUrlTable &) = delete;

    // Walks vdb_url's file once and keeps what fits in budget_bytes. A budget
    // of 0, or a database that is not open, leaves every id to be read on
    // demand.
    void build(size_t budget_bytes);

    // The URL of id's record, into *out; false when there is none. A URL read
    // on demand stays valid until forget_reads; the others while the table
    // lives.
    bool find(uint32_t id, resolved_url *out);

    // Releases the URLs read on demand since the last call.
    void forget_reads();

    // Ids below this were all seen by the walk and are answered from memory.
    uint32_t covered_ids() const { return covered_; }
    // Bytes the table holds for the ids it covers.
    size_t memory_used() const;

  private:
    bool add(uint32_t id, std::string_view url, size_t budget_bytes);
    bool grow_index(uint32_t id, size_t budget_bytes);
    bool find_in_file(uint32_t id, resolved_url *out);

    static constexpr uint32_t kAbsent = UINT32_MAX;

    std::vector<uint32_t> offsets_;  // by id: offset of the URL in urls_, or kAbsent
    std::vector<uint8_t> buckets_;   // by id: the URL's link bucket
    char *urls_ = nullptr;           // the URLs, each with its zero byte (mapped)
    size_t urls_capacity_ = 0;
    size_t urls_used_ = 0;
    uint32_t covered_ = 0;
    std::deque<std::string> reads_;  // URLs read on demand
};

#endif  // CRAWLPEEK_ROBOT_VURL_URL_TABLE_H_
