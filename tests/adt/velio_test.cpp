#include "adt/velio.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "log/log.h"
#include "support/scratch_dir.h"

namespace {

using Velio = std::unique_ptr<velio, decltype(&velio_destroy)>;

Velio make(uint32_t maxmem = 0) {
    velio *raw = nullptr;
    velio_create(&raw);
    raw->maxmem = maxmem;
    return Velio(raw, velio_destroy);
}

int32_t append(velio *v, const std::string &bytes) {
    return velio_append(v, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// Everything from the start; a reader stuck in place stops at twice the length.
std::string read_all(velio *v) {
    velio_rewind(v);
    std::string out;
    char piece[1000];
    int32_t got;
    while (out.size() <= 2u * v->length && (got = velio_copy(v, piece, sizeof piece)) > 0) {
        out.append(piece, got);
    }
    return out;
}

TEST(Velio, MemoryGrowsByTheIncrementOrWhatIsNeededAndCanBeCopiedToAFile) {
    Velio small = make();
    EXPECT_EQ(append(small.get(), "hello"), 5);
    EXPECT_EQ(small->memsize, 4096u);
    EXPECT_EQ(append(small.get(), ""), 0);
    velio_dup2file(small.get());  // a file copy too, and closed to writing
    velio_finish(small.get());
    EXPECT_EQ(append(small.get(), "more"), 0);
    EXPECT_EQ(read_file(small->filename), "hello");
    EXPECT_EQ(read_all(small.get()), "hello");

    Velio large = make();
    EXPECT_EQ(append(large.get(), std::string(10000, 'b')), 10000);
    EXPECT_EQ(large->memsize, 10001u);  // the count and the NUL
    append(large.get(), std::string(10, 'c'));
    EXPECT_EQ(large->memsize, 14097u);
}

// One byte at a time is stored, in memory and in the spill file alike; the
// spill file goes with the buffer.
TEST(Velio, SingleBytesAreKeptAndTheSpillFileGoesWithTheBuffer) {
    velio *v = nullptr;
    velio_create(&v);
    v->maxmem = 8;
    std::string written;
    for (char c = 'a'; c <= 'p'; ++c) {
        ASSERT_EQ(append(v, std::string(1, c)), 1) << c;
        written += c;
    }
    EXPECT_EQ(read_all(v), written);
    ASSERT_NE(v->filename, nullptr);
    const std::string spill = v->filename;
    EXPECT_TRUE(file_exists(spill));
    velio_destroy(v);
    EXPECT_FALSE(file_exists(spill));
}

TEST(Velio, PassingTheLimitSpillsEveryByteToATemporaryFile) {
    Velio v = make(8192);
    const std::string first(4095, 'x'), second(4096, 'y');
    append(v.get(), first);
    append(v.get(), second);
    EXPECT_EQ(v->memsize, 8192u);  // exactly the limit, still in memory
    EXPECT_EQ(append(v.get(), "z"), 1);
    ASSERT_EQ(v->mode, kVelioFile);
    const std::string path = v->filename;
    EXPECT_EQ(path.substr(path.rfind('/') + 1, 5), "velio");
    velio_finish(v.get());
    EXPECT_EQ(read_file(path), first + second + "z");
    velio_reset(v.get());
    EXPECT_FALSE(file_exists(path));
}

// A spill moves what memory held to the file and gives up the block; one
// whose file cannot be made keeps everything in memory, and says why.
TEST(Velio, ASpillMovesWhatMemoryHeldAndAFailedOneKeepsItAll) {
    ScratchDir dir;
    vellog_init(1, dir.file("log").c_str());
    const std::string held = "in memory", more(5000, 'x');
    for (const char *name : {"spill", "missing/spill"}) {
        SCOPED_TRACE(name);
        const bool spills = std::string(name) == "spill";
        Velio v = make(5000);  // the first block of 4096 bytes holds the first append
        v->filename = strdup(dir.file(name).c_str());
        ASSERT_EQ(append(v.get(), held), 9);
        ASSERT_EQ(v->memsize, 4096u);
        EXPECT_EQ(append(v.get(), more), 5000);
        EXPECT_EQ(v->mode, spills ? kVelioFile : kVelioMemory);
        EXPECT_EQ(v->membuf == nullptr && v->memsize == 0, spills);
        EXPECT_EQ(read_all(v.get()), held + more);
        if (spills) {
            EXPECT_EQ(read_file(dir.file(name)), held + more);
        }
    }
    vellog_terminate();
    EXPECT_NE(read_file(dir.file("log"))
                  .find("ERROR: velio_append: " + dir.file("missing/spill") +
                        ": No such file or directory\n"),
              std::string::npos);
}

// A spill file that has gone since its descriptor was released takes no
// more bytes, and those refused are not counted.
TEST(Velio, AFileThatCannotBeReopenedTakesAndCountsNoMore) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.file("sub"));
    Velio v = make(1);
    v->filename = strdup(dir.file("sub/spill").c_str());
    ASSERT_EQ(append(v.get(), "abc"), 3);
    ASSERT_EQ(v->mode, kVelioFile);
    EXPECT_EQ(velio_releasefd(v.get()), 0);
    std::filesystem::remove_all(dir.file("sub"));
    EXPECT_EQ(append(v.get(), "def"), 0);
    EXPECT_EQ(v->length, 3u);
}

// A reset empties the buffer for a new start: reading starts at byte 0
// again, and the mode stays, but for a duplicated buffer, which goes on as
// a file.
TEST(Velio, AResetStartsReadingAgainAndKeepsTheMode) {
    Velio mem = make(), dup = make();
    char piece[8];
    for (velio *v : {mem.get(), dup.get()}) {
        ASSERT_EQ(append(v, "abc"), 3);
        ASSERT_EQ(velio_copy(v, piece, 3), 3);
    }
    EXPECT_EQ(velio_finish(mem.get()), 0);
    velio_dup2file(dup.get());
    for (velio *v : {mem.get(), dup.get()}) {
        velio_reset(v);
        ASSERT_EQ(append(v, "xy"), 2);
        velio_append(v, nullptr, 0);  // the write-behind block to the file
        EXPECT_EQ(velio_copy(v, piece, sizeof piece), 2);
        EXPECT_EQ(std::string(piece, 2), "xy");
    }
    EXPECT_EQ(mem->mode, kVelioMemory);
    EXPECT_EQ(dup->mode, kVelioFile);
}

TEST(Velio, AfterAGrowthFailsEveryAppendFailsUntilTheReset) {
    // With the limit, the large append after the failure would spill.
    for (uint32_t maxmem : {0u, 16384u}) {
        SCOPED_TRACE(maxmem);
        Velio v = make(maxmem);
        ASSERT_EQ(append(v.get(), "abc"), 3);
        void *(*saved)(void *, size_t) = velio_realloc;
        velio_realloc = [](void *, size_t) -> void * { return nullptr; };
        EXPECT_EQ(append(v.get(), std::string(5000, 'x')), 0);
        velio_realloc = saved;
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
    // As if 4 GiB less 8 bytes were held: the sizes must not wrap round.
    Velio v = make();
    ASSERT_EQ(append(v.get(), "abc"), 3);
    v->length = UINT32_MAX - 8;
    EXPECT_EQ(append(v.get(), std::string(16, 'x')), 0);
    EXPECT_EQ(v->length, UINT32_MAX - 8);
    v->length = 3;
    EXPECT_EQ(read_all(v.get()), "abc");
}

TEST(Velio, SmallAppendsReachTheFileInBlocksOf4096Bytes) {
    Velio v = make();
    velio_convert2file(v.get());
    const std::string block(4095, 'a');
    append(v.get(), block);
    EXPECT_EQ(read_file(v->filename), "");
    append(v.get(), "b");  // would fill the block: what waited is written
    EXPECT_EQ(read_file(v->filename), block);
}

// on_fd0: the process's standard input is closed, so the file is descriptor
// 0, as open as any other.
void appends_arrive_in_order(bool on_fd0) {
    Velio v = make();
    velio_convert2file(v.get());
    std::string expected;
    // 4093 exactly fills what the 3 before it left of the write-behind block.
    for (size_t n : {10u, 5000u, 3u, 4093u, 1u}) {
        const std::string piece(n, static_cast<char>('a' + n % 26));
        EXPECT_EQ(append(v.get(), piece), static_cast<int32_t>(n));
        expected += piece;
    }
    // A read before the rewind moves the descriptor into the file.
    char piece[22];
    EXPECT_EQ(velio_copy(v.get(), piece, sizeof piece), 22);
    EXPECT_EQ(read_all(v.get()), expected);
    ASSERT_EQ(append(v.get(), "more"), 4);
    // A release closes the descriptor, the waiting bytes (one, too) written
    // first; the next append opens the file again.
    const int fd = v->fd;
    if (on_fd0) {
        EXPECT_EQ(fd, 0);
    }
    velio_releasefd(v.get());
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(read_file(v->filename), expected + "more");
    ASSERT_EQ(append(v.get(), "t"), 1);
    velio_releasefd(v.get());
    EXPECT_EQ(read_file(v->filename), expected + "moret");
    ASSERT_EQ(append(v.get(), "ail"), 3);
    EXPECT_EQ(read_all(v.get()), expected + "moretail");
}

TEST(Velio, FileAppendsArriveInOrderWhateverReadsAndReleasesCameBetween) {
    appends_arrive_in_order(false);
    EXPECT_EXIT(
        {
            close(0);
            appends_arrive_in_order(true);
            std::exit(testing::Test::HasFailure() ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
}

TEST(Velio, AfterAResetTheNextSpillStartsTheOwnersFileEmpty) {
    ScratchDir dir;
    const std::string path = dir.file("mine");
    // The owner's file is missing, or holds an earlier user's bytes.
    for (const char *old : {"", "OLD-CONTENT"}) {
        SCOPED_TRACE(old);
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
        velio_reset(v.get());
        EXPECT_EQ(read_file(path), "new");  // the owner's file stays
    }
    EXPECT_EQ(velio_reset(nullptr), nullptr);
    EXPECT_EQ(velio_rewind(nullptr), nullptr);
    velio_destroy(nullptr);
}

}  // namespace
