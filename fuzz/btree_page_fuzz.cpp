// Pages and files of any bytes read as a B-tree file's pages: nothing is read
// outside a page, keys on a sound leaf page rise, and a whole file read from
// its pages gives each key once, rising, and finds each key it gives.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "robot/btree_page.h"
#include "robot/page_snapshot.h"

namespace {

bool inside(std::string_view part, std::string_view whole) {
    return part.empty() ||
           (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

// One page of the layout given by the first two bytes.
void one_page(FuzzInput *in) {
    btree_page::Layout layout;
    layout.page_size = 512u << (in->byte() % 8);
    const uint8_t form = in->byte();
    layout.swapped = (form & 1) != 0;
    layout.header_size = (form & 2) != 0 ? 32 : 26;
    std::string page(in->bytes(layout.page_size));
    page.resize(layout.page_size);
    const uint32_t pgno = form >> 2;
    btree_page::MetaProblem problem;
    (void)btree_page::decode_meta(page, &problem);
    std::vector<btree_page::Pair> pairs;
    if (btree_page::decode_leaf(layout, pgno, page, &pairs) != btree_page::PageKind::kLeaf &&
        !pairs.empty()) {
        __builtin_trap();
    }
    std::string_view last;
    bool have_last = false;
    for (const btree_page::Pair &pair : pairs) {
        if (!inside(pair.key.bytes, page) || !inside(pair.value.bytes, page)) __builtin_trap();
        if (pair.key.overflow_page != 0) continue;
        if (have_last && pair.key.bytes <= last) __builtin_trap();
        last = pair.key.bytes;
        have_last = true;
    }
    if (auto part = btree_page::decode_overflow(layout, pgno, page)) {
        if (!inside(part->bytes, page) || part->bytes.size() > layout.page_size - layout.header_size)
            __builtin_trap();
    }
}

// The rest of the input as a whole file.
void whole_file(FuzzInput *in) {
    char path[] = "/tmp/btree_page_fuzz.XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return;
    const std::string_view bytes = in->bytes(SIZE_MAX);
    const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fd);
    std::string why;
    std::unique_ptr<PageSnapshot> snapshot = written ? PageSnapshot::scan(path, &why) : nullptr;
    unlink(path);
    if (snapshot == nullptr) return;
    PageSnapshot::Cursor cursor(snapshot.get());
    std::string_view key, value;
    std::string last, found;
    bool first = true;
    while (cursor.next(&key, &value)) {
        if (!first && key <= last) __builtin_trap();
        last.assign(key);
        first = false;
        if (!snapshot->get(last, &found)) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    if (in.byte() % 2 == 0) {
        one_page(&in);
    } else {
        whole_file(&in);
    }
    return 0;
}
