// The crawler's record operations, and the end-of-crawl passes: marking the
// trees of left-out start points, and the broken-link scan.
#include "robot/vurl_ops.h"
#include "robot/vurl_marking.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "robot/robot_fixture.h"
#include "robot/vurl_id_memory.h"

namespace {

const std::string kDigest = "0123456789abcdef0123456789abcdef";

class VurlOpsTest : public RobotTest {
  protected:
    void SetUp() override {
        RobotTest::SetUp();
        open_new_db();
    }
    uint32_t processed(const std::string &url) { return record(url)->last_processed; }
    void mark(const char *url) {
        VisitedDbHold hold;
        MarkTreeProcessed(url);
    }
};

TEST_F(VurlOpsTest, GetStatusClaimsAUrlOncePerCrawlAndKeepsWhatItKnows) {
    EXPECT_EQ(visited_url_get_status("http://a/", nullptr, 0, 3), 1);
    EXPECT_EQ(stored("http://a/"), "");
    EXPECT_EQ(g_vurl_meta.next_id, 1);
    EXPECT_EQ(visited_url_get_status("http://a/", nullptr, 1, 3), 1);
    EXPECT_EQ(visited_url_get_status("http://b/", "http://a/", 1, 2), 1);
    EXPECT_EQ(visited_url_get_status("http://b/", nullptr, 1, 9), 4);
    EXPECT_EQ(describe(record("http://b/")), "1700000000 0 0 0 0 http://b/ <http://a/ []0 - 2 0");

    // Met again in a later crawl: stamped, status 0, the new depth, the rest kept.
    add_page("http://b/", {"http://c/"});
    ASSERT_EQ(visited_url_update_status("http://b/", 7), 1);
    g_timestamp = kCrawl + 1000;
    EXPECT_EQ(visited_url_get_status("http://b/", nullptr, 1, 9), 1);
    EXPECT_EQ(describe(record("http://b/")), "1700001000 1700000001 0 0 0 md5:" + kDigest +
                                                 " http://b/ <http://a/ [http://c/]1 pages 9 200");
}

// What visited_url_get_data gives, on one line: every out-parameter starts
// as garbage, the depth as given.
std::string get_data(const char *url, int32_t depth) {
    int32_t status = -1;
    uint32_t visited = 1, modified = 1, expires = 1;
    velhashtable *links = reinterpret_cast<velhashtable *>(&status);
    char md5[33] = "x", *database = nullptr;
    visited_url_get_data(url, &status, &visited, &modified, &expires, &links, md5, &depth,
                         &database);
    Table owned(links);
    std::string out = std::to_string(status) + " " + std::to_string(visited) + " " +
                      std::to_string(modified) + " " + std::to_string(expires) + " md5=" + md5 +
                      " links=" + (links ? std::to_string(table_entries(links).size()) : "-") +
                      " " + std::to_string(depth) + " db=" + (database ? database : "-");
    std::free(database);
    return out;
}

TEST_F(VurlOpsTest, DataIsStoredAsGivenAndReadBackAsAsked) {
    add_page("http://a/", {"http://b/", "http://c/"});
    const uint32_t modified = kCrawl - 5;
    const std::string digest_31(31, 'e'), digest_32(32, 'f');
    // Only a digest of 32 characters replaces the stored one.
    ASSERT_EQ(visited_url_update_data("http://a/", 301, 0, nullptr, &modified, nullptr, nullptr,
                                      digest_31.c_str(), nullptr),
              1);
    EXPECT_EQ(get_data("http://a/", -1),
              "301 1700000001 1699999995 0 md5=" + kDigest + " links=2 3 db=pages");
    ASSERT_EQ(visited_url_update_data("http://a/", 200, 0, nullptr, nullptr, nullptr, nullptr,
                                      digest_32.c_str(), "other"),
              1);
    EXPECT_EQ(describe(record("http://a/")),
              "1700000000 1700000001 1699999995 0 4 md5:" + digest_32 +
                  " http://a/ <- [http://b/,http://c/]2 other 3 200");
    // A URL without a record: nothing stored, nothing read but cleared
    // out-parameters; the depth and the database are left alone.
    EXPECT_EQ(visited_url_update_data("http://none/", 200, 0, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr),
              0);
    EXPECT_EQ(get_data("http://none/", 42), "0 0 0 0 md5= links=- 42 db=-");
    // Every output may be left out, for a URL with a record or without.
    for (const char *url : {"http://a/", "http://none/"}) {
        visited_url_get_data(url, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr);
    }
    EXPECT_EQ(get_data("http://a/", -1),
              "200 1700000001 1699999995 0 md5=" + digest_32 + " links=2 3 db=other");
}

TEST_F(VurlOpsTest, ANewLinkGetsARecordUnderTheNextIdFirst) {
    ASSERT_EQ(visited_url_get_status("http://a/", nullptr, 1, 6), 1);
    const int32_t next = g_vurl_meta.next_id;
    Table links = make_links({"http://new/"});
    ASSERT_EQ(visited_url_update_data("http://a/", 200, 0, nullptr, nullptr, nullptr, links.get(),
                                      nullptr, nullptr),
              1);
    EXPECT_EQ(id_of("http://new/"), static_cast<uint32_t>(next));
    EXPECT_EQ(describe(record("http://new/")),
              "1700000000 0 0 0 0 http://new/ <http://a/ []0 - 5 0");
    EXPECT_TRUE(logged(stored("http://a/"), be32(next) + be32(0)));
    EXPECT_EQ(table_entries(record("http://a/")->links), Strings{"http://new/"});

    // A link count that lies encodes to nothing and creates nothing.
    Record obj = record("http://a/");
    Table two = make_links({"new-a", "new-b"});
    velhashtable_free(obj->links);
    obj->links = two.get();
    for (int32_t count : {1, 3}) {
        obj->link_count = count;
        EXPECT_EQ(visited_url_obj2DBT(obj.get()), nullptr) << count;
    }
    obj->links = nullptr;
    EXPECT_EQ(g_vurl_meta.next_id, next + 1);
    EXPECT_EQ(id_of("new-a"), 0u);
}

// The walk gives the URL of every record in id order, passing over records
// that do not decode, and nothing once the database is shut.
TEST_F(VurlOpsTest, TheWalkGivesEachRecordsUrlInIdOrderPassingOverTheUndecodable) {
    put_raw("http://bad/", "x");
    add_page("http://b/", {"http://a/"});
    put_raw("http://worse/", "y");
    add_page("http://c/", {});
    auto walk = [] {
        Strings urls;
        for (char *url = visited_url_first(); url != nullptr; url = visited_url_next()) {
            urls.emplace_back(url);
            free(url);
        }
        return urls;
    };
    EXPECT_EQ(walk(), (Strings{"http://b/", "http://a/", "http://c/"}));
    EXPECT_EQ(walk(), (Strings{"http://b/", "http://a/", "http://c/"}));  // it restarts
    visited_url_shutdown(0);
    EXPECT_EQ(visited_url_first(), nullptr);
    // Closed files hold no record to change.
    EXPECT_EQ(visited_url_clear_md5("http://b/"), 0);
    EXPECT_EQ(visited_url_update_status("http://b/", 5), 0);
}

TEST_F(VurlOpsTest, StatusAndDigestChangeInPlace) {
    add_page("http://a/", {"http://b/"});
    std::string expected = stored("http://a/");
    EXPECT_EQ(visited_url_update_status("http://a/", 0x01020304), 1);
    expected.replace(16, 4, std::string("\1\2\3\4", 4));
    EXPECT_EQ(stored("http://a/"), expected);
    EXPECT_EQ(visited_url_update_status("http://none/", 1), 0);

    EXPECT_EQ(visited_url_clear_md5("http://a/"), 1);
    expected.replace(20, 2, std::string("*\0", 2));
    EXPECT_EQ(stored("http://a/"), expected);
    const std::string plain = stored("http://b/");  // no digest: written back as it is
    EXPECT_EQ(visited_url_clear_md5("http://b/"), 1);
    EXPECT_EQ(stored("http://b/"), plain);
    EXPECT_EQ(visited_url_clear_md5("http://none/"), 0);
}

// The crawler's lookups answer from what it keeps in memory of vid.db: what
// vid.db's own slots write there is seen at once, and a crawler opening the
// database again learns every URL, one longer than a read of many records
// included.
TEST_F(VurlOpsTest, LookupsSeeEveryWriteOfVidDbAndEveryUrlAfterAnOpen) {
    ASSERT_EQ(visited_url_get_status("http://a/", nullptr, 1, 3), 1);
    ASSERT_EQ(visited_url_get_status("http://b/", nullptr, 1, 3), 1);
    const uint32_t a = id_of("http://a/");
    // Another URL given a's id: a's record, met in this crawl.
    ASSERT_EQ(put(vdb_id, "http://alias/", be32(a)), 1);
    EXPECT_EQ(visited_url_get_status("http://alias/", nullptr, 1, 3), kVurlMetInThisCrawl);
    // b given a's id, then no id at all: each time the crawler follows.
    ASSERT_EQ(put(vdb_id, "http://b/", be32(a), true), 1);
    EXPECT_EQ(visited_url_get_status("http://b/", nullptr, 1, 3), kVurlMetInThisCrawl);
    DBT b = string_key("http://b/");
    ASSERT_EQ(vdb_id->del(vdb_id, &b), 1);
    const int32_t next = g_vurl_meta.next_id;
    EXPECT_EQ(visited_url_get_status("http://b/", nullptr, 1, 3), 1);
    EXPECT_EQ(id_of("http://b/"), static_cast<uint32_t>(next));

    const std::string long_url = "http://long/" + std::string(3 << 20, 'x');
    ASSERT_EQ(visited_url_get_status(long_url.c_str(), nullptr, 1, 3), 1);
    visited_url_shutdown(1);
    open_new_db();
    size_t urls = 0, bytes = 0;
    vurl_id_memory_usage(&urls, &bytes);
    EXPECT_EQ(urls, 4u);
    EXPECT_GT(bytes, long_url.size());
    const int32_t after = g_vurl_meta.next_id;
    for (const char *url : {"http://a/", "http://alias/", "http://b/", long_url.c_str()}) {
        EXPECT_EQ(visited_url_get_status(url, nullptr, 1, 3), kVurlMetInThisCrawl) << url;
    }
    EXPECT_EQ(g_vurl_meta.next_id, after);
}

// A record deleted by its URL (which keeps its id), or a vid.db key deleted
// under a cursor, is seen by the next lookup.
TEST_F(VurlOpsTest, DeletesBehindTheSlotsAreSeenByTheNextLookup) {
    for (const char *url : {"http://a/", "http://b/"})
        ASSERT_EQ(visited_url_get_status(url, nullptr, 1, 3), 1);
    const uint32_t a = id_of("http://a/");
    DBT a_key = string_key("http://a/");
    int err = -1;
    EXPECT_EQ(db_indirect_del(vdb_id->db.get(), vdb_url->db.get(), &a_key, 0, &err), 0);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(stored("http://a/"), "");
    EXPECT_EQ(id_of("http://a/"), a);
    EXPECT_EQ(visited_url_get_status("http://a/", nullptr, 0, 3), 1);
    DBT b_key = string_key("http://b/"), found{};
    ASSERT_EQ(vdb_id->set_cursor(vdb_id, &b_key, &found), 1);
    ASSERT_EQ(vdb_id->cursor_del(vdb_id), 1);
    EXPECT_EQ(id_of("http://b/"), 0u);
    EXPECT_EQ(visited_url_get_status("http://b/", nullptr, 0, 3), 1);
}

TEST_F(VurlOpsTest, OnlySoundIdsAreHandedOutAndFollowed) {
    // The metadata's key, claimed as a URL: refused with a log line, no id
    // used; as a link it is left out.
    EXPECT_EQ(visited_url_get_status("VURL_META_DATA", nullptr, 1, 3), 1);
    EXPECT_EQ(g_vurl_meta.next_id, 1);
    EXPECT_TRUE(logged(module_log_text(), "VURL_META_DATA is the visited url metadata's key"));
    add_page("http://a/", {"VURL_META_DATA", "http://b/"});
    EXPECT_EQ(table_entries(record("http://a/")->links), Strings{"http://b/"});
    EXPECT_TRUE(logged(module_log_text(), "ERROR: Link VURL_META_DATA of http://a/ is the visited "
                                          "url metadata's key, not a URL; left out\n"));
    EXPECT_EQ(id_of("http://b/"), 2u);
    // An id of 0 in vid.db is damage: the URL is given a new one.
    const std::string zero = be32(0);
    DBT key = string_key("http://b/"), value = borrowed_dbt(zero.data(), zero.size());
    ASSERT_EQ(vdb_id->update(vdb_id, &key, &value), 1);
    add_page("http://c/", {"http://b/"});
    EXPECT_EQ(table_entries(record("http://c/")->links), Strings{"http://b/"});
    EXPECT_EQ(id_of("http://b/"), 4u);
    // An id past the limit, damage with its record: a reader finds the record
    // under it, the crawler's get does not, and a claim gives a new id rather
    // than write under it.
    for (const uint32_t past : {0x7fffffffu, 0x80000000u, 0xffffffffu}) {
        const std::string id = be32(past), bytes = StoredRecord::full("http://p/").bytes();
        DBT id_key = borrowed_dbt(id.data(), 4), record = borrowed_dbt(bytes.data(), bytes.size());
        DB *records = vdb_url->db.get();
        ASSERT_EQ(records->put(records, nullptr, &id_key, &record, 0), 0);
        DBT url = string_key("http://p/"), id_value = borrowed_dbt(id.data(), 4);
        ASSERT_EQ(vdb_id->update(vdb_id, &url, &id_value), 1);
        MallocDbt found;
        EXPECT_EQ(vurl_get_stored(&url, found.get()), 1) << past;
        EXPECT_EQ(std::string(static_cast<const char *>(found.data()), found.size()), bytes);
        EXPECT_EQ(stored("http://p/"), "") << past;
        const uint32_t next = static_cast<uint32_t>(g_vurl_meta.next_id);
        EXPECT_EQ(visited_url_get_status("http://p/", nullptr, 1, 3), 1);
        EXPECT_EQ(id_of("http://p/"), next) << past;
        MallocDbt kept;
        ASSERT_EQ(records->get(records, nullptr, &id_key, kept.get(), 0), 0);
        EXPECT_EQ(std::string(static_cast<const char *>(kept.data()), kept.size()), bytes);
    }
    // Ids stop at 2^31 - 2.
    g_vurl_meta.next_id = 0x7ffffffe;
    EXPECT_EQ(visited_url_create_entry("http://last/", 0, nullptr, 1, 0), 1);
    EXPECT_EQ(id_of("http://last/"), 0x7ffffffeu);
    EXPECT_EQ(visited_url_create_entry("http://late/", 0, nullptr, 1, 0), 0);
    EXPECT_EQ(g_vurl_meta.next_id, 0x7fffffff);
    EXPECT_TRUE(logged(module_log_text(), "No record id left"));
}

int refuse_update(storage_object *, DBT *, DBT *) {
    return 0;
}

TEST_F(VurlOpsTest, ACreationThatTakesTheLockWaitsForItsHolder) {
    visited_db_lock();
    std::thread creator([] { visited_url_create_entry("http://a/", 0, nullptr, 1, 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int32_t while_held = g_vurl_meta.next_id;
    visited_db_unlock();
    creator.join();
    EXPECT_EQ(while_held, 1);
    EXPECT_EQ(g_vurl_meta.next_id, 2);
}

TEST_F(VurlOpsTest, GetStatusLogsOnlyAFailedWriteAsUnableToUpdate) {
    // The referer's record exists (id 7) but vid.db does not know its URL, so
    // that page decodes but cannot be encoded again.
    const std::string id = be32(7), referer = StoredRecord::full("http://gone/").bytes();
    DBT key = borrowed_dbt(id.data(), 4), value = borrowed_dbt(referer.data(), referer.size());
    ASSERT_EQ(vdb_url->db->put(vdb_url->db.get(), nullptr, &key, &value, 0), 0);
    StoredRecord orphan = StoredRecord::full("http://orphan/");
    orphan.referer_id = 7;
    const std::string orphan_bytes = orphan.bytes();
    put_raw("http://orphan/", orphan_bytes);
    add_page("http://page/", {});
    g_timestamp = kCrawl + 1000;

    visited_url_get_status("http://orphan/", nullptr, 1, 3);
    const std::string log = module_log_text();
    EXPECT_TRUE(logged(log, "ERROR: Referer http://gone/ for url http://orphan/ not found"));
    EXPECT_FALSE(logged(log, "unable to update vurl")) << log;
    EXPECT_EQ(stored("http://orphan/"), orphan_bytes);
    vdb_url->update = refuse_update;
    visited_url_get_status("http://page/", nullptr, 1, 3);
    EXPECT_TRUE(logged(module_log_text(), "unable to update vurl for http://page/"));
}

// The end-of-crawl passes run in kNextCrawl over pages written in kCrawl.
constexpr uint32_t kNextCrawl = 1800000000;

TEST_F(VurlOpsTest, MarkingStampsOnceTheTreesOfStartPointsLeftOutOfThisCrawl) {
    add_page("http://a/", {"http://b/"});
    add_page("http://b/", {"http://a/"});  // a cycle
    add_page("http://c/", {"http://d/"});
    StoredRecord orphan = StoredRecord::full("http://orphan/");  // its referer is gone
    orphan.referer_id = 999;
    put_raw("http://orphan/", orphan.bytes());
    const std::string a = stored("http://a/");
    g_timestamp = kNextCrawl;
    ASSERT_EQ(visited_url_get_status("http://c/", nullptr, 1, 3), 1);  // c is in this crawl
    EXPECT_EQ(ProcessDisabledStartPoint(), 0);
    EXPECT_EQ(stored("http://a/"), be32(kNextCrawl) + a.substr(4));  // all else kept
    EXPECT_EQ(processed("http://b/"), kNextCrawl);
    EXPECT_EQ(processed("http://orphan/"), kNextCrawl);
    EXPECT_EQ(processed("http://d/"), kCrawl);
}

TEST_F(VurlOpsTest, MarkingFollowsLinkTextsMadeAbsoluteWhenRecordsKeepThem) {
    add_page("http://x/", {"b.html"});  // the hooks join a link to its page
    add_page("http://x/b.html", {});
    g_timestamp = kNextCrawl;
    g_save_relative_links = 1;
    mark("http://x/");
    g_save_relative_links = 0;
    EXPECT_EQ(processed("http://x/b.html"), kNextCrawl);
    EXPECT_NE(processed("b.html"), kNextCrawl);
}

TEST_F(VurlOpsTest, MarkingLeavesUnknownUrlsAndValuesThatDoNotDecodeAsTheyAre) {
    add_page("http://a/", {});
    put_raw("http://short/", "ab");                // too short to hold a stamp
    put_raw("http://cut/", std::string(24, 'x'));  // a URL that never ends
    const std::string a = stored("http://a/");
    g_timestamp = kNextCrawl;
    for (const char *url : {"http://unknown/", "http://short/", "http://cut/"}) mark(url);
    EXPECT_EQ(stored("http://a/"), a);
    ProcessDisabledStartPoint();
    EXPECT_EQ(stored("http://short/"), "ab");
    EXPECT_EQ(stored("http://cut/"), std::string(24, 'x'));
}

TEST_F(VurlOpsTest, TheScanHandsOnUnprocessedPagesWithContentOncePerOpen) {
    add_page("http://digest/", {});
    add_page("http://cleared/", {});
    ASSERT_EQ(visited_url_clear_md5("http://cleared/"), 1);
    add_page("http://plain/", {}, nullptr);
    add_page("http://current/", {});
    g_timestamp = kNextCrawl;
    ASSERT_EQ(visited_url_get_status("http://current/", nullptr, 1, 0), 1);
    EXPECT_EQ(visited_url_scan_brokenlinks(1), 1);
    EXPECT_EQ(test_hooks().depot_deletes, Strings{"http://digest/ pages"});
    EXPECT_EQ(test_hooks().stopped_calls, 4);
    EXPECT_EQ(g_vurl_meta.flags, 0u);
    EXPECT_EQ(visited_url_scan_brokenlinks(0), 0);
    EXPECT_EQ(visited_url_scan_brokenlinks(1), 0);
    EXPECT_EQ(test_hooks().stopped_calls, 4);
    EXPECT_TRUE(test_hooks().spawned.empty());
}

TEST_F(VurlOpsTest, TheRevisitScanRecordsThatItBeganBeforeHandingOn) {
    add_page("http://a/", {"http://b/"});
    add_page("http://b/", {}, "fedcba9876543210fedcba9876543210");
    g_timestamp = kNextCrawl;
    EXPECT_EQ(visited_url_scan_brokenlinks(0), 2);
    EXPECT_EQ(test_hooks().spawned, (Strings{"http://a/ 3 -", "http://b/ 2 http://a/"}));
    EXPECT_EQ(g_vurl_meta.flags, 1u);
    visited_url_shutdown(0);
    EXPECT_EQ(stored_meta().substr(12), be32(1));
}

TEST_F(VurlOpsTest, AStopEndsTheScanAfterTheRecordItFollows) {
    for (const char *url : {"http://1/", "http://2/", "http://3/", "http://4/", "http://5/"}) {
        add_page(url, {}, url[7] == '2' ? nullptr : kDigest.c_str());
    }
    g_timestamp = kNextCrawl;
    test_hooks().stop_at_call = 3;
    EXPECT_EQ(visited_url_scan_brokenlinks(1), 2);  // 1 and 3; 2 has no digest
    EXPECT_EQ(test_hooks().depot_deletes.size(), 2u);
}

}  // namespace
