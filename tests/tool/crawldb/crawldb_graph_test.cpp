// crawldb's links, plan, diff and pool on databases whose answers are known,
// and plan against the library's own end-of-crawl passes.
#include <db.h>

#include <cstring>
#include <functional>
#include <random>
#include <set>

#include "robot/id_indirect.h"
#include "robot/robot_db_env.h"
#include "robot/vurl_db.h"
#include "robot/vurl_marking.h"
#include "support/sample_db.h"
#include "support/test_hooks.h"
#include "tool/crawldb/check.h"
#include "tool/crawldb/crawl_db.h"
#include "tool/crawldb/export_records.h"
#include "tool/crawldb/file_walk.h"
#include "tool/crawldb/links.h"
#include "tool/crawldb/plan.h"
#include "tool/crawldb/crawldb_fixture.h"

namespace {

using namespace std::string_literals;

constexpr uint32_t kStart = 1796371200;  // the crawl in progress
constexpr uint32_t kEarlier = kStart - 86400;
const char kDigest[] = "0123456789abcdef0123456789abcdef";

StoredRecord page(const std::string &url, uint32_t processed, bool digest, int32_t status,
                  std::optional<uint32_t> referer, std::vector<uint32_t> links) {
    StoredRecord r = StoredRecord::full(url);
    r.last_processed = processed;
    if (digest) r.md5 = kDigest;
    r.database = "pages";
    r.depth_and_status = std::make_pair(5, status);
    r.referer_id = referer;
    r.link_ids = std::move(links);
    return r;
}

// Ids 1 to 9. http://s/ (1) links to a 404 and a 500, to an id without a
// record, and to b, which links to the 404 again; e names a referer
// without a record, and nobody links to it or to the orphan. http://p/ (7)
// is a start point this crawl left out, whose tree runs through a record
// it processed (3) and stops there; 9 is on no tree. With odd set, records
// the passes meet as the crawler's lookups find them: a referer whose value
// has bytes left over (it gives a URL but does not decode), a record under
// the key 2^31, and a start point whose URL vid.db does not hold.
void write_graph(const std::string &home, bool odd = false) {
    SampleDb db;
    db.add(page("http://s/", kStart, true, 200, {}, {2, 3, 4, 77}));
    db.add(page("http://s/a", kStart, false, 404, 1, {}));
    db.add(page("http://s/b", kStart, true, 200, 1, {2}));
    db.add(page("http://s/c", kStart, true, 500, 1, {}));
    db.add(page("http://s/orphan", kEarlier, true, 200, 3, {}));
    db.add(page("http://s/e", kStart, true, 200, 88, {}));
    db.add(page("http://p/", kEarlier, true, 200, {}, {8, 3}));
    db.add(page("http://p/a", kEarlier, true, 200, 7, {7}));
    db.add(page("http://q/", kEarlier, true, 200, 1, {}));
    if (odd) {
        db.put_record(10, page("http://o/junk", kEarlier, true, 200, 7, {}).bytes() + "JUNK");
        db.add(page("http://o/by-junk", kEarlier, true, 200, 10, {}));
        db.put_record(0x80000000, page("http://o/big", kEarlier, true, 200, 7, {}).bytes());
        db.add(page("http://o/by-big", kEarlier, true, 200, 0x80000000, {}));
        db.put_record(13, page("http://o/not-in-vid", kEarlier, true, 200, {}, {12}).bytes());
    }
    db.set_meta(2, kStart, 14, 0);
    ASSERT_EQ(db.write(home), "");
}

// The URLs of the listing lines (all but a final summary object).
std::vector<std::string> listed(const std::string &out, const char *field) {
    std::vector<std::string> urls;
    for (const json &line : json_lines(out)) {
        if (!line.contains("summary")) urls.push_back(line[field]);
    }
    return urls;
}


TEST_F(CrawldbTest, LinksAnswerEachQuestionAndLeaveTheDirectoryAsItWas) {
    write_graph(dir_.file("robot"));
    const auto before = listing(dir_.path());
    ProcessResult broken = run({"links", "--broken", "--json"});
    EXPECT_EQ(broken.status, 0) << broken.err;
    EXPECT_EQ(json_lines(broken.out),
              (std::vector<json>{{{"page", "http://s/"}, {"target", "http://s/a"}, {"status", 404}},
                                 {{"page", "http://s/"}, {"target", "http://s/c"}, {"status", 500}},
                                 {{"page", "http://s/b"}, {"target", "http://s/a"}, {"status", 404}}}));
    broken = run({"links", "--broken", "--status", "500-599"});
    EXPECT_EQ(broken.out, "http://s/\thttp://s/c\t500\n");
    EXPECT_EQ(broken.err, "crawldb: 1 broken links on 1 pages to 1 distinct targets\n");
    EXPECT_EQ(run({"links", "--broken"}).err,
              "crawldb: 3 broken links on 2 pages to 2 distinct targets\n");
    EXPECT_EQ(run({"links", "--to", "http://s/a"}).out, "http://s/\nhttp://s/b\n");
    EXPECT_EQ(run({"links", "--orphans"}).out,
              "http://s/orphan\t5\thttp://s/b\nhttp://s/e\t6\t\nhttp://q/\t9\thttp://s/\n");
    EXPECT_EQ(json_lines(run({"links", "--orphans", "--json"}).out)[1],
              (json{{"url", "http://s/e"}, {"id", 6}, {"referer", nullptr}}));
    EXPECT_EQ(run({"links", "--dangling"}).out, "http://s/\tlink\t77\nhttp://s/e\treferer\t88\n");
    EXPECT_EQ(run({"links", "--to", "http://nowhere/"}).status, 1);
    EXPECT_EQ(run({"links", "--broken", "--status", "600"}).status, 1);
    EXPECT_EQ(run({"links"}).status, 2);
    EXPECT_EQ(listing(dir_.path()), before);
}

// The one database home of this process (the library computes the home
// once), emptied; the tests that open a database here use it.
const std::string &empty_process_home() {
    static ScratchDir home;
    test_hooks() = TestHooks{};
    test_hooks().state_path = home.path();
    for (const auto &entry : std::filesystem::directory_iterator(home.path())) {
        std::filesystem::remove_all(entry.path());
    }
    return home.path();
}

// Stores value under id in the url-visited.db open for reading, through a
// handle of its own in the reader's environment and on to the file, as a
// crawler does while a command reads.
void store_behind_reader(uint32_t id, const std::string &value) {
    DB *db = nullptr;
    ASSERT_EQ(db_create(&db, vdb_url->db->get_env(vdb_url->db.get()), 0), 0);
    std::unique_ptr<DB, storage::CloseDb> handle(db);
    ASSERT_EQ(db->open(db, nullptr, vdb_url->name.c_str(), nullptr, DB_BTREE, 0, 0), 0);
    std::string key = be32(id);
    std::string bytes = value;
    DBT key_dbt = {};
    key_dbt.data = key.data();
    key_dbt.size = static_cast<uint32_t>(key.size());
    DBT value_dbt = {};
    value_dbt.data = bytes.data();
    value_dbt.size = static_cast<uint32_t>(bytes.size());
    ASSERT_EQ(db->put(db, nullptr, &key_dbt, &value_dbt, 0), 0);
    ASSERT_EQ(db->sync(db, 0), 0);
}

// A command run in this process on the graph of write_graph: what it
// printed and its status. With late_walk set, two records with ids past
// every id of the graph are stored just before the walk of that name
// starts: pages of this crawl with a referer that nobody links to, one of
// them linking to the start point.
struct InProcessRun {
    int status = -1;
    std::string out;
};

InProcessRun run_on_graph(const std::function<int(CrawlDb *)> &command, const char *late_walk) {
    const std::string home = empty_process_home();
    write_graph(home);
    InProcessRun result;
    set_walk_start_hook([late_walk](const char *what) {
        if (late_walk == nullptr || std::strcmp(what, late_walk) != 0) return;
        store_behind_reader(20, page("http://s/late", kStart, true, 200, 1, {}).bytes());
        store_behind_reader(21, page("http://s/later", kStart, true, 200, 1, {1}).bytes());
    });
    {
        CrawlDb db;
        if (db.open(home, kRecordFileBit | kIdFileBit, Verification::When::kFirst) ==
            CrawlDb::Opened::kOpen) {
            testing::internal::CaptureStdout();
            result.status = command(&db);
            std::fflush(stdout);
            result.out = testing::internal::GetCapturedStdout();
        }
    }
    set_walk_start_hook(nullptr);
    return result;
}

// What the library's passes hand to the depot when they run on a copy of
// the database in source: the URLs, in the order handed on. The copy lies
// in the one database home of the process.
Strings passes_hand_on(const std::string &source) {
    const std::string &home = empty_process_home();
    for (const char *file : {"/url-visited.db", "/vid.db"}) {
        std::filesystem::copy_file(source + file, home + file);
    }
    robot_db_init();
    EXPECT_EQ(visited_url_init(1), 1);
    ProcessDisabledStartPoint();
    visited_url_scan_brokenlinks(1);
    visited_url_shutdown(0);
    robot_db_shutdown();
    Strings urls;
    for (const std::string &call : test_hooks().depot_deletes) urls.push_back(split(call, ' ')[0]);
    return urls;
}

// Records a crawler stores after a command's first walk of url-visited.db
// have ids the first walk did not index: the later walks pass over them,
// as they pass over any id without a record, and no answer changes (the
// late records are processed, name a referer that has a record and link
// only to the start point). export, walking once, shows that they are seen.
TEST_F(CrawldbTest, RecordsStoredAfterTheFirstWalkChangeNoAnswerOfALaterWalk) {
    auto links = [](LinksOptions::Mode mode) {
        return [mode](CrawlDb *db) {
            LinksOptions options;
            options.mode = mode;
            EXPECT_TRUE(options.statuses.parse("400-599"));
            return run_links(db, options);
        };
    };
    const struct {
        const char *name;
        std::function<int(CrawlDb *)> command;
        const char *late_walk;
    } cases[] = {
        {"links --orphans", links(LinksOptions::Mode::kOrphans), "links: url-visited.db, 3 of 3"},
        {"links --orphans, marking", links(LinksOptions::Mode::kOrphans),
         "links: url-visited.db, 2 of 3"},
        {"links --broken", links(LinksOptions::Mode::kBroken), "links: url-visited.db, 2 of 2"},
        {"links --dangling", links(LinksOptions::Mode::kDangling), "links: url-visited.db, 2 of 2"},
        {"check, vid.db", [](CrawlDb *db) { return run_check(db, CrawlDb::Opened::kOpen, {}); },
         "check: vid.db, 2 of 3"},
        {"check", [](CrawlDb *db) { return run_check(db, CrawlDb::Opened::kOpen, {}); },
         "check: url-visited.db, 3 of 3"},
        {"plan", [](CrawlDb *db) { return run_plan(db, {}); }, "plan: url-visited.db, 2 of 3"},
        {"plan, handing on", [](CrawlDb *db) { return run_plan(db, {}); },
         "plan: url-visited.db, 3 of 3"},
    };
    for (const auto &c : cases) {
        const InProcessRun before = run_on_graph(c.command, nullptr);
        const InProcessRun late = run_on_graph(c.command, c.late_walk);
        EXPECT_NE(before.status, -1) << c.name;
        EXPECT_EQ(late.status, before.status) << c.name;
        EXPECT_EQ(late.out, before.out) << c.name;
    }
    auto export_all = [](CrawlDb *db) { return run_export(db, {}); };
    const InProcessRun exported = run_on_graph(export_all, "export");
    EXPECT_EQ(exported.status, 0);
    const std::vector<json> lines = json_lines(exported.out);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[9]["url"], "http://s/late");
    EXPECT_EQ(lines[10]["links"], json::array({"http://s/"}));
}

// The crawlsim database has its second crawl left open; every record whose
// id is not a multiple of 3 is then made one this crawl has not processed,
// so that start points are left out and trees are cut.
void thin_out_crawl(const std::string &home) {
    const std::string path = home + "/url-visited.db";
    std::map<std::string, std::string> records;
    for (uint32_t id = 1;; ++id) {
        std::optional<std::string> value = read_stored(path, be32(id));
        if (!value) break;
        if (id % 3 != 0) value->replace(0, 4, be32(1000));
        records[be32(id)] = *value;
    }
    ASSERT_GT(records.size(), 100u);
    ASSERT_EQ(write_db_file(path, records), "");
}

TEST_F(CrawldbTest, PlanListsWhatTheLibrarysPassesHandOnInTheSameOrder) {
    write_graph(dir_.file("robot"));
    const ProcessResult plan = run({"plan", "--json"});
    ASSERT_EQ(plan.status, 0) << plan.err;
    // 8 is reached through 7, 3 was processed and stops the walk, so 5 and
    // 9 are left; 2 has no digest.
    EXPECT_EQ(listed(plan.out, "url"), (Strings{"http://s/orphan", "http://q/"}));
    EXPECT_EQ(json_lines(plan.out)[0]["id"], 5);
    EXPECT_EQ(json_lines(plan.out).back()["summary"]["by_host"], (json{{"q", 1}, {"s", 1}}));
    const std::string counts = "handed on: 2\nby database\n  pages\t2\nby host\n  q\t1\n  s\t1\n";
    EXPECT_EQ(run({"plan"}).out, "http://s/orphan\tpages\nhttp://q/\tpages\n\n" + counts);
    EXPECT_EQ(run({"plan", "--summary"}).out, counts);
    // A start point whose link leads back, behind the walk, to a page that
    // leads on: both are followed, and nothing is left to hand on.
    SampleDb chain;
    chain.add(page("http://t/x", kEarlier, true, 200, 3, {2}));
    chain.add(page("http://t/y", kEarlier, true, 200, 1, {}));
    chain.add(page("http://t/", kEarlier, true, 200, {}, {1}));
    chain.set_meta(2, kStart, 4, 0);
    ASSERT_EQ(chain.write(dir_.file("chain")), "");
    EXPECT_EQ(passes_hand_on(dir_.file("chain")), Strings{});
    EXPECT_EQ(listed(run({"plan", "--json", "-h", "chain"}).out, "url"), Strings{});
    write_graph(dir_.file("odd"), true);
    const Strings odd = listed(run({"plan", "--json", "-h", "odd"}).out, "url");
    EXPECT_EQ(odd.size(), 6u);
    EXPECT_EQ(odd, passes_hand_on(dir_.file("odd")));

    ASSERT_EQ(run_process(CRAWLSIM_BINARY, {"-n", "300", "-l", "4", "-c", "2", "-k", "-h", "sim"},
                          dir_.path())
                  .status,
              0);
    thin_out_crawl(dir_.file("sim"));
    const Strings planned = listed(run({"plan", "--json", "-h", "sim"}).out, "url");
    EXPECT_GT(planned.size(), 10u);
    EXPECT_EQ(planned, passes_hand_on(dir_.file("sim")));
}

TEST_F(CrawldbTest, DiffNamesWhatWasAddedRemovedAndChanged) {
    SampleDb old_db, new_db;
    for (SampleDb *db : {&old_db, &new_db}) {
        db->add(page("http://d/digest", kStart, true, 200, {}, {}));
        db->add(page("http://d/status", kStart, false, 200, {}, {}));
    }
    old_db.add(page("http://d/gone", kStart, false, 200, {}, {}));
    StoredRecord changed = page("http://d/digest", kStart, true, 404, {}, {});
    changed.md5 = "f" + std::string(kDigest).substr(1);
    new_db.add(changed);
    new_db.add(page("http://d/status", kStart, false, 301, {}, {}));
    new_db.add(page("http://d/added", kStart, false, 200, {}, {}));
    ASSERT_EQ(old_db.write(dir_.file("old")), "");
    ASSERT_EQ(new_db.write(dir_.file("new")), "");
    const auto before = listing(dir_.path());
    const ProcessResult diff = run({"diff", "old", "new"});
    EXPECT_EQ(diff.status, 1) << diff.err;
    EXPECT_EQ(diff.out,
              "+ http://d/added\n~ http://d/digest\n! http://d/digest 200->404\n"
              "- http://d/gone\n! http://d/status 200->301\n");
    EXPECT_EQ(json::parse(run({"diff", "old", "new", "--summary", "--json"}).out),
              (json{{"added", 1}, {"removed", 1}, {"digest_changed", 1}, {"status_changed", 2}}));
    EXPECT_EQ(run({"diff", "old", "new", "--summary"}).out,
              "added 1\nremoved 1\ndigest changed 1\nstatus changed 2\n");
    EXPECT_EQ(json_lines(run({"diff", "old", "new", "--json"}).out)[2],
              (json{{"change", "!"}, {"url", "http://d/digest"}, {"old", 200}, {"new", 404}}));
    const ProcessResult same = run({"diff", "new", "new"});
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out, "");
    const ProcessResult missing = run({"diff", "old", "nowhere"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "crawldb: nowhere: No such file or directory\n");
    EXPECT_EQ(listing(dir_.path()), before);

    // A copy of a crawl's files holds files with the ids of the originals:
    // each side is read as itself. The crawl that goes on adds what it met.
    auto crawl = [&](const char *pages, const char *last) {
        return run_process(CRAWLSIM_BINARY, {"-n", pages, "-l", "4", "-h", "sim", last},
                           dir_.path());
    };
    // Left unfinished, the crawl goes on from its frontier the next time.
    ASSERT_EQ(crawl("100", "-k").status, 0);
    std::filesystem::create_directory(dir_.file("first"));
    for (const char *file : {"/url-visited.db", "/vid.db"}) {
        std::filesystem::copy_file(dir_.file("sim") + file, dir_.file("first") + file);
    }
    ASSERT_EQ(crawl("150", "-c1").status, 0);
    const json grown = json::parse(run({"diff", "first", "sim", "--summary", "--json"}).out);
    const json first = json::parse(run({"stats", "-h", "first", "--json"}).out);
    const json now = json::parse(run({"stats", "-h", "sim", "--json"}).out);
    EXPECT_EQ(grown["added"], now["records"].get<int>() - first["records"].get<int>());
    EXPECT_GT(grown["added"], 0);
    EXPECT_EQ(grown["removed"], 0);
}

// A pool value: three numbers, the URL and two texts.
std::string pool_value(const std::string &url, const std::string &text_a,
                       const std::string &text_b = "") {
    return be32(16) + be32(1) + be32(7) + url + '\0' + text_a + '\0' + text_b + '\0';
}

TEST_F(CrawldbTest, PoolCountsEachBankByCollectionAndListsOneCollection) {
    const std::string robot = dir_.file("robot");
    write_graph(robot);
    ASSERT_EQ(write_db_file(robot + "/enumerate.db",
                            {{"a.test|2http://a.test/y"s + '\0', pool_value("http://a.test/y", "r s")},
                             {"a.test|1http://a.test/x"s + '\0', pool_value("http://a.test/x", "")},
                             {"b.test|1http://B.test/"s + '\0', pool_value("http://B.test/", "")},
                             {"c.test|1http://c.test/"s + '\0', pool_value("http://c.test/", "", "x\ty")},
                             {"e.test|1http://e.test/"s + '\0', "undecodable"}}),
              "");
    const std::string in_work = robot + "/enumerate_bak.db";
    ASSERT_EQ(write_db_file(in_work, {{"b.test|1http://b.test/w"s + '\0',
                                       pool_value("http://b.test/w", "")}}),
              "");
    const auto before = listing(dir_.path());
    const ProcessResult counts = run({"pool", "--json", "--hosts"});
    ASSERT_EQ(counts.status, 0) << counts.err;
    EXPECT_EQ(counts.err, "");
    const json report = json::parse(counts.out);
    EXPECT_EQ(report["waiting"], 5);
    EXPECT_EQ(report["in_work"], 1);
    EXPECT_EQ(report["collections"],
              (json{{{"collection", "a.test"}, {"waiting", 2}, {"in_work", 0}},
                    {{"collection", "b.test"}, {"waiting", 1}, {"in_work", 1}},
                    {{"collection", "c.test"}, {"waiting", 1}, {"in_work", 0}},
                    {{"collection", "e.test"}, {"waiting", 1}, {"in_work", 0}}}));
    EXPECT_EQ(report["hosts"][1], (json{{"host", "b.test"}, {"waiting", 1}, {"in_work", 1}}));
    EXPECT_EQ(report["undecodable"], 1);
    EXPECT_EQ(run({"pool", "--collection", "a.test"}).out,
              "waiting\ta.test|1http://a.test/x\thttp://a.test/x\t16\t1\t7\t\t\n"
              "waiting\ta.test|2http://a.test/y\thttp://a.test/y\t16\t1\t7\tr s\t\n");
    // text_b without the value's closing zero.
    const json c_test = json::parse(run({"pool", "--collection", "c.test", "--json"}).out);
    EXPECT_EQ(c_test["text_b"], "x\ty");
    EXPECT_EQ(c_test["bank"], "waiting");
    EXPECT_EQ(run({"pool", "--collection", "c.test"}).out,
              "waiting\tc.test|1http://c.test/\thttp://c.test/\t16\t1\t7\t\tx\xEF\xBF\xBDy\n");
    EXPECT_EQ(run({"pool", "--collection", "d.test"}).status, 1);
    EXPECT_EQ(run({"pool", "--hosts"}).out,
              "waiting 5, in work 1\n\n"
              "collection     waiting     in work\n"
              "a.test               2           0\nb.test               1           1\n"
              "c.test               1           0\ne.test               1           0\n\n"
              "host       waiting     in work\n"
              "a.test           2           0\nb.test           1           1\n"
              "c.test           1           0\n");
    EXPECT_EQ(listing(dir_.path()), before);
    std::filesystem::remove(in_work);
    EXPECT_NE(run({"pool"}).err.find("enumerate_bak.db is missing: counted as empty"),
              std::string::npos);
}

}  // namespace

namespace {

// Pages overwritten past their headers: readers may crash or fail on them
// before the verifier speaks.
void overwrite_pages(std::string &bytes) {
    std::mt19937 random(7);
    for (int i = 0; i < 20; ++i) {
        const size_t page = 1 + random() % (bytes.size() / 4096 - 1);
        for (size_t at = page * 4096 + 26; at < page * 4096 + 86; ++at) {
            bytes[at] = static_cast<char>(random());
        }
    }
}

// The root's last child made the root itself: a search below it, and
// Berkeley DB's verifier, go round for ever unless stopped.
void point_root_at_itself(std::string &bytes) {
    uint32_t root_page = 0;  // named by the meta page
    std::memcpy(&root_page, &bytes[88], 4);
    const size_t root = 4096 * size_t{root_page};
    uint16_t entries = 0, last = 0;
    std::memcpy(&entries, &bytes[root + 20], 2);
    std::memcpy(&last, &bytes[root + 26 + 2 * (entries - 1)], 2);
    std::memcpy(&bytes[root + last + 4], &bytes[88], 4);
}

// Each command ends the same way every time, and soon.
TEST_F(CrawldbTest, ADamagedCrawlIsRefusedByEveryCommandAndReportedByCheck) {
    ASSERT_EQ(run_process(CRAWLSIM_BINARY, {"-n", "3000", "-l", "6", "-c", "2", "-k"}, dir_.path())
                  .status,
              0);
    const std::string path = dir_.file("robot/url-visited.db");
    const std::string sound = read_file(path);
    const std::string refusal = "crawldb: " + path +
                                " does not pass verification: it is damaged (see crawldb check)\n";
    for (int round = 0; round < 4; ++round) {
        std::string bytes = sound;
        (round % 2 == 0 ? overwrite_pages : point_root_at_itself)(bytes);
        ASSERT_TRUE(write_file(path, bytes));
        for (const Strings &command :
             {Strings{"stats"}, Strings{"export"}, Strings{"export", "--prefix", "http://"},
              Strings{"plan"}, Strings{"links", "--orphans"}, Strings{"links", "--broken"},
              Strings{"pool"}}) {
            const ProcessResult p = run(command);
            EXPECT_EQ(p.status, command[0] == "pool" ? 0 : 2) << command[0];
            if (command[0] != "pool") {
                EXPECT_EQ(p.err, refusal) << command[0];
            }
        }
        const ProcessResult check = run({"check", "--json"});
        EXPECT_EQ(check.status, 1) << check.err;
        EXPECT_EQ(json::parse(check.out)["problems"], (json{{"damaged_file", 1}}));
        // The dump's verifier names each page it finds linked twice once.
        const ProcessResult dump = run_process(CRAWLPEEK_BINARY, {}, dir_.path());
        EXPECT_EQ(dump.status, 1);
        std::set<std::string> linked_twice;
        int repeated = 0;
        for (const std::string &line : split(dump.err, '\n')) {
            repeated += line.ends_with(": linked twice") && !linked_twice.insert(line).second;
        }
        EXPECT_EQ(repeated, 0);
    }
}

}  // namespace
