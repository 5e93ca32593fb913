// Reading a B-tree file from its pages as they lie on disk: the same records
// Berkeley DB reads from a file at rest, in every form of file the crawler's
// library can write, and nothing read past a page, twice or out of order
// from a file caught half-written or damaged.
#include <db.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "robot/dbt.h"
#include "robot/btree_page.h"
#include "robot/page_snapshot.h"
#include "tests/support/scratch_dir.h"

namespace {

using Records = std::map<std::string, std::string>;

// How a test file is made.
struct Form {
    const char *name;
    DBTYPE type = DB_BTREE;
    uint32_t page_size = 0;  // 0: Berkeley DB's default
    int byte_order = 0;      // 0: the machine's; 4321: big-endian
    uint32_t flags = 0;      // DB_DUP, DB_CHKSUM
};

// Writes records into a new file at path made as form says; false on failure.
bool write_records(const std::string &path, const Form &form, const Records &records,
                   const std::vector<std::string> &deleted = {}) {
    DB *db = nullptr;
    if (db_create(&db, nullptr, 0) != 0) return false;
    if (form.page_size != 0) db->set_pagesize(db, form.page_size);
    if (form.byte_order != 0) db->set_lorder(db, form.byte_order);
    if (form.flags != 0) db->set_flags(db, form.flags);
    bool ok = db->open(db, nullptr, path.c_str(), nullptr, form.type, DB_CREATE, 0644) == 0;
    for (const auto &[k, v] : records) {
        DBT key = borrowed_dbt(k.data(), k.size());
        DBT value = borrowed_dbt(v.data(), v.size());
        ok = ok && db->put(db, nullptr, &key, &value, 0) == 0;
    }
    for (const std::string &k : deleted) {
        DBT key = borrowed_dbt(k.data(), k.size());
        ok = ok && db->del(db, nullptr, &key, 0) == 0;
    }
    return db->close(db, 0) == 0 && ok;
}

// Keys and values of every shape a crawl stores: ids and URLs, bytes of every
// value, empty values, and items too long for a page of either kind.
Records sample_records(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    Records records;
    for (size_t i = 0; i < count; ++i) {
        std::string key = "http://h" + std::to_string(random() % 97) + ".test/" + std::to_string(i);
        if (i % 7 == 0) key.push_back(static_cast<char>(random() % 256));
        if (i % 401 == 0) key.append(70000 + random() % 9000, 'k');
        std::string value(i % 13 == 0 ? 0 : random() % 300, '\0');
        for (char &c : value) c = static_cast<char>(random() % 256);
        if (i % 97 == 0) value.append(20000 + random() % 150000, 'v');
        records[key] = value;
    }
    return records;
}

// Everything a cursor on the pages reads, in order.
std::vector<std::pair<std::string, std::string>> read_all(const PageSnapshot &snapshot,
                                                          std::string_view from = {}) {
    std::vector<std::pair<std::string, std::string>> out;
    PageSnapshot::Cursor cursor(&snapshot);
    cursor.seek(from);
    std::string_view key, value;
    while (cursor.next(&key, &value)) out.emplace_back(key, value);
    return out;
}

TEST(PageSnapshot, EveryFormOfFileReadsAsItWasWritten) {
    const Form forms[] = {
        {"default"},
        {"smallest pages", DB_BTREE, 512},
        {"largest pages", DB_BTREE, 65536},
        {"big-endian", DB_BTREE, 0, 4321},
        {"checksummed", DB_BTREE, 0, 0, DB_CHKSUM},
    };
    const Records records = sample_records(3000, 7);
    std::vector<std::string> deleted;
    Records kept;
    for (const auto &[k, v] : records) {
        if (kept.size() % 5 == 4 && deleted.size() < kept.size() / 4) {
            deleted.push_back(k);
        } else {
            kept[k] = v;
        }
    }
    const std::vector<std::pair<std::string, std::string>> expected(kept.begin(), kept.end());
    for (const Form &form : forms) {
        SCOPED_TRACE(form.name);
        ScratchDir dir;
        ASSERT_TRUE(write_records(dir.file("f.db"), form, records, deleted));
        std::string why;
        std::unique_ptr<PageSnapshot> snapshot = PageSnapshot::scan(dir.file("f.db"), &why);
        ASSERT_NE(snapshot, nullptr) << why;
        const auto all = read_all(*snapshot);
        EXPECT_TRUE(all == expected);
        for (const auto &[k, v] : records) {
            std::string value;
            const bool found = snapshot->get(k, &value);
            EXPECT_EQ(found, kept.count(k) == 1);
            if (found) {
                EXPECT_EQ(value, v);
            }
        }
        std::string value;
        EXPECT_FALSE(snapshot->get("http://absent.test/", &value));
        EXPECT_FALSE(snapshot->get("", &value));
        // From a key held and from one between two keys.
        const auto middle = std::next(kept.begin(), kept.size() / 2);
        EXPECT_EQ(read_all(*snapshot, middle->first).front().first, middle->first);
        EXPECT_EQ(read_all(*snapshot, middle->first + '\0').front().first,
                  std::next(middle)->first);
        EXPECT_TRUE(read_all(*snapshot, "\xff\xff").empty());
        std::string last;
        ASSERT_TRUE(snapshot->last_key(&last));
        EXPECT_EQ(last, kept.rbegin()->first);
        EXPECT_EQ(snapshot->passed_over().pages + snapshot->passed_over().records, 0u);
    }
}

TEST(PageSnapshot, AFileWithoutRecordsHasNoLastKey) {
    ScratchDir dir;
    ASSERT_TRUE(write_records(dir.file("empty.db"), Form{"empty"}, Records{}));
    std::string why;
    const std::unique_ptr<PageSnapshot> snapshot = PageSnapshot::scan(dir.file("empty.db"), &why);
    ASSERT_NE(snapshot, nullptr) << why;
    std::string key = "untouched";
    EXPECT_FALSE(snapshot->last_key(&key));
    EXPECT_EQ(key, "untouched");
}

TEST(PageSnapshot, FilesItCannotReadAreRefusedWithTheReason) {
    ScratchDir dir;
    const Records records = sample_records(50, 3);
    ASSERT_TRUE(write_records(dir.file("hash.db"), {"hash", DB_HASH}, records));
    ASSERT_TRUE(write_records(dir.file("dup.db"), {"dup", DB_BTREE, 0, 0, DB_DUP}, records));
    ASSERT_TRUE(write_file(dir.file("text.db"), std::string(4096, 'x')));
    ASSERT_TRUE(write_file(dir.file("empty.db"), ""));
    const std::pair<const char *, const char *> cases[] = {
        {"hash.db", "not a B-tree file"},
        {"dup.db", "a B-tree file of a form that cannot be read page by page"},
        {"text.db", "not a B-tree file"},
        {"empty.db", "not a B-tree file"},
        {"missing.db", "No such file or directory"},
    };
    for (const auto &[name, reason] : cases) {
        std::string why;
        EXPECT_EQ(PageSnapshot::scan(dir.file(name), &why), nullptr) << name;
        EXPECT_EQ(why, reason) << name;
    }
}

// A crawler writes its pages out in no order: the file on disk mixes pages of
// one moment with pages of a later one. Each key is read once, in order, with
// a value it had at one of the two moments.
TEST(PageSnapshot, AFileHalfWrittenGivesEachKeyOnceInOrderWithAValueItHad) {
    ScratchDir dir;
    const std::string path = dir.file("f.db");
    Records before = sample_records(4000, 11);
    ASSERT_TRUE(write_records(path, {"default"}, before));
    const std::string old_bytes = read_file(path);
    // Later: values grow and new keys come in between, so pages split.
    Records after = before;
    std::mt19937 random(5);
    for (auto &[k, v] : after) {
        if (random() % 3 == 0) v.append(200, 'g');
    }
    for (const auto &[k, v] : sample_records(4000, 12)) after[k + "~"] = v;
    ASSERT_TRUE(write_records(path, {"default"}, after));
    std::string mixed = read_file(path);
    const size_t page = 4096;
    for (size_t trial = 0; trial < 20; ++trial) {
        // Some pages of the earlier file in place of the later ones.
        std::string bytes = mixed;
        for (size_t at = page; at + page <= old_bytes.size(); at += page) {
            if (random() % 4 == 0) bytes.replace(at, page, old_bytes, at, page);
        }
        ASSERT_TRUE(write_file(path, bytes));
        std::string why;
        std::unique_ptr<PageSnapshot> snapshot = PageSnapshot::scan(path, &why);
        ASSERT_NE(snapshot, nullptr) << why;
        std::string last;
        size_t read = 0;
        for (const auto &[k, v] : read_all(*snapshot)) {
            ASSERT_TRUE(read == 0 || k > last);
            last = k;
            ++read;
            const auto b = before.find(k);
            const auto a = after.find(k);
            ASSERT_TRUE((b != before.end() && b->second == v) || (a != after.end() && a->second == v));
            std::string value;
            ASSERT_TRUE(snapshot->get(k, &value));
            ASSERT_TRUE((b != before.end() && b->second == value) ||
                        (a != after.end() && a->second == value));
        }
        EXPECT_GT(read, before.size() / 2);
    }
}

// Damage anywhere: never a read past a page (the sanitizers watch), never a
// loop, keys still rise.
TEST(PageSnapshot, DamagedPagesAreNeverReadPast) {
    ScratchDir dir;
    const std::string path = dir.file("f.db");
    ASSERT_TRUE(write_records(path, {"default"}, sample_records(2000, 21)));
    const std::string good = read_file(path);
    std::mt19937 random(99);
    uint64_t passed_over = 0;
    for (int trial = 0; trial < 60; ++trial) {
        std::string bytes = good;
        for (int hits = 0; hits < 40; ++hits) {
            const size_t at = 4096 + random() % (bytes.size() - 4096);
            bytes[at] = static_cast<char>(random() % 256);
        }
        ASSERT_TRUE(write_file(path, bytes));
        std::string why;
        std::unique_ptr<PageSnapshot> snapshot = PageSnapshot::scan(path, &why);
        ASSERT_NE(snapshot, nullptr) << why;
        std::string last;
        bool first = true;
        for (const auto &[k, v] : read_all(*snapshot)) {
            ASSERT_TRUE(first || k > last);
            last = k;
            first = false;
        }
        passed_over += snapshot->passed_over().pages + snapshot->passed_over().records;
    }
    EXPECT_GT(passed_over, 0u);
}

}  // namespace

namespace {

// Leaf pages that all name one long key on overflow pages (copies of one
// page, each under its own number) cost the scan no more than the file: the
// copies past that are passed over and counted, the key still read once.
TEST(PageSnapshot, LeavesNamingOneLongKeyOverAndOverArePassedOverPastTheFilesSize) {
    ScratchDir dir;
    const std::string path = dir.file("f.db");
    const std::string key(512 * 1024, 'k');
    ASSERT_TRUE(write_records(path, {"default", DB_BTREE, 4096}, {{key, "v"}}));
    std::string bytes = read_file(path);
    const size_t page = 4096;
    size_t leaf = 0;
    for (size_t at = page; at + page <= bytes.size(); at += page) {
        if (bytes[at + 25] == 5) leaf = at;  // the one leaf page
    }
    ASSERT_NE(leaf, 0u);
    const std::string leaf_page = bytes.substr(leaf, page);
    const uint32_t copies = 300;
    for (uint32_t i = 0; i < copies; ++i) {
        std::string copy = leaf_page;
        const uint32_t pgno = static_cast<uint32_t>(bytes.size() / page);
        std::memcpy(copy.data() + 8, &pgno, sizeof pgno);
        bytes += copy;
    }
    ASSERT_TRUE(write_file(path, bytes));
    std::string why;
    std::unique_ptr<PageSnapshot> snapshot = PageSnapshot::scan(path, &why);
    ASSERT_NE(snapshot, nullptr) << why;
    // Twice the file's bytes hold the key this many times at most.
    const uint64_t readable = 2 * bytes.size() / key.size();
    EXPECT_GE(snapshot->passed_over().pages, copies + 1 - readable);
    const auto all = read_all(*snapshot);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_TRUE(all[0].first == key && all[0].second == "v");
    std::string value;
    EXPECT_TRUE(snapshot->get(key, &value));
}

}  // namespace

namespace {

// A page of 512 bytes, number pgno, of the given type; a leaf's items (key,
// value, key, ...) packed from its end, an overflow page's bytes after its
// header.
std::string page_of(uint8_t type, uint32_t pgno, const std::vector<std::string> &items) {
    std::string page(512, '\0');
    auto put16 = [&](size_t at, size_t v) {
        const uint16_t u = static_cast<uint16_t>(v);
        std::memcpy(&page[at], &u, 2);
    };
    std::memcpy(&page[8], &pgno, 4);
    page[25] = static_cast<char>(type);
    if (type == 7) {  // overflow: the bytes' count at 22, no next page
        page.replace(26, items[0].size(), items[0]);
        put16(22, items[0].size());
        return page;
    }
    page[24] = 1;  // a leaf's level
    put16(20, items.size());
    size_t at = page.size();
    for (size_t i = 0; i < items.size(); ++i) {
        at -= 3 + items[i].size();
        put16(at, items[i].size());
        page[at + 2] = 1;  // key or data on the page
        page.replace(at + 3, items[i].size(), items[i]);
        put16(26 + 2 * i, at);
    }
    put16(22, at);
    return page;
}

// A leaf is read only when its keys rise strictly; a page shorter than the
// page size is never read, whatever it claims.
TEST(BtreePage, ALeafHoldsTogetherOnlyWithRisingKeysAndNoShortPageIsRead) {
    const btree_page::Layout layout{512, 26, false};
    std::vector<btree_page::Pair> pairs;
    const struct {
        std::vector<std::string> items;
        btree_page::PageKind kind;
    } leaves[] = {
        {{"a", "1", "b", "2", "c", "3"}, btree_page::PageKind::kLeaf},
        {{"a", "1", "c", "2", "b", "3"}, btree_page::PageKind::kBad},
        {{"a", "1", "a", "2"}, btree_page::PageKind::kBad},
    };
    for (const auto &leaf : leaves) {
        EXPECT_EQ(btree_page::decode_leaf(layout, 7, page_of(5, 7, leaf.items), &pairs), leaf.kind);
        EXPECT_EQ(pairs.size(), leaf.kind == btree_page::PageKind::kLeaf ? 3u : 0u);
    }
    const std::string leaf = page_of(5, 7, {"a", "1"});
    EXPECT_EQ(btree_page::decode_leaf(layout, 7, leaf.substr(0, 511), &pairs),
              btree_page::PageKind::kBad);
    const std::string overflow = page_of(7, 9, {"part"});
    const auto part = btree_page::decode_overflow(layout, 9, overflow);
    ASSERT_TRUE(part.has_value());
    EXPECT_EQ(part->bytes, "part");
    EXPECT_FALSE(btree_page::decode_overflow(layout, 9, overflow.substr(0, 511)).has_value());
}

}  // namespace
