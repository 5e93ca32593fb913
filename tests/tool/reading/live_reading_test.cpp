// Readers of a crawl being written: every command reads the files from their
// pages on disk while a crawler holds the writer's mark, and answers as it
// does through Berkeley DB at rest; no reader, however it ends, writes into
// the state directory or leaves anything that stops the next.
#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "robot/vurl_writer_lock.h"
#include "tool/crawldb/crawldb_fixture.h"

namespace {

struct Reader {
    const char *program;
    std::vector<std::string> args;
    bool notes_writer = true;  // says on standard error that a crawler writes
};

std::vector<Reader> every_reader() {
    const std::string url = "http://www.site0.test/p0.html";
    std::vector<Reader> readers = {
        {CRAWLPEEK_BINARY, {}},
        {CRAWLPEEK_BINARY, {"-u", url}, false},
        {CRAWLPEEK_BINARY, {"-r", url}, false},
        {CRAWLDB_BINARY, {"pool", "--collection", "www.site2.test"}},
        {CRAWLDB_BINARY, {"diff", "copy", "robot"}},
        {CRAWLDB_BINARY, {"links", "--to", url}},
        {CRAWLDB_BINARY, {"export", "--prefix", "http://www.site2"}},
    };
    for (const char *line : {"stats --json --hosts 1000", "export", "export --tsv --no-links",
                             "check --json", "links --broken", "links --orphans",
                             "plan", "pool --hosts 100"}) {
        readers.push_back({CRAWLDB_BINARY, split(line, ' ')});
    }
    return readers;
}

// The crawl's files: pages of 4 KB, their type at byte 25.
constexpr size_t kPage = 4096;
constexpr char kInnerPage = 3;
constexpr char kLeafPage = 5;

// Blanks every inner page of the B-tree file at path, as a crawler's file on
// disk lacks them (they stay in its cache): only its leaf pages lead to
// records. The number of pages blanked.
int blank_inner_pages(const std::string &path) {
    std::string bytes = read_file(path);
    int blanked = 0;
    for (size_t at = kPage; at + kPage <= bytes.size(); at += kPage) {
        if (bytes[at + 25] != kInnerPage) continue;
        bytes.replace(at, kPage, kPage, '\0');
        ++blanked;
    }
    return write_file(path, bytes) ? blanked : -1;
}

class LiveReadingTest : public CrawldbTest {
  protected:
    void SetUp() override {
        CrawldbTest::SetUp();
        // A copy of the first crawl for diff; the second left unfinished, so
        // that the pool holds URLs too.
        ProcessResult crawl = run_process(CRAWLSIM_BINARY, {"-n", "100", "-t", "1"}, dir_.path());
        ASSERT_EQ(crawl.status, 0) << crawl.err;
        std::filesystem::create_directory(dir_.file("copy"));
        for (const char *file : {"url-visited.db", "vid.db"}) {
            std::filesystem::copy_file(dir_.file("robot/") + file, dir_.file("copy/") + file);
        }
        crawl = run_process(CRAWLSIM_BINARY, {"-n", "300", "-t", "1", "-c", "2", "-k"},
                            dir_.path());
        ASSERT_EQ(crawl.status, 0) << crawl.err;
    }
    ProcessResult read(const Reader &reader) {
        return run_process(reader.program, reader.args, dir_.path());
    }
};

TEST_F(LiveReadingTest, EveryReaderAnswersFromThePagesAsThroughBerkeleyDb) {
    std::vector<ProcessResult> at_rest;
    for (const Reader &reader : every_reader()) at_rest.push_back(read(reader));
    // This process now holds the crawler's mark on the file: the readers take
    // the database for one being written, whose tree on disk leads nowhere.
    ASSERT_EQ(vurl_writer_lock_take(dir_.file("robot/url-visited.db").c_str()), 1);
    for (const char *file : {"url-visited.db", "vid.db", "enumerate.db"}) {
        EXPECT_GT(blank_inner_pages(dir_.file("robot/") + file), 0) << file;
    }
    const auto blanked = listing(dir_.path() + "/robot");
    const std::vector<Reader> readers = every_reader();
    for (size_t i = 0; i < readers.size(); ++i) {
        const ProcessResult live = read(readers[i]);
        const std::string line = std::string(readers[i].program) + " " +
                                 (readers[i].args.empty() ? "" : readers[i].args[0]);
        EXPECT_EQ(live.status, at_rest[i].status) << line << live.err;
        EXPECT_EQ(live.out, at_rest[i].out) << line;
        EXPECT_EQ(live.err.find("writing") != std::string::npos, readers[i].notes_writer)
            << line << live.err;
        EXPECT_EQ(at_rest[i].err.find("writing"), std::string::npos) << line << at_rest[i].err;
    }
    vurl_writer_lock_release();
    EXPECT_EQ(listing(dir_.path() + "/robot"), blanked);
    for (const ProcessResult &answer : at_rest) EXPECT_FALSE(answer.out.empty());
}

// A leaf page caught half written (here one that claims no level) holds
// nothing a reader can trust: the whole walks pass it over and say so.
TEST_F(LiveReadingTest, AWholeWalkNamesTheLeafPagesItPassedOver) {
    ASSERT_EQ(vurl_writer_lock_take(dir_.file("robot/url-visited.db").c_str()), 1);
    const std::string path = dir_.file("robot/url-visited.db");
    const std::string bytes = read_file(path);
    std::string torn(kPage, '\0');
    const uint32_t pgno = static_cast<uint32_t>(bytes.size() / kPage);
    std::memcpy(&torn[8], &pgno, sizeof pgno);
    torn[25] = kLeafPage;
    ASSERT_TRUE(write_file(path, bytes + torn));
    for (const Reader &reader : {Reader{CRAWLPEEK_BINARY, {}}, Reader{CRAWLDB_BINARY, {"export"}}}) {
        const ProcessResult p = read(reader);
        EXPECT_EQ(p.status, 0) << reader.program << p.err;
        EXPECT_NE(p.err.find(path + ": 1 pages and 0 records caught being written were passed over\n"),
                  std::string::npos) << reader.program << p.err;
    }
    vurl_writer_lock_release();
}

// A whole dump killed anywhere in its reading, at rest and while the mark is
// held: the next one reads everything, and the directory is as it was.
TEST_F(LiveReadingTest, AReaderKilledAnywhereLeavesNothingBehind) {
    const auto before = listing(dir_.path() + "/robot");
    const std::string whole = read({CRAWLPEEK_BINARY, {}}).out;
    std::mt19937 random(3);
    for (int live = 0; live < 2; ++live) {
        if (live == 1) {
            ASSERT_EQ(vurl_writer_lock_take(dir_.file("robot/url-visited.db").c_str()), 1);
        }
        for (int round = 0; round < 8; ++round) {
            const int signal = round % 2 == 0 ? SIGKILL : SIGINT;
            const Reader reader =
                round % 4 < 2 ? Reader{CRAWLPEEK_BINARY, {}} : Reader{CRAWLDB_BINARY, {"export"}};
            RunningProcess process = start_process(reader.program, reader.args, dir_.path());
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 60));
            kill(process.pid, signal);
            finish_process(&process);
        }
        const ProcessResult next = read({CRAWLPEEK_BINARY, {}});
        EXPECT_EQ(next.status, 0) << next.err;
        EXPECT_EQ(next.out, whole);
    }
    vurl_writer_lock_release();
    EXPECT_EQ(listing(dir_.path() + "/robot"), before);
}

}  // namespace
