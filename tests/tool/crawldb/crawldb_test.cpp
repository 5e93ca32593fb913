// crawldb run as a process on databases written byte by byte and by crawlsim:
// its JSON parsed, never compared as text, and its directory left untouched.
#include <functional>
#include <set>

#include "support/crawl_report.h"
#include "support/sample_db.h"
#include "tool/crawldb/crawldb_fixture.h"

namespace {

using namespace std::string_literals;

constexpr uint32_t kDay = 86400;
constexpr uint32_t kNewest = 1796461261;  // 2026-12-05 09:01:01 UTC, the newest visit
constexpr uint32_t kStart = 1796371200;   // 2026-12-04 08:00:00 UTC, the crawl's start
const char kDigest[] = "0123456789abcdef0123456789abcdef";
const char kFirst[] = "http://User:pw@WWW.A.example.co.uk:8080/x";

// Records 1 to 7, 1 and 6 starting points, visited on either side of the
// freshness bounds; then the last process time, visited last, and a value
// that does not decode.
void write_sample(const std::string &home) {
    const std::vector<std::string> urls =
        split(kFirst + " http://www.a.example.co.uk/y http://b.example.co.uk/"s +
                  " http://[2001:DB8::1]:80/ http://192.0.2.7/ mailto:x@y http://b.example.co.uk/z",
              ' ');
    const int32_t servers[] = {200, 301, 404, 503, 0, 102, 999};
    const uint32_t visits[] = {
        kNewest, kNewest - kDay,          kNewest - kDay - 1, kNewest - 7 * kDay - 1,
        0,       kNewest - 30 * kDay - 1, kNewest - 30 * kDay};
    std::vector<StoredRecord> records;
    for (size_t i = 0; i < 7; ++i) {
        records.push_back(StoredRecord::full(urls[i]));
        records[i].last_visited = visits[i];
        records[i].depth_and_status = std::make_pair(0, servers[i]);
        if (i != 0 && i != 5) records[i].referer_id = 1;
    }
    records[0].md5 = kDigest;
    records[0].progress_status = 4;
    records[0].depth_and_status = std::make_pair(3, 200);
    records[0].link_ids = std::vector<uint32_t>{2, 3, 1, 2};
    records[1].link_ids = std::vector<uint32_t>{1, 99};
    records[0].database = records[1].database = "pages";
    records[0].last_processed = records[1].last_processed = kStart;
    records[2].md5_cleared = true;
    SampleDb db;
    for (const StoredRecord &r : records) db.add(r);
    StoredRecord last = StoredRecord::full("LastProcessTime");
    last.last_visited = kNewest + 90 * kDay;
    db.add(last);
    db.put_record(db.id_of("http://undecodable/"), "xx");
    db.set_meta(2, kStart, static_cast<int32_t>(db.next_id()), 0);
    ASSERT_EQ(db.write(home), "");
}

// What crawlpeek's whole dump says of each URL: its referer line and links.
struct Peeked {
    std::string referer;
    std::vector<std::string> links;
};
std::map<std::string, Peeked> peek_entries(const std::string &dump) {
    std::map<std::string, Peeked> entries;
    Peeked *at = nullptr;
    std::istringstream in(dump);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != ' ') at = &entries[line];
        if (line.rfind("  referer:         ", 0) == 0) at->referer = line.substr(19);
        if (line.find_first_not_of(' ') == 18) at->links.push_back(line.substr(18));
    }
    return entries;
}

TEST_F(CrawldbTest, StatsCountsTheRecordsAndGroupsTheirHosts) {
    write_sample(dir_.file("robot"));
    ProcessResult p = run({"stats", "--json"});
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(json::parse(p.out), json::parse(R"({
        "records": 7, "undecodable": 1, "crawl": {"in_progress": true, "started": 1796371200},
        "start_points": 2, "with_digest": 1, "never_fetched": 1, "processed_this_crawl": 2,
        "by_progress_status": {"0": 6, "4": 1},
        "by_server_status": {"0": 1, "102": 1, "200": 1, "301": 1, "404": 1, "503": 1, "999": 1},
        "by_status_class": {"1xx": 1, "2xx": 1, "3xx": 1, "4xx": 1, "5xx": 1, "other": 2},
        "by_database": {"pages": 2, "": 5}, "by_depth_countdown": {"0": 6, "3": 1},
        "freshness": {"1d": 2, "7d": 1, "30d": 2, "older": 1, "never": 1}})"));
    // The text: a table for each count, names aligned.
    const std::string text = run({"stats"}).out;
    EXPECT_NE(text.find("  processed this crawl             2\n"
                        "  crawl in progress since 2026-12-04 08:00:00 UTC\n"),
              std::string::npos) << text;
    EXPECT_TRUE(text.ends_with("\nfreshness (last visit, against the newest)\n"
                               "  1d                2\n  7d                1\n"
                               "  30d               2\n  older             1\n"
                               "  never             1\n")) << text;

    // A line "name: records unfetched 2xx 3xx 4xx 5xx" a row, in name order;
    // the rows come most records first.
    auto rows = [this](std::vector<std::string> args, const char *name) {
        const json report = json::parse(run(args).out);
        std::map<std::string, std::string> lines;
        int previous = 1 << 30;
        for (const json &row : report["hosts"]) {
            EXPECT_LE(row["records"].get<int>(), previous) << row;
            previous = row["records"].get<int>();
            for (const char *field : {"records", "unfetched", "2xx", "3xx", "4xx", "5xx"})
                lines[row[name].get<std::string>()] += " " + row[field].dump();
        }
        std::string text;
        for (const auto &[host, counts] : lines) text += host + ":" + counts + "\n";
        return text;
    };
    const std::string ones = ": 1 0 0 0 0 0\n192.0.2.7: 1 1 0 0 0 0\n[2001:db8::1]: 1 0 0 0 0 1\n";
    const std::string twos = "b.example.co.uk: 2 0 0 0 1 0\nwww.a.example.co.uk: 2 0 1 1 0 0\n";
    EXPECT_EQ(rows({"stats", "--json", "--hosts"}, "host"), ones + twos);
    EXPECT_EQ(rows({"stats", "--json", "--hosts", "2"}, "host"), twos);
    EXPECT_EQ(rows({"stats", "--json", "--hosts", "--by", "domain"}, "domain"),
              ones + "example.co.uk: 4 0 1 1 1 0\n");
}

// URLs as crawlers store them: paths that no URL parser accepts still have
// their host, in every command that takes one.
TEST_F(CrawldbTest, HostsOfUrlsWithOddPathsAreTheirAuthoritysHost) {
    const std::string robot = dir_.file("robot");
    SampleDb db;
    std::map<std::string, std::string> pool;
    for (const std::string &path : {"a b"s, "\xC3\xA9"s, "\xE9"s, "{x}"s, "%zz"s, "\xFF"s}) {
        const std::string url = "http://u@Odd.Example.com:81/" + path;
        db.add(StoredRecord::full(url));
        pool["odd|0" + url + '\0'] = be32(0) + be32(0) + be32(0) + url + '\0' + '\0' + '\0';
    }
    ASSERT_EQ(db.write(robot), "");
    ASSERT_EQ(write_db_file(robot + "/enumerate.db", pool), "");
    const json hosts = json::parse(run({"stats", "--json", "--hosts"}).out)["hosts"];
    EXPECT_EQ(hosts, json::parse(R"([{"host": "odd.example.com", "records": 6, "unfetched": 6,
        "2xx": 0, "3xx": 0, "4xx": 0, "5xx": 0}])"));
    const json domains = json::parse(run({"stats", "--json", "--hosts", "--by", "domain"}).out);
    EXPECT_EQ(domains["hosts"][0]["domain"], "example.com");
    EXPECT_EQ(domains["hosts"][0]["records"], 6);
    EXPECT_EQ(json_lines(run({"export", "--host", "odd.example.com", "--no-links"}).out).size(), 6u);
    const json in_pool = json::parse(run({"pool", "--json", "--hosts"}).out)["hosts"];
    EXPECT_EQ(in_pool, json::parse(R"([{"host": "odd.example.com", "waiting": 6, "in_work": 0}])"));
}

TEST_F(CrawldbTest, ExportWritesEachRecordOnceAsJsonOrTsvAndItsFiltersPickTheRightOnes) {
    write_sample(dir_.file("robot"));
    ProcessResult all = run({"export"});
    EXPECT_NE(all.err.find("crawldb: 1 records cannot be decoded"), std::string::npos) << all.err;
    const std::vector<json> lines = json_lines(all.out);
    ASSERT_EQ(lines.size(), 7u) << all.out;
    // The links in the order crawlpeek prints them, an unknown id left out.
    std::map<std::string, Peeked> peeked =
        peek_entries(run_process(CRAWLPEEK_BINARY, {}, dir_.path()).out);
    ASSERT_EQ(peeked[kFirst].links.size(), 4u);
    json first = json::parse(R"({"id": 1, "url": "http://User:pw@WWW.A.example.co.uk:8080/x",
        "referer_id": null, "referer": null, "progress_status": 4, "server_status": 200,
        "depth_countdown": 3, "md5": "0123456789abcdef0123456789abcdef", "database": "pages",
        "last_processed": 1796371200, "last_visited": 1796461261, "last_modified": 0,
        "rd_expires": 0, "link_count": 4, "escaped": false})");
    first["links"] = peeked[kFirst].links;
    EXPECT_EQ(lines[0], first);
    EXPECT_EQ(lines[1]["referer"], kFirst);
    // Link 99 names no record: crawlpeek leaves it out of its count.
    EXPECT_EQ(lines[1]["link_count"], 1);
    EXPECT_EQ(lines[1]["links"], json::array({kFirst}));
    EXPECT_EQ(lines[2]["md5"], "");  // a cleared digest
    EXPECT_EQ(lines[2]["database"], nullptr);

    // Each row: the options, " =" and the ids written; dates in one word.
    // The lone --until: expected record 6 alone, since record 5, never
    // visited, has no last visit at or before any date; seen 5 and 6.
    for (const std::string row :
         {" = 1 2 3 4 5 6 7", "--status 400-599 = 3 4", "--status 0,999 = 5 7",
          "--status 301,100-199 = 2 6", "--status 418 =", "--progress 4 = 1",
          "--progress 0 --status 200 =", "--prefix http://b.example.co.uk/ = 3 7",
          "--prefix http://www.a = 2", "--prefix http://nowhere/ =",
          "--prefix http:// = 1 2 3 4 5 7",  // in URL order 5 1 4 3 7 2
          "--host WWW.A.EXAMPLE.CO.UK = 1 2", "--host [2001:db8::1] = 4", "--match ^mailto: = 6",
          "--match co\\.uk/[yz]$ = 2 7", "--since 05-Dec-2026,09:01:01 = 1",
          "--since 28-Nov-2026,09:01:00 --until 04-Dec-2026,09:01:00 = 3 4",
          "--until 05-Nov-2026,09:01:00 = 6", "--limit 2 = 1 2",
          "--status 400-599 --limit 1 = 3"}) {
        const size_t at = row.find(" =");
        std::vector<std::string> args = split("export -h robot " + row.substr(0, at), ' ');
        if (args.back().empty()) args.pop_back();
        for (bool links : {true, false}) {
            if (!links) args.push_back("--no-links");
            ProcessResult p = run(args);
            std::string ids;
            for (const json &line : json_lines(p.out)) ids += " " + line["id"].dump();
            EXPECT_EQ(ids, row.substr(at + 2)) << row << " " << links;
            EXPECT_EQ(p.status, ids.empty() ? 1 : 0) << row << " " << links;
        }
    }
    const json without = json_lines(run({"export", "--no-links"}).out)[1];
    EXPECT_TRUE(!without.contains("links") && !without.contains("referer")) << without;
    EXPECT_TRUE(!without.contains("link_count") && without["link_ids"] == 2) << without;
    const std::string no_links_tsv = run({"export", "--no-links", "--tsv"}).out;
    EXPECT_EQ(split(split(no_links_tsv, '\n')[2], '\t').end()[-2], "2");
    EXPECT_EQ(split(split(no_links_tsv, '\n')[0], '\t').end()[-2], "link_ids");

    // TSV: a header of the fields, and the values JSON has.
    const std::vector<std::string> fields = split(
        "id url referer_id referer progress_status server_status depth_countdown md5 database "
        "last_processed last_visited last_modified rd_expires link_count links escaped",
        ' ');
    std::vector<std::string> tsv = split(run({"export", "--tsv", "--iso-times"}).out, '\n');
    ASSERT_EQ(tsv.size(), 9u);  // the header, 7 rows and nothing after the last line end
    EXPECT_EQ(split(tsv[0], '\t'), fields);
    std::vector<std::string> row1 = split(tsv[1], '\t');
    ASSERT_EQ(row1.size(), fields.size());
    EXPECT_EQ(row1.back(), "false");
    row1.pop_back();
    EXPECT_EQ(json(split(row1.back(), ' ')), lines[0]["links"]);
    row1.pop_back();
    EXPECT_EQ(row1, (std::vector<std::string>{"1", kFirst, "", "", "4", "200", "3", kDigest,
                                              "pages", "2026-12-04T08:00:00Z",
                                              "2026-12-05T09:01:01Z", "", "", "4"}));
}

// URLs that differ are exported apart, and a line marked escaped gives the
// stored bytes back once every %XX of its URLs is decoded; names always do.
TEST_F(CrawldbTest, ExportedUrlsAndNamesGiveTheStoredBytesBack) {
    // Pairs that were written alike: a raw byte and its escape as text, a
    // space or a tab and theirs; then '%' beside bad bytes, and clean URLs.
    const std::vector<std::string> urls = {
        "http://a.test/\xFF", "http://a.test/%FF", "http://a.test/a b", "http://a.test/a%20b",
        "http://a.test/\t", "http://a.test/%09", "http://a.test/%25\xFF%", "http://a.test/\xC3(\n",
        "http://a.test/\xC3\xA9%", "http://a.test/%zz"};
    const std::vector<std::string> databases = {"p\xFFx", "p%FFx", "p x", "", "(none)", "\xE9t\xE9"};
    SampleDb db;
    for (size_t i = 0; i < urls.size(); ++i) {
        StoredRecord r = StoredRecord::full(urls[i]);
        if (i > 0) r.referer_id = static_cast<uint32_t>(i);
        r.link_ids = std::vector<uint32_t>{static_cast<uint32_t>((i + 1) % urls.size() + 1)};
        r.database = databases[i % databases.size()];
        db.add(r);
    }
    ASSERT_EQ(db.write(dir_.file("robot")), "");
    auto stored = [&](const std::string &text, bool escaped) {
        return escaped ? percent_decoded(text) : text;
    };
    const std::vector<json> lines = json_lines(run({"export"}).out);
    ASSERT_EQ(lines.size(), urls.size());
    std::vector<std::string> tsv = split(run({"export", "--tsv"}).out, '\n');
    ASSERT_EQ(tsv.size(), urls.size() + 2);
    EXPECT_EQ(split(tsv[0], '\t').back(), "escaped");
    for (size_t i = 0; i < urls.size(); ++i) {
        const json &line = lines[i];
        const bool escaped = line["escaped"].get<bool>();
        EXPECT_EQ(stored(line["url"], escaped), urls[i]) << line;
        const std::string link = urls[(i + 1) % urls.size()];
        EXPECT_EQ(stored(line["links"][0], escaped), link) << line;
        if (i > 0) {
            EXPECT_EQ(stored(line["referer"], escaped), urls[i - 1]) << line;
        }
        const std::string database = databases[i % databases.size()];
        if (!database.empty()) {
            EXPECT_EQ(percent_decoded(line["database"].get<std::string>()), database) << line;
        }
        const std::vector<std::string> row = split(tsv[i + 1], '\t');
        ASSERT_EQ(row.size(), 16u) << tsv[i + 1];
        const bool tsv_escaped = row[15] == "true";
        EXPECT_TRUE(tsv_escaped || row[15] == "false") << tsv[i + 1];
        EXPECT_EQ(stored(row[1], tsv_escaped), urls[i]) << tsv[i + 1];
        EXPECT_EQ(stored(row[14], tsv_escaped), link) << tsv[i + 1];
        if (i > 0) {
            EXPECT_EQ(stored(row[3], tsv_escaped), urls[i - 1]) << tsv[i + 1];
        }
        EXPECT_EQ(percent_decoded(row[8]), database) << tsv[i + 1];
    }
}

// Names that are not UTF-8, '%', the empty name and "(none)": each its
// own row, in JSON and in text, and the rows add up to the records.
TEST_F(CrawldbTest, NamesStayApartAndTheirCountsAddUp) {
    const std::vector<std::pair<std::string, std::string>> names = {
        {"p\xFFx", "p%FFx"}, {"p\xFEx", "p%FEx"}, {"p%FFx", "p%25FFx"}, {"", ""}, {"(none)", "(none)"}};
    SampleDb db;
    for (const auto &[stored, written] : names) {
        StoredRecord r = StoredRecord::full("http://h" + stored + ".test/");
        r.database = stored;
        db.add(r);
    }
    ASSERT_EQ(db.write(dir_.file("robot")), "");
    const ProcessResult p = run({"stats", "--json", "--hosts"});
    json expected = json::object();
    for (const auto &[stored, written] : names) expected[written] = 1;
    const json report = json::parse(p.out);
    EXPECT_EQ(report["by_database"], expected) << p.out;
    std::set<std::string> hosts;
    for (const json &row : report["hosts"]) hosts.insert(row["host"].get<std::string>());
    EXPECT_EQ(hosts, (std::set<std::string>{"hp%FFx.test", "hp%FEx.test", "hp%25ffx.test",
                                             "h.test", "h(none).test"}));
    const std::string text = run({"stats"}).out;
    const size_t table = text.find("by database\n");
    ASSERT_NE(table, std::string::npos);
    std::set<std::string> rows;
    for (const std::string &line : split(text.substr(table), '\n')) {
        if (line.rfind("  ", 0) == 0) rows.insert(split(line.substr(2), ' ')[0]);
        if (line.empty()) break;
    }
    EXPECT_EQ(rows, (std::set<std::string>{"p%FFx", "p%FEx", "p%25FFx", "(none)", "%28none)"}));
}

// A crawl written by the crawler's own operations: crawldb and crawlpeek agree.
TEST_F(CrawldbTest, OnACrawlsimDatabaseCrawldbAgreesWithCrawlpeek) {
    ProcessResult s =
        run_process(CRAWLSIM_BINARY, {"-n", "200", "-t", "2", "-c", "2", "-k"}, dir_.path());
    ASSERT_EQ(s.status, 0) << s.err;
    const std::string dump = run_process(CRAWLPEEK_BINARY, {}, dir_.path()).out;
    const json stats = json::parse(run({"stats", "--json", "--hosts", "1000000"}).out);
    EXPECT_EQ(stats["records"], summary_value(dump, "Number of entries  "));
    EXPECT_EQ(stats["with_digest"], summary_value(dump, "Number of entries with MD5"));
    for (const char *table : {"by_status_class", "freshness", "by_database", "hosts"}) {
        int sum = 0;
        for (const json &count : stats[table])
            sum += (count.is_object() ? count["records"] : count).get<int>();
        EXPECT_EQ(sum, stats["records"]) << table;
    }

    std::map<std::string, Peeked> peeked = peek_entries(dump);
    const std::vector<json> lines = json_lines(run({"export"}).out);
    EXPECT_EQ(lines.size(), static_cast<size_t>(stats["records"].get<int>()));
    int previous = 0;
    for (const json &line : lines) {
        EXPECT_GT(line["id"].get<int>(), std::exchange(previous, line["id"].get<int>()));
        const Peeked &p = peeked[line["url"].get<std::string>()];
        EXPECT_EQ(line["referer"], p.referer == "starting-point" ? json() : json(p.referer))
            << line;
        EXPECT_EQ(line["links"], json(p.links)) << line;
        EXPECT_EQ(line["link_count"], p.links.size()) << line;
    }
}

// Ids from 2^31 - 1 up are never handed out, but damage can store them:
// every reader shows such records as the whole dump does; check reports them.
TEST_F(CrawldbTest, RecordsUnderIdsPastTheLimitAreShownByEveryReader) {
    SampleDb db;
    StoredRecord a = StoredRecord::full("http://a/"), hi = StoredRecord::full("http://hi/"),
                 top = StoredRecord::full("http://top/");
    a.link_ids = std::vector<uint32_t>{0x7fffffff, 0xffffffff};
    hi.referer_id = 1;
    top.referer_id = 0x7fffffff;
    db.add(a);
    db.put_record_key("odd", StoredRecord::full("http://odd/").bytes());  // a key that is no id
    for (const auto &[id, record] : {std::pair{0x7fffffffu, hi}, std::pair{0xffffffffu, top}}) {
        db.put_id(record.url, be32(id));
        db.put_record(id, record.bytes());
    }
    ASSERT_EQ(db.write(dir_.file("robot")), "");
    std::map<std::string, Peeked> dumped = peek_entries(run_process(CRAWLPEEK_BINARY, {}, dir_.path()).out);
    ASSERT_EQ(dumped["http://top/"].referer, "http://hi/");
    for (const char *url : {"http://hi/", "http://top/"}) {
        const ProcessResult one = run_process(CRAWLPEEK_BINARY, {"-u", url}, dir_.path());
        EXPECT_EQ(one.status, 0);
        EXPECT_EQ(peek_entries(one.out)[url].referer, dumped[url].referer) << url << one.out;
    }
    const ProcessResult chain = run_process(CRAWLPEEK_BINARY, {"-r", "http://top/"}, dir_.path());
    EXPECT_EQ(chain.out.substr(0, chain.out.find("\n\n")),
              "http://top/\nhttp://hi/\nhttp://a/\n") << chain.out;

    for (const Strings &args : {Strings{"export"}, Strings{"export", "--prefix", "http"}}) {
        std::string ids;
        for (const json &line : json_lines(run(args).out)) ids += " " + line["id"].dump();
        EXPECT_EQ(ids, " 1 2147483647 4294967295") << args.size();
    }
    const json first = json_lines(run({"export"}).out)[0];
    EXPECT_EQ(first["links"], json(dumped["http://a/"].links));
    EXPECT_EQ(first["link_count"], 2);
    EXPECT_EQ(run({"links", "--to", "http://top/"}).out, "http://a/\n");
    EXPECT_EQ(json::parse(run({"check", "--json"}).out)["problems"]["key_not_id"], 3);
}

// Two sound records, A linking to B found on A, next_id 9; and one change.
struct Sample {
    SampleDb db;
    StoredRecord a = StoredRecord::full("http://a/"), b = StoredRecord::full("http://b/");
};

TEST_F(CrawldbTest, CheckNamesEachKindOfProblemAloneAndADamagedFileAlone) {
    const struct {
        const char *kind;  // "" for a sound database
        int count;
        std::function<void(Sample &)> change;
        const char *corrupt = nullptr;  // a file whose pages are overwritten
    } rows[] = {
        {"", 0, [](Sample &) {}},
        {"metadata_missing", 1, [](Sample &s) { s.db.drop_meta(); }},
        {"metadata_size", 1, [](Sample &s) { s.db.set_meta_bytes(meta_bytes(2, 0, 9, 0) + "."); }},
        {"metadata_version", 1, [](Sample &s) { s.db.set_meta(7, 0, 9, 0); }},
        {"key_not_id", 3,
         [](Sample &s) {
             for (const std::string &key : {std::string("abc"), be32(0), be32(0x7fffffff)})
                 s.db.put_record_key(key, StoredRecord::full("http://k/").bytes());
         }},
        // Record 2 and the id vid.db gives B.
        {"id_not_below_next_id", 2, [](Sample &s) { s.db.set_meta(2, 0, 2, 0); }},
        {"undecodable_record", 2,
         [](Sample &s) {
             s.db.put_record(s.db.id_of("http://u/"), "xx");
             s.db.put_record(s.db.id_of("http://e/"), StoredRecord::full("").bytes());
         }},
        {"bad_digest", 1, [](Sample &s) { s.b.md5 = std::string(31, 'a') + "g"; }},
        {"url_not_in_vid", 1,
         [](Sample &s) { s.db.put_record(3, StoredRecord::full("http://n/").bytes()); }},
        {"url_with_two_ids", 1, [](Sample &s) { s.db.put_record(3, s.a.bytes()); }},
        // Keys without their zero byte, or with bytes after it, beside A's.
        {"vid_key_not_url", 2,
         [](Sample &s) {
             s.db.put_id_key("http://a/", be32(1));
             s.db.put_id_key("http://a/"s + '\0' + "x", be32(1));
         }},
        {"vid_value_not_id", 2,
         [](Sample &s) {
             s.db.put_id("http://v/", "abc");
             s.db.put_id("http://w/", be32(0));
         }},
        {"vid_id_without_record", 1, [](Sample &s) { s.db.id_of("http://w/"); }},
        {"vid_url_mismatch", 1, [](Sample &s) { s.db.put_id("http://w/", be32(2)); }},
        {"referer_unresolved", 1, [](Sample &s) { s.b.referer_id = 99; }},
        {"link_unresolved", 1, [](Sample &s) { s.a.link_ids->push_back(5); }},
        {"damaged_file", 1, [](Sample &) {}, "url-visited.db"},
        {"damaged_file", 1, [](Sample &) {}, "vid.db"},
    };
    int n = 0;
    for (const auto &r : rows) {
        const std::string home = dir_.file("db" + std::to_string(++n));
        Sample s;
        s.a.md5 = kDigest;
        s.b.referer_id = s.db.id_of("http://a/");
        s.a.link_ids = {{s.db.id_of("http://b/")}};
        s.db.set_meta(2, 0, 9, 0);
        r.change(s);
        s.db.add(s.a);
        s.db.add(s.b);
        ASSERT_EQ(s.db.write(home), "");
        if (r.corrupt != nullptr) {
            // Every byte after the first 512, a btree's root page among them.
            std::string bytes = read_file(home + "/" + r.corrupt);
            for (size_t i = 512; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
            ASSERT_TRUE(write_file(home + "/" + r.corrupt, bytes));
        }
        ProcessResult p = run({"check", "--json", "--examples", "1", "-h", home});
        const bool clean = *r.kind == '\0';
        EXPECT_EQ(p.status, clean ? 0 : 1) << r.kind << " " << p.err;
        ASSERT_FALSE(p.out.empty()) << r.kind << " " << p.err;
        const json report = json::parse(p.out);
        EXPECT_EQ(report["clean"], clean) << r.kind;
        EXPECT_EQ(report["problems"], (clean ? json::object() : json{{r.kind, r.count}})) << report;
        EXPECT_EQ(report["examples"].size(), clean ? 0u : 1u) << report;
        if (clean) continue;
        EXPECT_EQ(report["examples"][r.kind].size(), 1u) << report;
        if (r.corrupt != nullptr) {
            EXPECT_EQ(report["examples"]["damaged_file"][0]["file"], home + "/" + r.corrupt);
        }
    }
}

// A vid.db key is the URL and one zero byte: a key without it, or with
// bytes after it, maps no URL for any reader, and two keys are two entries.
TEST_F(CrawldbTest, VidKeysThatAreNotAUrlAndItsZeroByteMapNoUrl) {
    for (const std::string &odd : {"http://b/"s, "http://b/"s + '\0' + '\0'}) {
        // "sound": A and B mapped; "beside": one more key for B; "only": B
        // mapped by the odd key alone.
        for (const char *home : {"sound", "beside", "only"}) {
            SampleDb db;
            db.add(StoredRecord::full("http://a/"));
            if (std::string(home) == "only") {
                db.put_record(2, StoredRecord::full("http://b/").bytes());
            } else {
                db.add(StoredRecord::full("http://b/"));
            }
            if (std::string(home) != "sound") db.put_id_key(odd, be32(2));
            db.set_meta(2, 0, 3, 0);
            ASSERT_EQ(db.write(dir_.file(home)), "");
        }
        const json only = json::parse(run({"check", "--json", "-h", "only"}).out);
        EXPECT_EQ(only["problems"], (json{{"vid_key_not_url", 1}, {"url_not_in_vid", 1}})) << only;
        EXPECT_EQ(only["examples"]["url_not_in_vid"][0]["url"], "http://b/");
        EXPECT_EQ(json::parse(run({"check", "--json", "-h", "beside"}).out)["problems"],
                  (json{{"vid_key_not_url", 1}}));
        const ProcessResult beside = run({"diff", "sound", "beside"});
        EXPECT_EQ(beside.status, 0) << beside.out;
        const ProcessResult only_diff = run({"diff", "sound", "only"});
        EXPECT_EQ(only_diff.out, "- http://b/\n");
        EXPECT_EQ(run_process(CRAWLPEEK_BINARY, {"-u", "http://b/", "-h", "only"}, dir_.path()).out, "");
    }
}

TEST_F(CrawldbTest, TroubleIsStatusTwoAndOneLineAndNothingIsMade) {
    ASSERT_TRUE(write_file(dir_.file("plain"), "x"));
    std::filesystem::create_directory(dir_.file("empty"));
    write_sample(dir_.file("robot"));
    const auto before = listing(dir_.path());
    // '' is an empty argument. "export --status ''": expected refused, as
    // IntRanges::parse refuses an empty list; seen status 0 and every record.
    for (const std::string line :
         {"", "frobnicate", "stats --bogus", "stats --by planet", "export --status 5-3",
          "export --since whenever", "export --status ''", "export --match (", "stats -h missing",
          "export --home missing/robot", "check -h plain", "check -h empty"}) {
        auto args = line.empty() ? std::vector<std::string>() : split(line, ' ');
        for (std::string &arg : args) arg = arg == "''" ? "" : arg;
        ProcessResult p = run(args);
        EXPECT_EQ(p.status, 2) << line;
        EXPECT_TRUE(p.out.empty()) << line;
        EXPECT_EQ(p.err.rfind("crawldb: ", 0), 0u) << line << p.err;
        EXPECT_EQ(p.err.find('\n'), p.err.size() - 1) << line << p.err;
    }
    // Each line: the arguments and a word the answer holds.
    for (const std::string line : {"--help stats", "stats --help --by", "export --help --prefix",
                                   "check --help --examples", "--version crawldb"}) {
        std::vector<std::string> args = split(line, ' ');
        const std::string word = args.back();
        args.pop_back();
        ProcessResult p = run(args);
        EXPECT_EQ(p.status, 0) << line;
        EXPECT_EQ(p.err, "") << line;
        EXPECT_NE(p.out.find(word), std::string::npos) << p.out;
    }
    // The commands that read the database leave it as it was.
    for (const std::string line : {"stats --hosts", "export", "export --prefix http://b", "check",
                                   "links --orphans --home robot"})
        EXPECT_NE(run(split(line, ' ')).status, 2) << line;
    EXPECT_EQ(listing(dir_.path()), before);
}

// A working directory too deep for getcwd to name is said to be so; one of
// 8,191 bytes, with the byte for the end to spare, is named.
TEST(CrawldbDeepDirectoryTest, AWorkingDirectoryTooLongToNameIsReported) {
    // Past 8 KB through three links that each lead 3,000 bytes deeper; removed
    // from the bottom up, as no path from the top is short enough.
    ScratchDir scratch;
    std::string step, deep = scratch.path();
    for (int i = 0; i < 12; ++i) step += "/" + std::string(250, 'd');
    for (int i = 0; i < 3; ++i, deep += "/l") {
        std::filesystem::create_directories(deep + step);
        std::filesystem::create_directory_symlink(deep + step, deep + "/l");
    }
    std::filesystem::create_directory(deep + "/robot");
    const ProcessResult p = run_process(CRAWLDB_BINARY, {"stats"}, deep);
    EXPECT_EQ(p.status, 2);
    EXPECT_EQ(p.err, "crawldb: the working directory cannot be read\n");
    // One of 8,191 bytes: named, though too long a name for its files.
    const size_t exact =
        8191 - std::filesystem::canonical(scratch.path()).native().size() - 2 * step.size();
    const size_t whole = (exact - 2) / 251 * 251;  // leaves a last name of 1 to 251 bytes
    const std::string fits = deep.substr(0, deep.size() - 2) + step.substr(0, whole) + "/" +
                             std::string(exact - whole - 1, 'e');
    std::filesystem::create_directories(fits + "/robot");
    EXPECT_TRUE(run_process(CRAWLDB_BINARY, {"stats"}, fits).err.ends_with(
        "/robot/url-visited.db: File name too long\n"));
    while (deep.size() > scratch.path().size()) {
        deep.resize(deep.size() - 2);
        std::filesystem::remove_all(deep + step.substr(0, 251));
        std::filesystem::remove(deep + "/l");
    }
}

}  // namespace
