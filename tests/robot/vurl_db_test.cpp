#include "robot/vurl_db.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/wait.h>

#include <atomic>
#include <ctime>
#include <string>
#include <thread>

#include "robot/id_indirect.h"
#include "robot/robot_home.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_writer_lock.h"
#include "support/sample_db.h"
#include "support/scratch_dir.h"
#include "support/test_hooks.h"

namespace {

const std::string kMetaKey = std::string("VURL_META_DATA") + '\0';

class VisitedDbTest : public RobotHomeTest {
  protected:
    void write(const SampleDb &db) { ASSERT_EQ(db.write(robot_home()), ""); }
    // The stored metadata, once the database is shut down.
    std::string stored_meta() { return read_stored(file("vid.db"), kMetaKey).value_or(""); }
    // A database of the URLs a, b, c with ids 1, 2, 3.
    SampleDb three_urls() {
        SampleDb db;
        for (const char *url : {"a", "b", "c"}) db.add(StoredRecord::full(url));
        return db;
    }
};

std::string meta(int32_t version, uint32_t start, int32_t next_id, uint32_t flags) {
    return be32(static_cast<uint32_t>(version)) + be32(start) +
           be32(static_cast<uint32_t>(next_id)) + be32(flags);
}

TEST_F(VisitedDbTest, AReaderNeedsBothFilesAndCreatesNothing) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(visited_url_init(0), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(file("url-visited.db") + ": "),
              std::string::npos);
    visited_url_shutdown(0);
    EXPECT_FALSE(file_exists(file("url-visited.db")));
    EXPECT_FALSE(file_exists(file("vid.db")));
}

TEST_F(VisitedDbTest, AWriterMarksTheFileAndASecondWriterIsRefused) {
    ASSERT_EQ(visited_url_init(1), 1);
    EXPECT_EQ(visited_url_is_being_written(), 1);
    visited_url_shutdown(1);
    EXPECT_EQ(visited_url_is_being_written(), 0);
    // A reader leaves no mark.
    ASSERT_EQ(visited_url_init(0), 1);
    EXPECT_EQ(visited_url_is_being_written(), 0);
    visited_url_shutdown(0);

    // Another crawler's mark: a lock on an open file of its own.
    const int other = open(file("url-visited.db").c_str(), O_RDWR);
    ASSERT_GE(other, 0);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(other, F_OFD_SETLK, &whole), 0);
    EXPECT_EQ(visited_url_is_being_written(), 1);
    EXPECT_EQ(visited_url_init(1), 0);
    EXPECT_NE(robot_log_text().find("Visited url database is open for writing in another process"),
              std::string::npos);
    EXPECT_EQ(visited_url_init(0), 1);
    visited_url_shutdown(0);
    close(other);
    EXPECT_EQ(visited_url_init(1), 1);
}

// What a reader sees while the crawler closes the files: its last writes are
// still in the cache, so the mark must still be there.
int g_marked_at_close = -1;
int close_noting_the_mark(storage_object *obj) {
    g_marked_at_close = visited_url_is_being_written();
    return vurl_close(obj);
}

TEST_F(VisitedDbTest, TheMarkStaysUntilBothFilesAreClosed) {
    ASSERT_EQ(visited_url_init(1), 1);
    vdb_url->close = close_noting_the_mark;
    visited_url_shutdown(1);
    EXPECT_EQ(g_marked_at_close, 1);
    EXPECT_EQ(visited_url_is_being_written(), 0);
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
        if (vurl_writer_lock_take(path.c_str()) == 0) ++refused;
        vurl_writer_lock_release();
    }
    stop = true;
    prober.join();
    EXPECT_EQ(refused, 0);
}

TEST_F(VisitedDbTest, AForkedChildCannotDropItsParentsMark) {
    ASSERT_EQ(visited_url_init(1), 1);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        vurl_writer_lock_release();
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    EXPECT_EQ(visited_url_is_being_written(), 1);
}

TEST_F(VisitedDbTest, ReleasingTheMarkReleasesItForForkedChildrenToo) {
    ASSERT_EQ(visited_url_init(1), 1);
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Shares the parent's open files until it ends.
        char byte;
        close(gate[1]);
        while (read(gate[0], &byte, 1) < 0) {
        }
        _exit(0);
    }
    close(gate[0]);
    visited_url_shutdown(1);
    const int marked = visited_url_is_being_written();
    const int second_writer = visited_url_init(1);
    visited_url_shutdown(0);
    close(gate[1]);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(marked, 0);
    EXPECT_EQ(second_writer, 1);
}

TEST_F(VisitedDbTest, AnUnreadableIdFileIsNamedInTheError) {
    write(three_urls());
    ASSERT_TRUE(write_file(file("vid.db"), std::string(4096, 'x')));
    testing::internal::CaptureStderr();
    EXPECT_EQ(visited_url_init(0), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(file("vid.db") + ": "), std::string::npos) << err;
    EXPECT_EQ(err.find("url-visited.db"), std::string::npos) << err;
    // Kept for the crawler's operator to look at.
    EXPECT_TRUE(file_exists(file("url-visited.db")));
}

TEST_F(VisitedDbTest, AReaderRefusesADatabaseWithoutMetadata) {
    SampleDb db = three_urls();
    db.drop_meta();
    write(db);
    EXPECT_EQ(visited_url_init(0), 0);
    visited_url_shutdown(0);
    EXPECT_EQ(read_stored(file("vid.db"), kMetaKey), std::nullopt);
}

TEST_F(VisitedDbTest, ANewDatabaseStartsACrawlAndStoresItsMetadataAtOnce) {
    const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
    ASSERT_EQ(visited_url_init(1), 1);
    EXPECT_EQ(g_vurl_meta.version, 2);
    EXPECT_EQ(g_vurl_meta.next_id, 1);
    EXPECT_EQ(g_vurl_meta.flags, 0u);
    EXPECT_GE(g_timestamp, before);
    EXPECT_EQ(g_vurl_meta.crawl_start, g_timestamp);
    const uint32_t started = g_timestamp;
    visited_url_shutdown(0);
    EXPECT_EQ(stored_meta(), meta(2, started, 1, 0));

    // Still empty: no record 0 answers the probe of next_id - 1, and the
    // repair lands on 1 again.
    ASSERT_EQ(visited_url_init(1), 1);
    EXPECT_EQ(g_vurl_meta.next_id, 1);
    EXPECT_EQ(g_timestamp, started);
    EXPECT_NE(module_log_text().find(
                  "Visited URL db has unexpected meta info (id = 0), doing exhaustive check...\n"),
              std::string::npos)
        << module_log_text();
}

TEST_F(VisitedDbTest, ACompletedCrawlReadsAsNoneAndOnlyTheCrawlerStampsANewOne) {
    SampleDb db = three_urls();
    db.set_meta(2, 0, 4, 0);
    write(db);
    ASSERT_EQ(visited_url_init(0), 1);
    EXPECT_EQ(g_timestamp, 0u);
    visited_url_shutdown(0);
    EXPECT_EQ(stored_meta(), meta(2, 0, 4, 0));

    ASSERT_EQ(visited_url_init(1), 1);
    EXPECT_GT(g_timestamp, 0u);
    const uint32_t started = g_timestamp;
    visited_url_shutdown(0);
    EXPECT_EQ(stored_meta(), meta(2, started, 4, 0));
    EXPECT_EQ(module_log_text(), "");
}

TEST_F(VisitedDbTest, TheIteratingFlagCountsOnlyDuringACrawl) {
    SampleDb db = three_urls();
    db.set_meta(2, 1700000000, 4, 1);
    write(db);
    ASSERT_EQ(visited_url_init(0), 1);
    EXPECT_EQ(g_timestamp, 1700000000u);
    EXPECT_EQ(g_mode_iterating, 1);

    db.set_meta(2, 0, 4, 1);
    visited_url_shutdown(0);
    write(db);
    ASSERT_EQ(visited_url_init(0), 1);
    EXPECT_EQ(g_mode_iterating, 0);
}

TEST_F(VisitedDbTest, ANextIdBehindTheRecordsIsRepairedFromTheIdFile) {
    SampleDb db = three_urls();
    db.set_meta(2, 1700000000, 2, 0);
    write(db);
    ASSERT_EQ(visited_url_init(1), 1);
    EXPECT_EQ(g_vurl_meta.next_id, 4);
    EXPECT_NE(module_log_text().find("unexpected meta info (id = 2)"), std::string::npos);
    visited_url_shutdown(0);
    EXPECT_EQ(stored_meta(), meta(2, 1700000000, 4, 0));
}

TEST_F(VisitedDbTest, TheRepairNeverHandsOutAnIdInUseNorOneThatIsNone) {
    // Ids 1, 2 and 5 in use (four keys in vid.db), plus what each case adds.
    struct Case {
        const char *what;
        int32_t stored_next_id;
        void (*add)(SampleDb *);
        int32_t repaired;
    };
    const Case cases[] = {
        {"next_id on the highest id", 5, [](SampleDb *) {}, 6},
        {"next_id in the gap, both probes pass", 3, [](SampleDb *) {}, 6},
        {"next_id 0", 0, [](SampleDb *) {}, 6},
        {"a damaged id FF FF FF FF in vid.db", 2,
         [](SampleDb *db) { db->put_id("z", be32(0xffffffff)); }, 6},
        {"an id of 2^31 in vid.db with its record", 2,
         [](SampleDb *db) {
             db->put_id("z", be32(0x80000000));
             db->put_record(0x80000000, StoredRecord::full("z").bytes());
         },
         6},
        {"a record under a key that is no id", 2,
         [](SampleDb *db) { db->put_record_key("longer key", StoredRecord::full("k").bytes()); },
         6},
        {"the highest id left", 2,
         [](SampleDb *db) {
             db->put_id("z", be32(0x7ffffffe));
             db->put_record(0x7ffffffe, StoredRecord::full("z").bytes());
         },
         INT32_MAX},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SampleDb db;
        db.add(StoredRecord::full("a"));
        db.add(StoredRecord::full("b"));
        db.put_id("e", be32(5));
        db.put_record(5, StoredRecord::full("e").bytes());
        c.add(&db);
        db.set_meta(2, 1700000000, c.stored_next_id, 0);
        write(db);
        ASSERT_EQ(visited_url_init(1), 1);
        EXPECT_EQ(g_vurl_meta.next_id, c.repaired);
        visited_url_shutdown(0);
    }
}

TEST_F(VisitedDbTest, ACrawlStartedAfter2038IsResumedNotRestarted) {
    SampleDb db = three_urls();
    db.set_meta(2, 0x80000010u, 4, 0);
    write(db);
    ASSERT_EQ(visited_url_init(1), 1);
    EXPECT_EQ(g_timestamp, 0x80000010u);
    visited_url_shutdown(1);
    EXPECT_EQ(stored_meta(), meta(2, 0x80000010u, 4, 0));
}

TEST_F(VisitedDbTest, ShutdownWritesTheMetadataOnlyWhenAsked) {
    SampleDb db = three_urls();
    db.set_meta(2, 1700000000, 4, 0);
    write(db);
    ASSERT_EQ(visited_url_init(1), 1);
    g_vurl_meta.next_id = 9;
    visited_url_shutdown(0);
    EXPECT_EQ(stored_meta(), meta(2, 1700000000, 4, 0));

    ASSERT_EQ(visited_url_init(1), 1);
    g_vurl_meta.next_id = 9;
    visited_url_shutdown(1);
    EXPECT_EQ(stored_meta(), meta(2, 1700000000, 9, 0));

    // The open finds no record 8 and lowers next_id to what is in use.
    ASSERT_EQ(visited_url_init(1), 1);
    EXPECT_EQ(g_vurl_meta.next_id, 4);
    test_hooks().erase_status = 1;
    visited_url_shutdown(1);
    EXPECT_EQ(stored_meta(), meta(2, 0, 4, 0));
    EXPECT_EQ(vdb_url, nullptr);
    EXPECT_EQ(vdb_id, nullptr);
}

TEST_F(VisitedDbTest, ShortMetadataLoadsTheWholeWordsItHas) {
    SampleDb db = three_urls();
    db.set_meta_bytes(meta(2, 1700000000, 4, 0).substr(0, 10));
    write(db);
    ASSERT_EQ(visited_url_init(0), 1);
    EXPECT_EQ(g_vurl_meta.version, 2);
    EXPECT_EQ(g_timestamp, 1700000000u);
    EXPECT_EQ(g_vurl_meta.next_id, 0);
}

}  // namespace
