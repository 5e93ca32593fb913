// A B-tree file's records read from its pages as they lie on disk, without
// Berkeley DB and without trusting the tree.
//
// A crawler writing a file keeps its newest pages in its own cache and writes
// them out as they leave it, in no order: the file on disk is no tree a
// reader can descend (its root may still be the empty page of the file's
// birth), but each leaf page written out holds records that were true when it
// was written. So the reader scans every page once, keeps each sound leaf
// page's number and first and last keys, sorted by first key, and reads
// records leaf by leaf in key order from there. Nothing is shared with the
// crawler and nothing is written: a reader killed at any moment leaves the
// crawler and its files as they were.
//
// What such a reading sees: each record it gives is one that a leaf page held
// when it was read, given once, keys strictly rising. A record the crawler
// has not yet written out is missing; one changed meanwhile may show its
// older state; pages and records caught half-written are passed over and
// counted. A file at rest reads as its tree holds it.
//
// A snapshot and its cursors are used by one thread at a time.
#ifndef CRAWLPEEK_ROBOT_PAGE_SNAPSHOT_H_
#define CRAWLPEEK_ROBOT_PAGE_SNAPSHOT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "robot/btree_page.h"

class PageSnapshot {
  public:
    // What the reading passed over, so far.
    struct PassedOver {
        uint64_t pages = 0;    // leaf pages that did not hold together
        uint64_t records = 0;  // records whose overflow pages did not
    };

    // Scans the file at path. Null when it cannot be read page by page, with
    // the reason in *why (the system's error, or what the first page lacks).
    static std::unique_ptr<PageSnapshot> scan(const std::string &path, std::string *why);

    ~PageSnapshot();
    PageSnapshot(const PageSnapshot &) = delete;
    PageSnapshot &operator=(const PageSnapshot &) = delete;

    // Records in key order from the smallest key, or from a given key on.
    class Cursor {
      public:
        explicit Cursor(const PageSnapshot *snapshot);

        // Makes the next record the first whose key is not below key.
        void seek(std::string_view key);
        // The next record; its bytes stay valid until the next call. False
        // at the end.
        bool next(std::string_view *key, std::string_view *value);

      private:
        bool load_leaf(size_t index);

        const PageSnapshot *snapshot_;
        size_t leaf_ = 0;  // the leaf to read after the current one
        // The keys the current leaf held when it was scanned: what it holds
        // outside them now, lookups would not find.
        std::string_view low_, high_;
        std::vector<char> page_;
        std::vector<btree_page::Pair> pairs_;
        size_t pair_ = 0;
        std::string floor_;  // keys must be above this (or not below it, before the first)
        bool floor_taken_ = false;
        std::string key_, value_;  // the bytes of items read from overflow pages
    };

    // Reads key's record into *value. False when no leaf page holds it.
    bool get(std::string_view key, std::string *value) const;

    // The largest key, or false when the file holds no record.
    bool last_key(std::string *key) const;

    PassedOver passed_over() const { return passed_over_; }

  private:
    struct Leaf {
        uint32_t pgno;
        std::string first;
        std::string last;
    };

    PageSnapshot(int fd, const btree_page::Layout &layout) : fd_(fd), layout_(layout) {}

    bool scan_pages(std::string *why);
    void add_leaf(uint32_t pgno, std::string_view page);
    // Reads page pgno whole into page; false at the end of the file or on a
    // read error.
    bool read_page(uint32_t pgno, std::vector<char> *page) const;
    // The bytes of an item into *out (in place, or gathered from its overflow
    // pages); false when its overflow pages do not hold together.
    bool item_bytes(const btree_page::Item &item, std::string *out, std::string_view *bytes) const;
    // The first leaf in key order that may hold key or a key above it.
    size_t first_leaf_reaching(std::string_view key) const;

    int fd_;
    btree_page::Layout layout_;
    uint64_t file_size_ = 0;
    // Bytes of keys the scan read from overflow pages: a file at rest reads
    // each chain once at most, one caught between the halves of a split a
    // few twice; never more than twice the file, so that leaves naming one
    // long chain over and over take neither the memory nor the time of all.
    uint64_t overflow_key_bytes_ = 0;
    std::vector<Leaf> leaves_;  // sorted by first key
    // reach_[i]: the largest last key among leaves_[0..i], as an index.
    std::vector<size_t> reach_;
    mutable PassedOver passed_over_;
};

#endif  // CRAWLPEEK_ROBOT_PAGE_SNAPSHOT_H_
