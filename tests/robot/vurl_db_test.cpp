// Opening and closing the visited-URL database: the writer's mark, the
// metadata and its repair.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <thread>

#include "robot/robot_fixture.h"
#include "robot/vurl_writer_lock.h"

namespace {

class VisitedDbTest : public RobotTest {
  protected:
    // The URLs a, b, c with ids 1, 2, 3, and this metadata.
    void write_three_urls(uint32_t start, int32_t next_id, uint32_t flags, int32_t version = 2) {
        SampleDb db;
        for (const char *url : {"a", "b", "c"}) db.add(StoredRecord::full(url));
        db.set_meta(version, start, next_id, flags);
        write(db);
    }
};

TEST_F(VisitedDbTest, AReaderNeedsBothFilesAndMetadataAndLoadsItsWholeWords) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(visited_url_init(0), 0);
    EXPECT_TRUE(logged(testing::internal::GetCapturedStderr(), file("url-visited.db") + ": "));
    EXPECT_FALSE(file_exists(file("url-visited.db")));

    SampleDb db;
    db.add(StoredRecord::full("a"));
    db.drop_meta();
    write(db);
    EXPECT_EQ(visited_url_init(0), 0);
    visited_url_shutdown(0);
    EXPECT_EQ(stored_meta(), "");
    // Metadata cut short: the whole words it has are loaded.
    db.set_meta_bytes(meta_bytes(2, 1700000000, 0x01020304, 0).substr(0, 11));
    write(db);
    ASSERT_EQ(visited_url_init(0), 1);
    EXPECT_EQ(g_vurl_meta.version, 2);
    EXPECT_EQ(g_timestamp, 1700000000u);
    EXPECT_EQ(g_vurl_meta.next_id, 0);
}

TEST_F(VisitedDbTest, AnUnreadableIdFileIsNamedAndTheRecordFileKept) {
    write_three_urls(0, 4, 0);
    ASSERT_TRUE(write_file(file("vid.db"), std::string(4096, 'x')));
    testing::internal::CaptureStderr();
    EXPECT_EQ(visited_url_init(0), 0);
    // The open slot answers for both files: the record file alone is not open.
    EXPECT_EQ(vdb_url->open(vdb_url, 0), nullptr);
    EXPECT_NE(vdb_url->db, nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(logged(err, file("vid.db") + ": ")) << err;
    EXPECT_FALSE(logged(err, "url-visited.db")) << err;
    visited_url_shutdown(0);
    EXPECT_TRUE(file_exists(file("url-visited.db")));
}

// Whether the mark was still there while the crawler closed the files, its
// last writes still in the cache.
int g_marked_at_close = -1;
int close_noting_the_mark(storage_object *obj) {
    g_marked_at_close = visited_url_is_being_written();
    return vurl_close(obj);
}

TEST_F(VisitedDbTest, AWriterMarksTheFileUntilBothAreClosedAndASecondWriterIsRefused) {
    ASSERT_EQ(visited_url_init(1), 1);
    EXPECT_EQ(visited_url_is_being_written(), 1);
    vdb_url->close = close_noting_the_mark;
    visited_url_shutdown(1);
    EXPECT_EQ(g_marked_at_close, 1);
    EXPECT_EQ(visited_url_is_being_written(), 0);
    ASSERT_EQ(visited_url_init(0), 1);  // a reader leaves no mark
    EXPECT_EQ(visited_url_is_being_written(), 0);
    visited_url_shutdown(0);

    // Another crawler's mark: a lock on an open file of its own.
    const int other = open(file("url-visited.db").c_str(), O_RDWR);
    ASSERT_GE(other, 0);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    ASSERT_EQ(fcntl(other, F_OFD_SETLK, &whole), 0);
    EXPECT_EQ(visited_url_is_being_written(), 1);
    EXPECT_EQ(visited_url_init(1), 0);
    EXPECT_TRUE(
        logged(robot_log_text(), "Visited url database is open for writing in another process"));
    EXPECT_EQ(visited_url_init(0), 1);
    visited_url_shutdown(0);
    close(other);
    EXPECT_EQ(visited_url_init(1), 1);
}

TEST_F(VisitedDbTest, ReadersProbingNeverMakeAWriterFail) {
    ASSERT_EQ(visited_url_init(1), 1);
    visited_url_shutdown(1);
    const std::string path = file("url-visited.db");
    std::atomic<bool> stop{false};
    std::thread prober([&] {
        while (!stop) vurl_writer_lock_held(path.c_str());
    });
    int refused = 0;
    for (int i = 0; i < 5000; ++i) {
        refused += vurl_writer_lock_take(path.c_str()) == 0;
        vurl_writer_lock_release();
    }
    stop = true;
    prober.join();
    EXPECT_EQ(refused, 0);
}

TEST_F(VisitedDbTest, AForkedChildNeitherDropsItsParentsMarkNorKeepsItAfterTheRelease) {
    ASSERT_EQ(visited_url_init(1), 1);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        vurl_writer_lock_release();
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    EXPECT_EQ(visited_url_is_being_written(), 1);

    child = fork();  // sharing the parent's open files while it lives
    ASSERT_GE(child, 0);
    if (child == 0) {
        pause();
        _exit(0);
    }
    visited_url_shutdown(1);
    const int marked = visited_url_is_being_written();
    const int second_writer = visited_url_init(1);
    visited_url_shutdown(0);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(marked, 0);
    EXPECT_EQ(second_writer, 1);
}

TEST_F(VisitedDbTest, ANewDatabaseStoresItsMetadataAtOnceAndAShutdownOnlyWhenAsked) {
    const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
    ASSERT_EQ(visited_url_init(1), 1);
    const uint32_t started = g_timestamp;
    EXPECT_GE(started, before);
    g_vurl_meta.next_id = 9;
    visited_url_shutdown(0);
    EXPECT_EQ(stored_meta(), meta_bytes(2, started, 1, 0));

    // Still empty: no record 0 answers the probe of next_id - 1, and the
    // repair lands on 1 again.
    ASSERT_EQ(visited_url_init(1), 1);
    EXPECT_EQ(g_vurl_meta.next_id, 1);
    EXPECT_EQ(g_timestamp, started);
    EXPECT_TRUE(
        logged(module_log_text(),
               "ERROR: Visited URL db has unexpected meta info (id = 0), doing exhaustive "
               "check...\n"));
    g_vurl_meta.next_id = 9;
    visited_url_shutdown(1);
    EXPECT_EQ(stored_meta(), meta_bytes(2, started, 9, 0));
    ASSERT_EQ(visited_url_init(1), 1);
    test_hooks().erase_status = 1;
    visited_url_shutdown(1);
    EXPECT_EQ(stored_meta(), meta_bytes(2, 0, 1, 0));
}

TEST_F(VisitedDbTest, AnUnfinishedCrawlIsResumedAndOnlyTheCrawlerStampsANewOne) {
    // The stored crawl start and flags, the open's create, whether a crawl
    // start is stamped now, and g_mode_iterating.
    const std::tuple<uint32_t, uint32_t, int, bool, int> rows[] = {
        {0, 0, 0, false, 0},           // a completed crawl, read
        {0, 1, 1, true, 0},            // a completed crawl, crawled again
        {1700000000, 1, 0, false, 1},  // a crawl in its re-visit pass
        {0x80000010, 0, 1, false, 0},  // a crawl started after January 2038
    };
    for (const auto &[start, flags, create, stamped_now, iterating] : rows) {
        SCOPED_TRACE(start);
        write_three_urls(start, 4, flags);
        const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
        ASSERT_EQ(visited_url_init(create), 1);
        const uint32_t expected = stamped_now ? g_timestamp : start;
        EXPECT_GE(g_timestamp, stamped_now ? before : start);
        EXPECT_EQ(g_timestamp, expected);
        EXPECT_EQ(g_mode_iterating, iterating);
        visited_url_shutdown(0);
        EXPECT_EQ(stored_meta(), meta_bytes(2, expected, 4, flags));
    }
    // Metadata of any version above 0 is kept: the crawl goes on from its next id.
    write_three_urls(1700000000, 4, 0, 1);
    ASSERT_EQ(visited_url_init(1), 1);
    EXPECT_EQ(g_vurl_meta.next_id, 4);
    visited_url_shutdown(0);
    EXPECT_EQ(module_log_text(), "");  // a sound next_id is never repaired
}

TEST_F(VisitedDbTest, TheRepairNeverHandsOutAnIdInUseNorOneThatIsNone) {
    // Ids 1, 2 and 5 in use (four keys in vid.db). Each row: the stored
    // next_id, an id in vid.db for one more URL z and a key under which a
    // record of z is stored (none when 0 or empty), and the repaired next_id.
    const std::tuple<const char *, int32_t, uint32_t, std::string, int32_t> rows[] = {
        {"next_id behind the records", 2, 0, "", 6},
        {"next_id on the highest id", 5, 0, "", 6},
        {"next_id in the gap, both probes pass", 3, 0, "", 6},
        {"next_id 0", 0, 0, "", 6},
        {"a damaged id FF FF FF FF in vid.db", 2, 0xffffffff, "", 6},
        {"an id of 2^31 in vid.db with its record", 2, 0x80000000, be32(0x80000000), 6},
        {"a record under a key that is no id", 2, 0, "longer key", 6},
        {"the highest id left", 2, 0x7ffffffe, be32(0x7ffffffe), 0x7fffffff},
    };
    for (const auto &[what, stored_next_id, z_id, record_key, repaired] : rows) {
        SCOPED_TRACE(what);
        SampleDb db;
        db.add(StoredRecord::full("a"));
        db.add(StoredRecord::full("b"));
        db.put_id("e", be32(5));
        db.put_record(5, StoredRecord::full("e").bytes());
        if (z_id != 0) db.put_id("z", be32(z_id));
        if (!record_key.empty()) db.put_record_key(record_key, StoredRecord::full("z").bytes());
        db.set_meta(2, 1700000000, stored_next_id, 0);
        write(db);
        write_file(file("module.log"), "");
        ASSERT_EQ(visited_url_init(1), 1);
        EXPECT_EQ(g_vurl_meta.next_id, repaired);
        EXPECT_TRUE(logged(module_log_text(), "unexpected meta info (id = "));
        visited_url_shutdown(0);
        EXPECT_EQ(stored_meta(), meta_bytes(2, 1700000000, repaired, 0));
    }
}

}  // namespace
