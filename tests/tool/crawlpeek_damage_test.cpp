// crawlpeek on damaged databases, run as a process: it must end with status 0
// or 1, print only what good records hold, say what went wrong, and leave the
// files as they were.
#include <db.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr char kRecordFile[] = "robot/url-visited.db";
constexpr char kIdFile[] = "robot/vid.db";
constexpr size_t kPage = 4096;
constexpr uid_t kNobody = 65534;

// The entries of a dump by URL: each entry's lines, URL line first.
std::map<std::string, std::vector<std::string>> entries_of(const std::string &text) {
    std::map<std::string, std::vector<std::string>> entries;
    std::vector<std::string> *entry = nullptr;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("  ", 0) != 0 && !line.empty()) entry = &entries[line];
        if (entry != nullptr) entry->push_back(line);
    }
    return entries;
}

// A line of a printed entry that the good entry does not have is allowed
// only where the damage can have lost a record the entry points to: the
// number of links found, and a referer that was not found.
bool follows_from_lost_records(const std::string &line) {
    return line.rfind("  links:", 0) == 0 || line == "  referer:         starting-point";
}

// The banner and summary lines, whose numbers follow from what was read.
bool is_frame_line(const std::string &line) {
    for (const char *start : {"  ===", "  Last crawl ", "  Number of ", "  Total ", "  Average "}) {
        if (line.rfind(start, 0) == 0) return true;
    }
    return false;
}

// Stores one record in the Berkeley DB file at path, of the given kind,
// opened with flags.
bool put_value(const std::string &path, DBTYPE type, uint32_t flags, const std::string &key_bytes,
               const std::string &bytes) {
    DB *db = nullptr;
    if (db_create(&db, nullptr, 0) != 0) return false;
    bool ok = db->open(db, nullptr, path.c_str(), nullptr, type, flags, 0644) == 0;
    DBT key{}, value{};
    key.data = const_cast<char *>(key_bytes.data());
    key.size = static_cast<uint32_t>(key_bytes.size());
    value.data = const_cast<char *>(bytes.data());
    value.size = static_cast<uint32_t>(bytes.size());
    ok = ok && db->put(db, nullptr, &key, &value, 0) == 0;
    return db->close(db, 0) == 0 && ok;
}

// One crawl made once for the whole suite; each case damages a copy of it.
class CrawlpeekDamageTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        pristine_ = new ScratchDir;
        fs::create_directory(pristine_->file("logs"));
        ProcessResult sim =
            run_process(CRAWLSIM_BINARY, {"-n", "300", "-s", "5", "-t", "1"}, pristine_->path());
        ASSERT_EQ(sim.status, 0) << sim.err;
        good_dump_ = run_process(CRAWLPEEK_BINARY, {}, pristine_->path()).out;
        ASSERT_GT(good_dump_.size(), 10000u);
        good_entries_ = entries_of(good_dump_);
    }
    static void TearDownTestSuite() { delete pristine_; }

    void SetUp() override {
        fs::create_directory(dir_.file("logs"));
        fs::create_directory(dir_.file("robot"));
        for (const char *name : {kRecordFile, kIdFile}) {
            fs::copy_file(pristine_->file(name), dir_.file(name));
        }
    }

    std::string file(const std::string &name) const { return dir_.file(name); }

    // Runs crawlpeek (as nobody when as_nobody is set and the test runs as
    // root, for whom no permission is ever missing) and checks what every
    // damaged database must give.
    void expect_safe_run(const std::string &what, bool as_nobody = false) {
        SCOPED_TRACE(what);
        const std::string records_before = read_file(file(kRecordFile));
        const std::string ids_before = read_file(file(kIdFile));
        std::vector<std::string> args = {"30", CRAWLPEEK_BINARY};
        std::string program = "/usr/bin/timeout";
        if (as_nobody && geteuid() == 0) {
            // A copy in the scratch directory, which nobody may enter,
            // wherever the build lies.
            const std::string binary = file("crawlpeek");
            fs::copy_file(CRAWLPEEK_BINARY, binary, fs::copy_options::overwrite_existing);
            fs::permissions(binary, fs::perms::owner_all | fs::perms::group_exec |
                                        fs::perms::others_exec | fs::perms::others_read |
                                        fs::perms::group_read);
            args = {"--reuid=" + std::to_string(kNobody),
                    "--regid=" + std::to_string(kNobody),
                    "--clear-groups",
                    "/usr/bin/timeout",
                    "30",
                    binary};
            program = "/usr/bin/setpriv";
        }
        ProcessResult r = run_process(program, args, dir_.path());
        EXPECT_TRUE(r.status == 0 || r.status == 1) << "status " << r.status << "\n" << r.err;
        for (const auto &[url, lines] : entries_of(r.out)) {
            if (is_frame_line(url)) continue;
            auto good = good_entries_.find(url);
            ASSERT_TRUE(good != good_entries_.end())
                << "printed a URL no good record holds: " << url.substr(0, 200);
            const std::set<std::string> good_lines(good->second.begin(), good->second.end());
            for (const std::string &line : lines) {
                EXPECT_TRUE(good_lines.count(line) != 0 || is_frame_line(line) ||
                            follows_from_lost_records(line))
                    << url << " has a line its good record does not: " << line.substr(0, 200);
            }
        }
        if (r.out != good_dump_) {
            EXPECT_TRUE(!r.err.empty() || !read_file(file("logs/crawlpeek.log")).empty())
                << "a damaged database gave a different dump without a word";
        }
        EXPECT_TRUE(read_file(file(kRecordFile)) == records_before) << "url-visited.db changed";
        EXPECT_TRUE(read_file(file(kIdFile)) == ids_before) << "vid.db changed";
    }

    // Puts the pristine files back.
    void restore() {
        fs::remove_all(file("robot"));
        SetUp();
    }

    static ScratchDir *pristine_;
    static std::string good_dump_;
    static std::map<std::string, std::vector<std::string>> good_entries_;
    ScratchDir dir_;
};

ScratchDir *CrawlpeekDamageTest::pristine_ = nullptr;
std::string CrawlpeekDamageTest::good_dump_;
std::map<std::string, std::vector<std::string>> CrawlpeekDamageTest::good_entries_;

TEST_F(CrawlpeekDamageTest, ARecordFileCutShortAnywhereIsReportedNotTrusted) {
    const uintmax_t size = fs::file_size(file(kRecordFile));
    for (uintmax_t at : {uintmax_t{0}, uintmax_t{100}, uintmax_t{kPage}, size / 2 / kPage * kPage,
                         size / 2 + 17, size - kPage, size - 1}) {
        fs::resize_file(file(kRecordFile), at);
        expect_safe_run("cut at " + std::to_string(at));
        restore();
    }
}

TEST_F(CrawlpeekDamageTest, RandomBytesOverPagesOfTheRecordFileAreReportedNotTrusted) {
    const size_t pages = fs::file_size(file(kRecordFile)) / kPage;
    ASSERT_GT(pages, 4u);
    std::mt19937 random(20261207);
    for (int round = 0; round < 40; ++round) {
        std::string bytes = read_file(file(kRecordFile));
        const size_t page = 1 + random() % (pages - 2);
        const size_t start = page * kPage;
        const size_t length = kPage * (1 + round % 2);
        for (size_t i = start; i < start + length && i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(random());
        }
        ASSERT_TRUE(write_file(file(kRecordFile), bytes));
        expect_safe_run("round " + std::to_string(round) + ", page " + std::to_string(page));
        restore();
    }
}

TEST_F(CrawlpeekDamageTest, ARecordFileOfAnotherKindIsRefused) {
    fs::remove(file(kRecordFile));
    ASSERT_TRUE(put_value(file(kRecordFile), DB_HASH, DB_CREATE, std::string("http://a/", 10),
                          "not a record"));
    expect_safe_run("a hash file");
    ASSERT_TRUE(write_file(file(kRecordFile), "http://a/ 1\nhttp://b/ 2\n"));
    expect_safe_run("a text file");
}

TEST_F(CrawlpeekDamageTest, AMissingEmptyOrShortIdFileIsReported) {
    fs::remove(file(kIdFile));
    expect_safe_run("vid.db missing");
    ASSERT_TRUE(write_file(file(kIdFile), ""));
    expect_safe_run("vid.db empty");
    restore();
    ASSERT_TRUE(put_value(file(kIdFile), DB_BTREE, 0, std::string("VURL_META_DATA", 15), "short"));
    expect_safe_run("metadata of 5 bytes");
}

TEST_F(CrawlpeekDamageTest, AnUnreadableOrMisplacedRobotDirectoryIsReported) {
    fs::permissions(dir_.path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(file("logs"), fs::perms::all);
    fs::permissions(file("robot"), fs::perms::none);
    expect_safe_run("robot unreadable", true);
    fs::permissions(file("robot"), fs::perms::owner_all);

    fs::remove_all(file("robot"));
    ASSERT_TRUE(write_file(file("robot"), "not a directory"));
    ProcessResult r = run_process(CRAWLPEEK_BINARY, {}, dir_.path());
    EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
    fs::remove(file("robot"));
    SetUp();
}

TEST_F(CrawlpeekDamageTest, WithoutALogDirectoryTheDumpStillRuns) {
    fs::remove_all(file("logs"));
    ProcessResult r = run_process(CRAWLPEEK_BINARY, {}, dir_.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out == good_dump_);
    EXPECT_NE(r.err.find("logs/crawlpeek.log"), std::string::npos) << r.err;
}

}  // namespace

namespace {

// The first child of the process pid, or -1.
pid_t first_child(pid_t pid) {
    const std::string children =
        read_file("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    return children.empty() ? -1 : static_cast<pid_t>(std::stol(children));
}

TEST_F(CrawlpeekDamageTest, AReaderBroughtDownBySignalEndsWithStatusOneAndSaysSo) {
    // A pipe nobody reads holds the reading up once it is full, so the
    // reader is still there to be found.
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    RunningProcess peek = start_process(CRAWLPEEK_BINARY, {}, dir_.path(), pipe_fds[1]);
    close(pipe_fds[1]);
    pid_t reader = -1;
    for (int tries = 0; tries < 500 && reader < 0; ++tries) {
        reader = first_child(peek.pid);
        if (reader < 0) usleep(10000);
    }
    ASSERT_GT(reader, 0);
    // Whatever the reader is doing, a signal that ends it ends the dump.
    ASSERT_EQ(kill(reader, SIGKILL), 0);
    ProcessResult r = finish_process(&peek);
    close(pipe_fds[0]);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("crawlpeek: reading the database ended with signal 9 (Killed); the "
                         "output is cut short\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(
        read_file(file("logs/crawlpeek.log")).find("Reading the database ended with signal 9"),
        std::string::npos);
}

}  // namespace
