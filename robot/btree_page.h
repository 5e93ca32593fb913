// The bytes of a Berkeley DB B-tree file's pages, decoded without Berkeley DB.
//
// A reader that must not trust a file (one a crawler is rewriting under it,
// or one that may be damaged) decodes its pages here. Nothing read from a
// page is trusted: every offset and length is checked against the page before
// a byte is read, and a page that does not hold together is reported, never
// read past.
//
// The layouts are Berkeley DB's on-disk formats of B-tree files of versions
// 8 and 9 (the files of its releases from 4.3 to 5.3), in either byte order:
//   page 0, the metadata page: magic at 12, version at 16, page size at 20,
//     encryption at 24, page type at 25, meta flags at 26, tree flags at 48;
//   every other page: its number at 8, the next page at 16, the number of
//     entries at 20, the high free offset at 22, level at 24, type at 25, then
//     (after a checksum, when the file has one) an array of 2-byte item
//     offsets;
//   a leaf item: a 2-byte length and a type byte, then the bytes; an item on
//     overflow pages: type at 2, first overflow page at 4, total length at 8;
//   an overflow page: its bytes after the header, their count in the high
//     free offset, the next page of the chain at 16 (0 ends it).
#ifndef CRAWLPEEK_ROBOT_BTREE_PAGE_H_
#define CRAWLPEEK_ROBOT_BTREE_PAGE_H_

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace btree_page {

// What the metadata page says about how to read the others.
struct Layout {
    uint32_t page_size = 0;
    uint32_t header_size = 0;  // bytes before a page's item offsets
    bool swapped = false;      // stored in the other byte order
};

// Why a file cannot be read page by page.
enum class MetaProblem {
    kNone,
    kNotBtree,     // not the metadata page of a B-tree file of a known version
    kUnsupported,  // encrypted, compressed, or with duplicates or record numbers
};

// The layout of the file whose first page is meta (at least 512 bytes, the
// smallest page); none, with the reason in *problem, when it cannot be read.
std::optional<Layout> decode_meta(std::string_view meta, MetaProblem *problem);

// A key or value on a leaf page: its bytes, or where they continue on
// overflow pages.
struct Item {
    std::string_view bytes;      // the bytes when stored on the page
    uint32_t overflow_page = 0;  // nonzero: the first overflow page
    uint32_t overflow_size = 0;  // and the item's whole length
};

struct Pair {
    Item key;
    Item value;
};

enum class PageKind {
    kLeaf,   // a sound leaf page; its pairs decoded
    kOther,  // a page of another kind (internal, overflow, free, never written)
    kBad,    // claims to be a leaf page but does not hold together
};

// Decodes page number pgno (page holds exactly the page size's bytes) into
// its key/value pairs in stored order, deleted pairs left out. A leaf page is
// sound when it names itself pgno, every item lies wholly on the page, and the
// keys stored on the page rise strictly; *pairs is empty unless it is.
PageKind decode_leaf(const Layout &layout, uint32_t pgno, std::string_view page,
                     std::vector<Pair> *pairs);

// One overflow page of an item's chain.
struct OverflowPart {
    std::string_view bytes;
    uint32_t next_page = 0;  // 0: the last part
};

// The part of an overflow item on page pgno; none when the page is not an
// overflow page naming itself pgno with a length that fits.
std::optional<OverflowPart> decode_overflow(const Layout &layout, uint32_t pgno,
                                            std::string_view page);

}  // namespace btree_page

#endif  // CRAWLPEEK_ROBOT_BTREE_PAGE_H_
