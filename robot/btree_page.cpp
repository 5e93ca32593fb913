#include "robot/btree_page.h"

#include <cstring>

namespace btree_page {

namespace {

constexpr uint32_t kBtreeMagic = 0x053162;
constexpr uint32_t kOldestVersion = 8;
constexpr uint32_t kNewestVersion = 9;
constexpr uint32_t kSmallestPage = 512;
constexpr uint32_t kLargestPage = 65536;

// Page types and item types.
constexpr uint8_t kLeafPage = 5;
constexpr uint8_t kOverflowPage = 7;
constexpr uint8_t kBtreeMetaPage = 9;
constexpr uint8_t kLeafLevel = 1;
constexpr uint8_t kKeyData = 1;
constexpr uint8_t kOverflowItem = 3;
constexpr uint8_t kDeletedFlag = 0x80;

// Meta flags and tree flags.
constexpr uint8_t kChecksumFlag = 0x01;
constexpr uint32_t kUnreadableTreeFlags = 0x001 /* duplicates */ | 0x002 /* record numbers */ |
                                          0x004 /* counted records */ | 0x080 /* compressed */;

// Header sizes without and with a checksum.
constexpr uint32_t kPageHeader = 26;
constexpr uint32_t kChecksumHeader = 32;
// Fixed sizes of the two item forms.
constexpr uint32_t kKeyDataHeader = 3;
constexpr uint32_t kOverflowItemSize = 12;

// Fixed-width reads of a page's numbers; the callers check the offsets.
class Fields {
  public:
    Fields(std::string_view page, bool swapped) : page_(page), swapped_(swapped) {}

    uint8_t u8(size_t at) const { return static_cast<uint8_t>(page_[at]); }
    uint16_t u16(size_t at) const {
        uint16_t v;
        std::memcpy(&v, page_.data() + at, sizeof v);
        return swapped_ ? static_cast<uint16_t>(__builtin_bswap16(v)) : v;
    }
    uint32_t u32(size_t at) const {
        uint32_t v;
        std::memcpy(&v, page_.data() + at, sizeof v);
        return swapped_ ? __builtin_bswap32(v) : v;
    }

  private:
    std::string_view page_;
    bool swapped_;
};

// The item at offset at of a leaf page; none when it does not lie wholly on
// the page or is of a kind these files never hold.
std::optional<Item> decode_item(std::string_view page, const Fields &f, uint32_t at,
                                bool *deleted) {
    if (at + kKeyDataHeader > page.size()) return std::nullopt;
    const uint8_t type = f.u8(at + 2);
    *deleted = (type & kDeletedFlag) != 0;
    switch (type & ~kDeletedFlag) {
        case kKeyData: {
            const uint32_t length = f.u16(at);
            if (length > page.size() - at - kKeyDataHeader) return std::nullopt;
            return Item{page.substr(at + kKeyDataHeader, length)};
        }
        case kOverflowItem: {
            if (at + kOverflowItemSize > page.size()) return std::nullopt;
            Item item;
            item.overflow_page = f.u32(at + 4);
            item.overflow_size = f.u32(at + 8);
            if (item.overflow_page == 0) return std::nullopt;
            return item;
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<Layout> decode_meta(std::string_view meta, MetaProblem *problem) {
    *problem = MetaProblem::kNotBtree;
    if (meta.size() < kSmallestPage) return std::nullopt;
    Layout layout;
    if (Fields(meta, false).u32(12) != kBtreeMagic) {
        if (Fields(meta, true).u32(12) != kBtreeMagic) return std::nullopt;
        layout.swapped = true;
    }
    const Fields f(meta, layout.swapped);
    const uint32_t version = f.u32(16);
    layout.page_size = f.u32(20);
    const bool power_of_two = (layout.page_size & (layout.page_size - 1)) == 0;
    if (version < kOldestVersion || version > kNewestVersion || f.u8(25) != kBtreeMetaPage ||
        layout.page_size < kSmallestPage || layout.page_size > kLargestPage || !power_of_two) {
        return std::nullopt;
    }
    *problem = MetaProblem::kUnsupported;
    if (f.u8(24) != 0 || (f.u32(48) & kUnreadableTreeFlags) != 0) return std::nullopt;
    layout.header_size = (f.u8(26) & kChecksumFlag) != 0 ? kChecksumHeader : kPageHeader;
    *problem = MetaProblem::kNone;
    return layout;
}

PageKind decode_leaf(const Layout &layout, uint32_t pgno, std::string_view page,
                     std::vector<Pair> *pairs) {
    pairs->clear();
    if (page.size() != layout.page_size) return PageKind::kBad;
    const Fields f(page, layout.swapped);
    if (f.u8(25) != kLeafPage) return PageKind::kOther;
    const uint32_t entries = f.u16(20);
    const uint32_t high_free = f.u16(22);
    // A page of 64 KB stores its high free offset of 65536 as 0.
    const uint32_t items_start = high_free == 0 ? layout.page_size : high_free;
    if (f.u32(8) != pgno || f.u8(24) != kLeafLevel || entries % 2 != 0 ||
        layout.header_size + 2 * entries > items_start || items_start > layout.page_size) {
        return PageKind::kBad;
    }
    std::string_view last_key;
    bool have_key = false;
    for (uint32_t i = 0; i < entries; i += 2) {
        const uint32_t key_at = f.u16(layout.header_size + 2 * i);
        const uint32_t value_at = f.u16(layout.header_size + 2 * (i + 1));
        bool key_deleted = false, value_deleted = false;
        std::optional<Item> key, value;
        if (key_at < items_start || value_at < items_start ||
            !(key = decode_item(page, f, key_at, &key_deleted)) ||
            !(value = decode_item(page, f, value_at, &value_deleted))) {
            pairs->clear();
            return PageKind::kBad;
        }
        // Keys on overflow pages are compared by whoever reads them whole.
        if (key->overflow_page == 0) {
            if (have_key && key->bytes <= last_key) {
                pairs->clear();
                return PageKind::kBad;
            }
            last_key = key->bytes;
            have_key = true;
        }
        if (!value_deleted && !key_deleted) pairs->push_back(Pair{*key, *value});
    }
    return PageKind::kLeaf;
}

std::optional<OverflowPart> decode_overflow(const Layout &layout, uint32_t pgno,
                                            std::string_view page) {
    if (page.size() != layout.page_size) return std::nullopt;
    const Fields f(page, layout.swapped);
    const uint32_t length = f.u16(22);
    if (f.u8(25) != kOverflowPage || f.u32(8) != pgno || length == 0 ||
        length > layout.page_size - layout.header_size) {
        return std::nullopt;
    }
    return OverflowPart{page.substr(layout.header_size, length), f.u32(16)};
}

}  // namespace btree_page
