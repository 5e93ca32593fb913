#include "robot/page_snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "extra/files.h"

namespace {

// Pages read by one call during the scan.
constexpr size_t kScanBlock = 1 << 20;

// Reads size bytes at offset whole; false on an error (errno set) or at the
// end of the file (errno 0).
bool read_at(int fd, char *buffer, size_t size, uint64_t offset) {
    errno = 0;
    return pread_all(fd, buffer, size, offset) == static_cast<ssize_t>(size);
}

}  // namespace

std::unique_ptr<PageSnapshot> PageSnapshot::scan(const std::string &path, std::string *why) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *why = std::strerror(errno);
        return nullptr;
    }
    char meta[512];
    btree_page::MetaProblem problem = btree_page::MetaProblem::kNotBtree;
    std::optional<btree_page::Layout> layout;
    if (read_at(fd, meta, sizeof meta, 0)) {
        layout = btree_page::decode_meta(std::string_view(meta, sizeof meta), &problem);
    }
    if (!layout) {
        close(fd);
        *why = problem == btree_page::MetaProblem::kUnsupported
                   ? "a B-tree file of a form that cannot be read page by page"
                   : "not a B-tree file";
        return nullptr;
    }
    std::unique_ptr<PageSnapshot> snapshot(new PageSnapshot(fd, *layout));
    if (!snapshot->scan_pages(why)) return nullptr;
    return snapshot;
}

PageSnapshot::~PageSnapshot() {
    close(fd_);
}

bool PageSnapshot::scan_pages(std::string *why) {
    struct stat st;
    if (fstat(fd_, &st) != 0) {
        *why = std::strerror(errno);
        return false;
    }
    file_size_ = static_cast<uint64_t>(st.st_size);
    const uint64_t pages = file_size_ / layout_.page_size;
    const size_t per_block = std::max<size_t>(1, kScanBlock / layout_.page_size);
    std::vector<char> block(per_block * layout_.page_size);
    // Page 0 is the metadata page; page numbers are 32 bits.
    for (uint64_t first = 1; first < pages && first <= UINT32_MAX; first += per_block) {
        const uint64_t count = std::min<uint64_t>(per_block, pages - first);
        const size_t bytes = static_cast<size_t>(count) * layout_.page_size;
        if (!read_at(fd_, block.data(), bytes, first * layout_.page_size)) {
            if (errno == 0) break;  // the file was cut short meanwhile
            *why = std::strerror(errno);
            return false;
        }
        for (uint64_t i = 0; i < count; ++i) {
            add_leaf(static_cast<uint32_t>(first + i),
                     std::string_view(block.data() + i * layout_.page_size, layout_.page_size));
        }
    }
    std::sort(leaves_.begin(), leaves_.end(), [](const Leaf &a, const Leaf &b) {
        return a.first != b.first ? a.first < b.first : a.pgno < b.pgno;
    });
    reach_.resize(leaves_.size());
    for (size_t i = 0; i < leaves_.size(); ++i) {
        reach_[i] = i > 0 && leaves_[reach_[i - 1]].last > leaves_[i].last ? reach_[i - 1] : i;
    }
    return true;
}

void PageSnapshot::add_leaf(uint32_t pgno, std::string_view page) {
    std::vector<btree_page::Pair> pairs;
    switch (btree_page::decode_leaf(layout_, pgno, page, &pairs)) {
        case btree_page::PageKind::kOther:
            return;
        case btree_page::PageKind::kBad:
            ++passed_over_.pages;
            return;
        case btree_page::PageKind::kLeaf:
            break;
    }
    // The first and last keys that can be read whole, while the scan has
    // read no more of keys from overflow pages than twice the file.
    bool over_budget = false;
    auto read_key = [&](const btree_page::Item &key, std::string *out) {
        if (key.overflow_size > 2 * file_size_ - overflow_key_bytes_) over_budget = true;
        if (over_budget) return false;
        overflow_key_bytes_ += key.overflow_size;
        std::string scratch;
        std::string_view bytes;
        if (!item_bytes(key, &scratch, &bytes)) return false;
        out->assign(bytes);
        return true;
    };
    std::string first, last;
    size_t i = 0;
    while (i < pairs.size() && !read_key(pairs[i].key, &first) && !over_budget) ++i;
    if (i == pairs.size()) return;
    size_t j = pairs.size();
    while (!over_budget && --j > i && !read_key(pairs[j].key, &last)) {
    }
    if (j == i) last = first;
    if (over_budget || last < first) {
        ++passed_over_.pages;
        return;
    }
    leaves_.push_back(Leaf{pgno, std::move(first), std::move(last)});
}

bool PageSnapshot::read_page(uint32_t pgno, std::vector<char> *page) const {
    page->resize(layout_.page_size);
    return read_at(fd_, page->data(), layout_.page_size,
                   static_cast<uint64_t>(pgno) * layout_.page_size);
}

bool PageSnapshot::item_bytes(const btree_page::Item &item, std::string *out,
                              std::string_view *bytes) const {
    if (item.overflow_page == 0) {
        *bytes = item.bytes;
        return true;
    }
    // An item cannot be longer than the file, nor take more pages than its
    // length needs: a chain that does either has been rewritten or damaged.
    if (item.overflow_size > file_size_) return false;
    out->clear();
    std::vector<char> page;
    std::unordered_set<uint32_t> seen;
    for (uint32_t pgno = item.overflow_page; pgno != 0;) {
        if (!seen.insert(pgno).second || !read_page(pgno, &page)) return false;
        std::optional<btree_page::OverflowPart> part = btree_page::decode_overflow(
            layout_, pgno, std::string_view(page.data(), page.size()));
        if (!part || part->bytes.size() > item.overflow_size - out->size()) return false;
        out->append(part->bytes);
        pgno = part->next_page;
    }
    if (out->size() != item.overflow_size) return false;
    *bytes = *out;
    return true;
}

size_t PageSnapshot::first_leaf_reaching(std::string_view key) const {
    // reach_ only rises, so the leaves before the first whose reach is not
    // below key end below key.
    const auto it = std::partition_point(reach_.begin(), reach_.end(),
                                         [&](size_t r) { return leaves_[r].last < key; });
    return static_cast<size_t>(it - reach_.begin());
}

bool PageSnapshot::get(std::string_view key, std::string *value) const {
    std::vector<char> page;
    std::vector<btree_page::Pair> pairs;
    std::string key_scratch;
    std::string_view bytes;
    // Leaves whose range holds key: among those starting at or below it, from
    // the last back while one of the earlier ones can still reach it.
    size_t i = static_cast<size_t>(
        std::upper_bound(leaves_.begin(), leaves_.end(), key,
                         [](std::string_view k, const Leaf &leaf) { return k < leaf.first; }) -
        leaves_.begin());
    while (i-- > 0 && leaves_[reach_[i]].last >= key) {
        if (leaves_[i].last < key || !read_page(leaves_[i].pgno, &page)) continue;
        if (btree_page::decode_leaf(layout_, leaves_[i].pgno,
                                    std::string_view(page.data(), page.size()),
                                    &pairs) != btree_page::PageKind::kLeaf) {
            continue;
        }
        for (const btree_page::Pair &pair : pairs) {
            if (!item_bytes(pair.key, &key_scratch, &bytes) || bytes != key) continue;
            if (item_bytes(pair.value, value, &bytes)) {
                if (bytes.data() != value->data()) value->assign(bytes);
                return true;
            }
            ++passed_over_.records;
        }
    }
    return false;
}

bool PageSnapshot::last_key(std::string *key) const {
    if (leaves_.empty()) return false;
    *key = leaves_[reach_.back()].last;
    return true;
}

PageSnapshot::Cursor::Cursor(const PageSnapshot *snapshot) : snapshot_(snapshot) {}

void PageSnapshot::Cursor::seek(std::string_view key) {
    leaf_ = snapshot_->first_leaf_reaching(key);
    pairs_.clear();
    pair_ = 0;
    floor_.assign(key);
    floor_taken_ = false;
}

bool PageSnapshot::Cursor::load_leaf(size_t index) {
    const Leaf &leaf = snapshot_->leaves_[index];
    pairs_.clear();
    pair_ = 0;
    low_ = leaf.first;
    high_ = leaf.last;
    if (!snapshot_->read_page(leaf.pgno, &page_)) return false;
    // The page may have changed since the scan; it is read as it is now.
    const btree_page::PageKind kind = btree_page::decode_leaf(
        snapshot_->layout_, leaf.pgno, std::string_view(page_.data(), page_.size()), &pairs_);
    if (kind == btree_page::PageKind::kBad) ++snapshot_->passed_over_.pages;
    return kind == btree_page::PageKind::kLeaf;
}

bool PageSnapshot::Cursor::next(std::string_view *key, std::string_view *value) {
    for (;;) {
        if (pair_ == pairs_.size()) {
            if (leaf_ >= snapshot_->leaves_.size()) return false;
            load_leaf(leaf_++);
            continue;
        }
        const btree_page::Pair &pair = pairs_[pair_++];
        std::string_view k, v;
        if (!snapshot_->item_bytes(pair.key, &key_, &k)) {
            ++snapshot_->passed_over_.records;
            continue;
        }
        // Leaves may overlap where a page was split and only one half written
        // out: each key is given once, from the first leaf that has it.
        if (floor_taken_ ? k <= floor_ : k < floor_) continue;
        if (k < low_ || k > high_) continue;
        if (!snapshot_->item_bytes(pair.value, &value_, &v)) {
            ++snapshot_->passed_over_.records;
            continue;
        }
        floor_.assign(k);
        floor_taken_ = true;
        *key = floor_;
        *value = v;
        return true;
    }
}
