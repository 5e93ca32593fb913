#include "log/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "log/log_lines.h"
#include "support/scratch_dir.h"

namespace {

class ModuleLogTest : public testing::Test {
  protected:
    void SetUp() override { vellog_set_rotate_size(5242880); }
    void TearDown() override {
        vellog_terminate();
        vellog_set_rotate_size(5242880);
        vellog_set_level(0);
    }

    void open_log(int32_t level = 1) { vellog_init(level, path().c_str()); }

    // What the log file holds once the stream is flushed.
    std::string contents() {
        vellog_terminate();
        return read_file(path());
    }

    std::string path() const { return dir_.file("module.log"); }
    std::string generation(int n) const { return path() + "." + std::to_string(n); }

    ScratchDir dir_;
};

TEST_F(ModuleLogTest, WithoutDestinationNothingIsWrittenAnywhere) {
    vellog_terminate();
    vellog_set_level(5);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    _vellog_set_params(3, "vurl", 10);
    _vellog_do_print("dropped %d\n", 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(ModuleLogTest, LineLayoutForEachSeverity) {
    open_log();
    _vellog_set_params(3, "vurl", 10);
    _vellog_do_print("Unexpected error when reading visited url metadata (error=%d)\n", 2);
    _vellog_set_params(1, "/a/b/robot_db", 35);
    _vellog_do_print("Invalid database page size %dkb\n", 3);
    _vellog_set_params(2, "adt", 218);
    _vellog_do_print("Unknown %d items on linked list?\n", 4);
    for (int severity : {0, 4, 7}) {
        _vellog_set_params(severity, "extra", 1);
        _vellog_do_print("plain %d\n", severity);
    }

    const std::string pid = pid_field();
    const std::vector<std::string> expected = {
        pid + "@0: ERROR: Unexpected error when reading visited url metadata (error=2)\n",
        pid + "@0: (robot_db:35):\t Invalid database page size 3kb\n",
        pid + "@0: WARNING: Unknown 4 items on linked list?\n",
        pid + "@0:\t plain 0\n",
        pid + "@0:\t plain 4\n",
        pid + "@0:\t plain 7\n",
    };
    std::vector<std::string> seen;
    for (const std::string &line : split_lines(contents())) seen.push_back(after_stamp(line));
    EXPECT_EQ(seen, expected);
}

TEST_F(ModuleLogTest, NullAndEmptyFormatsAndSourceArePrintedAsPlaceholders) {
    open_log();
    const char *empty = "";  // through a variable, as callers with built formats do
    _vellog_set_params(1, "", 7);
    _vellog_do_print(empty);
    _vellog_set_params(1, nullptr, 8);
    _vellog_do_print(nullptr);
    // The caller supplies the newline, so neither message ends its line.
    const std::string text = contents();
    ASSERT_TRUE(has_stamp(text));
    const std::string first = pid_field() + "@0: ((empty):7):\t (empty)";
    ASSERT_EQ(text.substr(22, first.size()), first);
    const std::string rest = text.substr(22 + first.size());
    EXPECT_EQ(after_stamp(rest), pid_field() + "@0: ((null):8):\t (null)");
}

TEST_F(ModuleLogTest, WriteHelperHonoursTheThreshold) {
    open_log(0);
    vellog_write(1, 2, "adt", 1, "hidden\n");
    vellog_write(0, 3, "vurl", 2, "shown %s\n", "here");
    const std::vector<std::string> lines = split_lines(contents());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(after_stamp(lines[0]), pid_field() + "@0: ERROR: shown here\n");
}

TEST_F(ModuleLogTest, FileAtRotationSizeIsCopiedToGenerationZeroAndEmptied) {
    const std::string old(100, 'o');
    ASSERT_TRUE(write_file(path(), old));
    vellog_set_rotate_size(100);
    open_log();
    vellog_write(1, 2, "log", 1, "first\n");
    const std::vector<std::string> lines = split_lines(contents());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(after_stamp(lines[0]), pid_field() + "@0: WARNING: first\n");
    EXPECT_EQ(read_file(generation(0)), old);
    EXPECT_FALSE(file_exists(generation(1)));
}

TEST_F(ModuleLogTest, FileBelowRotationSizeIsAppendedTo) {
    ASSERT_TRUE(write_file(path(), std::string(99, 'o')));
    vellog_set_rotate_size(100);
    open_log();
    vellog_write(1, 2, "log", 1, "first\n");
    EXPECT_EQ(contents().substr(0, 99), std::string(99, 'o'));
    EXPECT_FALSE(file_exists(generation(0)));
}

TEST_F(ModuleLogTest, RotationSizeZeroKeepsTenGenerationsOfOneMessage) {
    vellog_set_rotate_size(0);
    open_log();
    for (int i = 1; i <= 11; ++i) vellog_write(1, 2, "log", 1, "message %d\n", i);
    auto message_in = [](const std::string &file) {
        std::vector<std::string> lines = split_lines(read_file(file));
        return lines.size() == 1 ? after_stamp(lines[0]) : "<" + std::to_string(lines.size()) + ">";
    };
    vellog_terminate();
    EXPECT_EQ(message_in(path()), pid_field() + "@0: WARNING: message 11\n");
    for (int n = 0; n <= 9; ++n) {
        EXPECT_EQ(message_in(generation(n)),
                  pid_field() + "@0: WARNING: message " + std::to_string(10 - n) + "\n");
    }
    EXPECT_FALSE(file_exists(generation(10)));
}

TEST_F(ModuleLogTest, ForcedRotationKeepsTheOpenStream) {
    open_log();
    vellog_write(1, 2, "log", 1, "before\n");
    vellog_rotate_now(1);
    vellog_write(1, 2, "log", 1, "after\n");
    const std::vector<std::string> live = split_lines(contents());
    ASSERT_EQ(live.size(), 1u);
    EXPECT_EQ(after_stamp(live[0]), pid_field() + "@0: WARNING: after\n");
    const std::vector<std::string> gen0 = split_lines(read_file(generation(0)));
    ASSERT_EQ(gen0.size(), 1u);
    EXPECT_EQ(after_stamp(gen0[0]), pid_field() + "@0: WARNING: before\n");
}

TEST_F(ModuleLogTest, OverlongMessageIsCutAndEndsItsLine) {
    open_log();
    const std::string huge(10000, 'x');
    vellog_write(1, 2, "log", 1, "%s\n", huge.c_str());
    vellog_write(1, 2, "log", 1, "next\n");
    const std::vector<std::string> lines = split_lines(contents());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 8191u);
    EXPECT_EQ(lines[0].back(), '\n');
    EXPECT_EQ(after_stamp(lines[1]), pid_field() + "@0: WARNING: next\n");
}

TEST_F(ModuleLogTest, ThreadsKeepTheirOwnPendingMessageAcrossRotations) {
    vellog_set_rotate_size(16384);
    open_log();
    constexpr int kThreads = 4;
    constexpr int kMessages = 400;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            const int severity = t % 2 == 0 ? 2 : 3;
            for (int i = 0; i < kMessages; ++i) {
                _vellog_set_params(severity, "adt", t);
                std::this_thread::yield();
                _vellog_do_print("thread %d message %d\n", t, i);
            }
        });
    }
    for (std::thread &w : writers) w.join();
    vellog_terminate();

    std::map<int, int> per_thread;
    int lines = 0;
    std::vector<std::string> files = {path()};
    for (int n = 0; n <= 9; ++n) files.push_back(generation(n));
    for (const std::string &file : files) {
        for (const std::string &line : split_lines(read_file(file))) {
            ++lines;
            int t = -1, i = -1;
            const std::string rest = after_stamp(line);
            const size_t at = rest.find("thread ");
            ASSERT_NE(at, std::string::npos) << line;
            ASSERT_EQ(std::sscanf(rest.c_str() + at, "thread %d message %d", &t, &i), 2);
            const std::string word = t % 2 == 0 ? "WARNING" : "ERROR";
            EXPECT_EQ(rest, pid_field() + "@0: " + word + ": thread " + std::to_string(t) +
                                " message " + std::to_string(i) + "\n");
            ++per_thread[t];
        }
    }
    EXPECT_EQ(lines, kThreads * kMessages);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(per_thread[t], kMessages);
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
    } cases[] = {
        {"a\tb\nc", "a b c"}, {"\v\f\r x", "    x"}, {"", ""}, {"caf\xc3\xa9", "caf\xc3\xa9"}};
    for (const Case &c : cases) {
        char *line = vellog_linestr(c.in);
        EXPECT_STREQ(line, c.out);
        std::free(line);
    }
    char *empty = vellog_linestr(nullptr);
    EXPECT_STREQ(empty, "");
    std::free(empty);
}

}  // namespace
