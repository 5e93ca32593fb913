#include "robot/vurl_db.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "robot/id_indirect.h"
#include "robot/robot_home.h"
#include "robot/vurl_meta.h"
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

std::string meta(int32_t version, int32_t start, int32_t next_id, uint32_t flags) {
    return be32(static_cast<uint32_t>(version)) + be32(static_cast<uint32_t>(start)) +
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

    // Another crawler's mark: a lock on a descriptor of its own.
    const int other = open(file("url-visited.db").c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    EXPECT_EQ(visited_url_is_being_written(), 1);
    EXPECT_EQ(visited_url_init(1), 0);
    EXPECT_NE(robot_log_text().find("Visited url database is open for writing in another process"),
              std::string::npos);
    EXPECT_EQ(visited_url_init(0), 1);
    visited_url_shutdown(0);
    close(other);
    EXPECT_EQ(visited_url_init(1), 1);
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
    const int32_t before = static_cast<int32_t>(std::time(nullptr));
    ASSERT_EQ(visited_url_init(1), 1);
    EXPECT_EQ(g_vurl_meta.version, 2);
    EXPECT_EQ(g_vurl_meta.next_id, 1);
    EXPECT_EQ(g_vurl_meta.flags, 0u);
    EXPECT_GE(g_timestamp, before);
    EXPECT_EQ(g_vurl_meta.crawl_start, g_timestamp);
    const int32_t started = g_timestamp;
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
    EXPECT_EQ(g_timestamp, 0);
    visited_url_shutdown(0);
    EXPECT_EQ(stored_meta(), meta(2, 0, 4, 0));

    ASSERT_EQ(visited_url_init(1), 1);
    EXPECT_GT(g_timestamp, 0);
    const int32_t started = g_timestamp;
    visited_url_shutdown(0);
    EXPECT_EQ(stored_meta(), meta(2, started, 4, 0));
    EXPECT_EQ(module_log_text(), "");
}

TEST_F(VisitedDbTest, TheIteratingFlagCountsOnlyDuringACrawl) {
    SampleDb db = three_urls();
    db.set_meta(2, 1700000000, 4, 1);
    write(db);
    ASSERT_EQ(visited_url_init(0), 1);
    EXPECT_EQ(g_timestamp, 1700000000);
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

TEST_F(VisitedDbTest, TheRepairSkipsPastTheHighestIdWhenIdsHaveAGap) {
    // Ids 1, 2 and 5: four keys in vid.db, but 4 and 5 must not be given again.
    SampleDb db;
    db.add(StoredRecord::full("a"));
    db.add(StoredRecord::full("b"));
    db.put_id("e", be32(5));
    db.put_record(5, StoredRecord::full("e").bytes());
    db.set_meta(2, 1700000000, 5, 0);
    write(db);
    ASSERT_EQ(visited_url_init(1), 1);
    EXPECT_EQ(g_vurl_meta.next_id, 6);
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
    EXPECT_EQ(g_timestamp, 1700000000);
    EXPECT_EQ(g_vurl_meta.next_id, 0);
}

}  // namespace
