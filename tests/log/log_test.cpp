// The module log: its level test, its thread field, and its rotation, which
// copies the live file into the ring and empties it in place. The line layout
// and the ring it shares with the object log are checked there.
#include "log/log.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "log/log_lines.h"
#include "log/objlog.h"
#include "support/scratch_dir.h"

namespace {

class ModuleLogTest : public testing::Test {
  protected:
    void SetUp() override { objlog_show_pid(1234); }
    void TearDown() override {
        vellog_terminate();
        vellog_set_rotate_size(5242880);
        vellog_set_level(0);
        objlog_show_pid(0);
    }
    std::string path() const { return dir_.file("module.log"); }
    std::string generation(int n) const { return path() + "." + std::to_string(n); }
    ScratchDir dir_;
};

TEST_F(ModuleLogTest, AMessageIsWrittenOnlyToAnOpenLogWhoseLevelReachesItsThreshold) {
    vellog_set_level(5);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    vellog_write(0, 3, "vurl", 1, "before the log is opened\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    vellog_init(0, path().c_str());
    vellog_write(1, 2, "adt", 1, "hidden\n");
    vellog_write(0, 3, "vurl", 2, "Unexpected error when reading visited url metadata (error=%d)\n",
                 2);
    vellog_set_level(-1);
    vellog_write(0, 3, "vurl", 3, "silenced\n");
    _vellog_set_params(4, "adt", 4);  // no raw form: printed as plain
    _vellog_do_print("raw %d\n", 4);
    vellog_terminate();
    EXPECT_EQ(marked(read_file(path())),
              "[T]  1234@0: ERROR: Unexpected error when reading visited url metadata (error=2)\n"
              "[T]  1234@0:\t raw 4\n");
}

// A standard stream named, or none, gets the message and the other stream
// nothing; a file that cannot be opened is said so, and drops the message.
TEST_F(ModuleLogTest, EachDestinationGetsTheMessageAndNoOtherStream) {
    const std::string missing = dir_.file("no/such.log");
    const std::string line = "[T]  1234@0: ERROR: where\n";
    const struct {
        const char *name;
        std::string out, err;
    } cases[] = {
        {nullptr, "", line},
        {"stderr", "", line},
        {"stdout", line, ""},
        {missing.c_str(), "", "Cannot append to " + missing + ".\n"},
    };
    for (const auto &c : cases) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        vellog_init(0, c.name);
        vellog_write(0, 3, "vurl", 1, "where\n");
        vellog_terminate();
        vellog_write(0, 3, "vurl", 1, "after the end: nowhere\n");
        EXPECT_EQ(marked(testing::internal::GetCapturedStdout()), c.out) << c.err;
        EXPECT_EQ(marked(testing::internal::GetCapturedStderr()), c.err) << c.out;
    }
}

// The descriptors this process holds.
size_t open_descriptors() {
    return static_cast<size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

// The test is size at least the rotation size, made before each write; the
// live file stays the same open file, so no "Log Rotated" line starts it, and
// the copy leaves no descriptor behind.
TEST_F(ModuleLogTest, ALiveFileAtTheRotationSizeMovesToGenerationZeroBeforeTheNextMessage) {
    const struct {
        size_t before;
        int32_t rotate_size;
        bool forced, rotates;
    } rows[] = {{100, 100, false, true}, {99, 100, false, false}, {1, 5242880, true, true}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.before);
        const std::string old(r.before, 'o');
        ASSERT_TRUE(write_file(path(), old));
        std::remove(generation(0).c_str());
        vellog_set_rotate_size(r.rotate_size);
        const size_t descriptors = open_descriptors();
        vellog_init(1, path().c_str());
        if (r.forced) vellog_rotate_now(1);
        vellog_write(1, 2, "log", 1, "first\n");
        vellog_terminate();
        EXPECT_EQ(open_descriptors(), descriptors);
        EXPECT_EQ(marked(read_file(path())),
                  (r.rotates ? "" : old) + "[T]  1234@0: WARNING: first\n");
        EXPECT_EQ(read_file(generation(0)), r.rotates ? old : "");
        EXPECT_FALSE(file_exists(generation(1)));
    }
}

// A forced rotation moves what was written, the stream's buffer too, into
// generation 0. One that cannot make generation 0 (its name too long), or
// whose generation 0 cannot take it all (cut by a file-size limit), keeps
// the live file whole.
TEST_F(ModuleLogTest, AForcedRotationMovesEveryMessageOrLeavesTheLiveFileWhole) {
    vellog_init(1, path().c_str());
    vellog_write(1, 3, "x", 1, "moved\n");
    vellog_rotate_now(1);
    EXPECT_EQ(marked(read_file(generation(0))), "[T]  1234@0: ERROR: moved\n");
    EXPECT_EQ(read_file(path()), "");

    const std::string live = dir_.file(std::string(254, 'm'));
    vellog_init(1, live.c_str());
    vellog_write(1, 3, "x", 1, "before\n");
    vellog_rotate_now(1);
    vellog_write(1, 3, "x", 1, "after\n");
    vellog_terminate();
    EXPECT_EQ(marked(read_file(live)), "[T]  1234@0: ERROR: before\n[T]  1234@0: ERROR: after\n");

    ASSERT_TRUE(write_file(path(), std::string(3000, 'o')));
    EXPECT_EXIT(
        {
            vellog_init(1, path().c_str());
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit;
            limit.rlim_cur = 1024;
            limit.rlim_max = RLIM_INFINITY;
            setrlimit(RLIMIT_FSIZE, &limit);
            vellog_rotate_now(1);  // the copy's close fails
            std::exit(read_file(path()) == std::string(3000, 'o') ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(ModuleLogTest, RotationSizeZeroKeepsTenGenerationsOfOneMessageEach) {
    vellog_set_rotate_size(0);
    vellog_init(1, path().c_str());
    for (int i = 1; i <= 11; ++i) vellog_write(1, 2, "log", 1, "message %d\n", i);
    vellog_terminate();
    for (int n = -1; n <= 9; ++n) {
        EXPECT_EQ(marked(read_file(n < 0 ? path() : generation(n))),
                  "[T]  1234@0: WARNING: message " + std::to_string(10 - n) + "\n")
            << n;
    }
    EXPECT_FALSE(file_exists(generation(10)));
}

TEST(PathNameTest, SplitsAtLastSlashOrElseLastBackslash) {
    struct Case {
        const char *path, *dir, *base;
    } cases[] = {
        {"logs/x.log", "logs", "x.log"}, {"x.log", "", "x.log"},  {"a\\b", "a", "b"},
        {"a/b\\c", "a", "b\\c"},         {"/x.log", "", "x.log"}, {"a/b/", "a/b", ""},
    };
    for (const Case &c : cases) {
        char dir[64] = "junk", base[64] = "junk";
        EXPECT_EQ(get_path_name(c.path, dir, base), base);
        EXPECT_STREQ(dir, c.dir) << c.path;
        EXPECT_STREQ(base, c.base) << c.path;
    }
    char dir[8] = "keep", base[8] = "keep";
    EXPECT_EQ(get_path_name(nullptr, dir, base), nullptr);
    EXPECT_STREQ(dir, "keep");
}

TEST(LineStrTest, FlattensWhiteSpaceToBlanks) {
    struct Case {
        const char *in, *out;
    } cases[] = {{"a\tb\nc", "a b c"},
                 {"\v\f\r x", "    x"},
                 {"", ""},
                 {"caf\xc3\xa9", "caf\xc3\xa9"},
                 {nullptr, ""}};
    for (const Case &c : cases) {
        char *line = vellog_linestr(c.in);
        EXPECT_STREQ(line, c.out);
        std::free(line);
    }
}

}  // namespace
