#include "adt/velio.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "support/scratch_dir.h"

namespace {

struct DestroyVelio {
    void operator()(velio *v) const { velio_destroy(v); }
};
using Velio = std::unique_ptr<velio, DestroyVelio>;

Velio make(uint32_t maxmem = 0) {
    velio *raw = nullptr;
    velio_create(&raw);
    raw->maxmem = maxmem;
    return Velio(raw);
}

int32_t append(velio *v, const std::string &bytes) {
    return velio_append(v, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// Everything from the start, read in small pieces.
std::string read_all(velio *v) {
    velio_rewind(v);
    std::string out;
    char piece[1000];
    for (int32_t got; (got = velio_copy(v, piece, sizeof piece)) > 0;) out.append(piece, got);
    return out;
}

TEST(Velio, MemoryGrowsByTheIncrementOrByWhatIsNeeded) {
    Velio small = make();
    EXPECT_EQ(append(small.get(), std::string(10, 'a')), 10);
    EXPECT_EQ(small->memsize, 4096u);
    EXPECT_EQ(std::string(small->membuf), std::string(10, 'a'));

    Velio large = make();
    EXPECT_EQ(append(large.get(), std::string(10000, 'b')), 10000);
    EXPECT_EQ(large->memsize, 10001u);
    append(large.get(), std::string(10, 'c'));
    EXPECT_EQ(large->memsize, 14097u);
    EXPECT_EQ(large->mode, kVelioMemory);
    EXPECT_EQ(append(large.get(), ""), 0);
    EXPECT_EQ(large->length, 10010u);
}

TEST(Velio, PassingTheLimitSpillsEveryByteToATemporaryFile) {
    Velio v = make(8192);
    const std::string first(4095, 'x'), second(4096, 'y');
    append(v.get(), first);
    append(v.get(), second);
    EXPECT_EQ(v->mode, kVelioMemory);
    EXPECT_EQ(v->memsize, 8192u);
    EXPECT_EQ(append(v.get(), "z"), 1);
    ASSERT_EQ(v->mode, kVelioFile);
    ASSERT_NE(v->filename, nullptr);
    const std::string path = v->filename;
    EXPECT_EQ(path.substr(path.rfind('/') + 1, 5), "velio");
    velio_finish(v.get());
    EXPECT_EQ(read_file(path), first + second + "z");
    EXPECT_EQ(read_all(v.get()), first + second + "z");

    velio_reset(v.get());
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(v->mode, kVelioFile);  // stays a file buffer, with a new file next time
}

TEST(Velio, ASpillThatCannotWriteKeepsTheContentInMemory) {
    Velio v = make(4096);
    v->filename = strdup("/nonexistent-dir/spill");
    const std::string first(4000, 'a'), more(200, 'b');
    append(v.get(), first);
    EXPECT_EQ(append(v.get(), more), 200);
    EXPECT_EQ(v->mode, kVelioMemory);
    EXPECT_EQ(v->length, 4200u);
    EXPECT_EQ(read_all(v.get()), first + more);
}

// Every growth of a memory block fails while one of these lives.
struct FailingGrowth {
    void *(*saved)(void *, size_t) = velio_realloc;
    FailingGrowth() {
        velio_realloc = [](void *, size_t) -> void * { return nullptr; };
    }
    ~FailingGrowth() { velio_realloc = saved; }
};

TEST(Velio, AfterAGrowthFailsEveryAppendFailsUntilTheReset) {
    // With the limit, the large append after the failure would spill.
    for (uint32_t maxmem : {0u, 16384u}) {
        SCOPED_TRACE(maxmem);
        Velio v = make(maxmem);
        ASSERT_EQ(append(v.get(), "abc"), 3);
        {
            FailingGrowth failing;
            EXPECT_EQ(append(v.get(), std::string(5000, 'x')), 0);
        }
        // One that fits the size asked for, one that needs a larger block.
        for (size_t n : {10u, 123456u}) EXPECT_EQ(append(v.get(), std::string(n, 'y')), 0);
        // What is read back was appended: some or all of "abc".
        const std::string seen = read_all(v.get());
        EXPECT_TRUE(std::string_view("abc").starts_with(seen)) << seen.size() << " bytes read";

        velio_reset(v.get());
        EXPECT_EQ(append(v.get(), "new"), 3);
        EXPECT_EQ(read_all(v.get()), "new");
    }
}

TEST(Velio, AnAppendPastFourGigabytesIsRefusedNotWrapped) {
    // The count as if 4 GiB less a few bytes had been appended: the sizes of
    // the next append must not wrap round to fit the small block.
    Velio v = make();
    ASSERT_EQ(append(v.get(), "abc"), 3);
    v->length = UINT32_MAX - 8;
    EXPECT_EQ(append(v.get(), std::string(16, 'x')), 0);
    EXPECT_EQ(v->length, UINT32_MAX - 8);
    v->length = 3;
    EXPECT_EQ(read_all(v.get()), "abc");
}

TEST(Velio, AfterAResetTheNextSpillStartsTheOwnersFileEmpty) {
    ScratchDir dir;
    // The owner's file is missing, or holds an earlier user's bytes.
    for (const char *old : {"", "OLD-CONTENT"}) {
        SCOPED_TRACE(old);
        const std::string path = dir.file("mine");
        unlink(path.c_str());
        ASSERT_TRUE(*old == '\0' || write_file(path, old));
        Velio v = make();
        velio_convert2file(v.get());
        append(v.get(), "first");
        velio_reset(v.get());
        v->filename = strdup(path.c_str());
        EXPECT_EQ(append(v.get(), "new"), 3);
        velio_finish(v.get());
        EXPECT_EQ(read_file(path), "new");
        EXPECT_EQ(read_all(v.get()), "new");
    }
}

TEST(Velio, FileAppendsLargeAndSmallArriveInOrder) {
    Velio v = make();
    velio_convert2file(v.get());
    ASSERT_EQ(v->mode, kVelioFile);
    std::string expected;
    for (size_t n : {10u, 5000u, 3u, 4090u, 1u}) {
        const std::string piece(n, static_cast<char>('a' + n % 26));
        EXPECT_EQ(append(v.get(), piece), static_cast<int32_t>(n));
        expected += piece;
    }
    velio_releasefd(v.get());  // waiting bytes reach the file first
    EXPECT_EQ(read_all(v.get()), expected);
}

TEST(Velio, AppendsReachTheEndOfTheFileWhateverReadsAndReleasesCameBetween) {
    Velio v = make(300);
    v->increment = 64;
    std::string expected(456, 'x');
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<char>(i * 7);
    ASSERT_EQ(append(v.get(), expected.substr(0, 200)), 200);
    ASSERT_EQ(append(v.get(), expected.substr(200)), 256);  // spills; 256 wait
    ASSERT_EQ(v->mode, kVelioFile);
    // A read before the rewind moves the descriptor into the file.
    char piece[22];
    EXPECT_EQ(velio_copy(v.get(), piece, sizeof piece), 22);
    EXPECT_EQ(read_all(v.get()), expected);

    // A released descriptor is reopened with the content kept.
    velio_releasefd(v.get());
    ASSERT_EQ(append(v.get(), "tail"), 4);
    EXPECT_EQ(read_all(v.get()), expected + "tail");
}

TEST(Velio, AClosedBufferRefusesAppendsAndReadsTheRestOnly) {
    Velio v = make();
    append(v.get(), "hello");
    velio_finish(v.get());
    velio_finish(v.get());
    EXPECT_EQ(append(v.get(), "more"), 0);
    EXPECT_EQ(v->length, 5u);
    char out[16];
    velio_rewind(v.get());
    EXPECT_EQ(velio_copy(v.get(), out, 3), 3);
    EXPECT_EQ(velio_copy(v.get(), out, 16), 2);
    EXPECT_EQ(velio_copy(v.get(), out, 16), 0);
}

TEST(Velio, DuplicatingKeepsMemoryAndAnOwnersFileSurvivesTheReset) {
    ScratchDir dir;
    Velio v = make();
    v->filename = strdup(dir.file("mine").c_str());
    append(v.get(), "content");
    velio_dup2file(v.get());
    EXPECT_EQ(v->mode, kVelioMemory | kVelioFile);
    EXPECT_EQ(v->closed, 1);
    EXPECT_EQ(read_file(dir.file("mine")), "content");
    EXPECT_EQ(read_all(v.get()), "content");
    velio_reset(v.get());
    EXPECT_TRUE(file_exists(dir.file("mine")));
    EXPECT_EQ(velio_reset(nullptr), nullptr);
    EXPECT_EQ(velio_rewind(nullptr), nullptr);
    velio_destroy(nullptr);
}

}  // namespace
