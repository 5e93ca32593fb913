// The object log, through the robot log and the filter log. The line layout,
// the cut of an overlong line and the ring of generations are shared with the
// module log and checked here only.
#include "log/objlog.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "log/log_lines.h"
#include "support/scratch_dir.h"
#include "support/test_hooks.h"

namespace {

class ObjlogTest : public testing::Test {
  protected:
    void SetUp() override { objlog_show_pid(1234); }
    void TearDown() override {
        for (objlog *log : {rlog, f_log}) destroy_objlog(log);
        rlog = f_log = nullptr;
        objlog_show_pid(0);
        reset_test_hooks();
    }

    // Opens the robot log anew; rotate_size is also the threshold for opening.
    static void open_robot_log(const std::string &name, int32_t level, int32_t rotate_size) {
        destroy_objlog(rlog);
        robot_log_init(name.c_str(), level, rotate_size);
    }
    std::string path() const { return dir_.file("robot.log"); }
    std::string generation(int n) const { return path() + "." + std::to_string(n); }
    std::string text() const { return marked(read_file(path())); }

    ScratchDir dir_;
};

// A line is formatted in 8192 bytes: one that does not fit is cut, and still
// ends with its newline so that the next message starts a line of its own.
TEST_F(ObjlogTest, EveryLineHasItsSeveritysHeaderAndEndsEvenWhenCut) {
    const std::string fits(8191 - 22 - 19 - 1, 'x');  // with stamp, header and newline: 8191
    const struct {
        int32_t severity;
        const char *src;
        int32_t line;
        const char *format;
        std::string arg, expected;
    } rows[] = {
        {3, "robot_db", 120, "Failed to sync database %s error=22\n", "url-visited.db",
         "  1234@001: ERROR: Failed to sync database url-visited.db error=22\n"},
        {1, "/a/b/robot_db", 35, "Invalid database page size %skb\n", "3",
         "  1234@01: (robot_db:35):\t Invalid database page size 3kb\n"},
        {2, "adt", 218, "Unknown %s items on linked list?\n", "4",
         "  1234@001: WARNING: Unknown 4 items on linked list?\n"},
        {7, "x", 1, "plain %s\n", "7", "  1234@001:\t plain 7\n"},
        {3, "x", 1, "", "", "  1234@001: ERROR: (empty)"},
        {2, "x", 1, nullptr, "", "  1234@001: WARNING: (null)"},
        {1, "", 7, "", "", "  1234@01: ((empty):7):\t (empty)"},
        {1, nullptr, 8, "%s\n", "a", "  1234@01: ((null):8):\t a\n"},
        {3, "x", 1, "%s\n", fits, "  1234@001: ERROR: " + fits + "\n"},
        {3, "x", 1, "%s\n", fits + "y", "  1234@001: ERROR: " + fits + "\n"},
        {3, "x", 1, "%s\n", fits + std::string(10000, 'z'), "  1234@001: ERROR: " + fits + "\n"},
    };
    open_robot_log(path(), 5, 0);
    std::string expected;
    for (const auto &r : rows) {
        std::lock_guard<std::mutex> hold(rlog->lock);
        objlog_set_params(rlog, r.severity, r.src, r.line);
        rlog_do_print(r.format, r.arg.c_str());
        expected += "[T]" + r.expected;
    }
    EXPECT_EQ(text(), expected);
}

TEST_F(ObjlogTest, AMessageIsWrittenOnlyWhenTheLevelReachesItsThreshold) {
    rlog_write(0, 3, "x", 1, "no robot log yet\n");  // goes nowhere
    open_robot_log(path(), 0, 0);
    rlog_write(1, 2, "x", 1, "hidden\n");
    rlog_write(0, 3, "crawlpeek", 1, "shown\n");
    robot_log_set_level(-1);
    rlog_write(0, 3, "x", 1, "silenced\n");
    EXPECT_EQ(text(), "[T]  1234@001: ERROR: shown\n");
}

// A file is rotated when it is larger than the limit: at opening, the
// threshold given; before a write, the rotation size. The file a write
// begins starts with a "Log Rotated" line, then the message.
TEST_F(ObjlogTest, AFileLargerThanItsLimitIsRotated) {
    ASSERT_TRUE(write_file(path(), "x"));
    open_robot_log(path(), 5, 1);  // 1 byte is not above 1
    EXPECT_FALSE(file_exists(generation(0)));
    open_robot_log(path(), 5, 0);
    EXPECT_EQ(read_file(generation(0)), "x");
    open_robot_log(path(), 5, -1);  // even the empty file rotates
    EXPECT_EQ(read_file(generation(0)), "");
    EXPECT_EQ(read_file(generation(1)), "x");

    for (int n : {0, 1}) std::remove(generation(n).c_str());
    ASSERT_TRUE(write_file(path(), std::string(1000000, 'o')));
    open_robot_log(path(), 5, 1000000);
    rlog_write(0, 3, "x", 1, "appended\n");
    EXPECT_FALSE(file_exists(generation(0)));
    const long size = objlog_get_file_size(rlog);
    rlog_write(0, 3, "x", 1, "rotated\n");
    EXPECT_EQ(read_file(generation(0)).size(), static_cast<size_t>(size));
    EXPECT_EQ(text(), "[T] Log Rotated\n[T]  1234@001: ERROR: rotated\n");
}

// The ring: the first missing generation is filled by shifting those below
// it up; with all ten present the oldest goes. A gap ends the shift.
TEST_F(ObjlogTest, ARotationShiftsTheRingUpToItsFirstGap) {
    // Generation n holds the digit n; after the rotation, generations 0 to
    // 10 hold what the row says, the live file's "L" in 0 and "-" for none.
    const struct {
        const char *present, *after;
    } rows[] = {{"0123456789", "L012345678-"}, {"013", "L013-------"}};
    for (const auto &r : rows) {
        for (int n = 0; n <= 10; ++n) std::remove(generation(n).c_str());
        for (const char *c = r.present; *c; ++c)
            ASSERT_TRUE(write_file(generation(*c - '0'), {*c}));
        ASSERT_TRUE(write_file(path(), "L"));
        open_robot_log(path(), 5, 1000);
        EXPECT_EQ(objlog_rotate_now(rlog, 1), 0);
        std::string after;
        for (int n = 0; n <= 10; ++n)
            after += file_exists(generation(n)) ? read_file(generation(n)) : "-";
        EXPECT_EQ(after, r.after);
        EXPECT_EQ(read_file(path()), "");
    }
}

// The count of raw messages is one for the process; every hundredth raw
// message since the last time line follows a new one.
TEST_F(ObjlogTest, EveryHundredthRawMessageFollowsATimeLine) {
    open_robot_log(path(), 5, 0);
    for (int i = 0; i < 250; ++i) rlog_write(0, 4, "x", 1, "raw\n");
    const std::vector<std::string> lines = split_lines(text());
    std::vector<size_t> time_lines;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == "raw\n") continue;
        EXPECT_EQ(lines[i], "Time: [T]\n");
        time_lines.push_back(i);
    }
    ASSERT_GE(time_lines.size(), 2u);
    EXPECT_LE(time_lines[0], 99u);
    for (size_t k = 1; k < time_lines.size(); ++k)
        EXPECT_EQ(time_lines[k] - time_lines[k - 1], 101u);
}

TEST_F(ObjlogTest, StandardStreamLogsNeverOpenAFile) {
    for (const bool to_stdout : {true, false}) {
        open_robot_log(to_stdout ? "stdout" : "stderr", 5, 1);
        EXPECT_EQ(objlog_get_file_size(rlog), -1);
        EXPECT_EQ(objlog_rotate_now(rlog, 1), 1);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        rlog_write(0, 2, "x", 1, "to the stream\n");
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(marked(to_stdout ? out : err), "[T]  1234@001: WARNING: to the stream\n");
        EXPECT_EQ(to_stdout ? err : out, "");
    }
}

// A message to standard output is out of the process at once: one that
// leaves by _exit (a crash, say) loses none. Without a log, none is written.
TEST_F(ObjlogTest, AStandardOutputMessageLeavesAtOnceAndNoLogWritesNothing) {
    flog_do_print("no filter log: dropped\n");
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        open_robot_log("stdout", 5, 1);
        rlog_write(0, 2, "x", 1, "kept\n");
        _exit(0);
    }
    close(out[1]);
    std::string got;
    char piece[256];
    for (ssize_t n; (n = read(out[0], piece, sizeof piece)) > 0;) got.append(piece, n);
    close(out[0]);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(marked(got), "[T]  1234@001: WARNING: kept\n");
}

TEST_F(ObjlogTest, TheFilterLogRotatesOnlyAboveItsThreshold) {
    filter_log_rotate(0);  // no filter log: nothing happens
    ASSERT_TRUE(write_file(path(), "four"));
    filter_log_init(path().c_str(), 5, 1000);
    filter_log_rotate(4);
    EXPECT_FALSE(file_exists(generation(0)));
    filter_log_rotate(3);
    EXPECT_EQ(read_file(generation(0)), "four");
    filter_log_rotate(0);
    EXPECT_TRUE(file_exists(generation(1)));

    // Its level is its own: the robot log's does not change it.
    filter_log_set_level(1);
    robot_log_set_level(9);
    for (int32_t threshold : {1, 2}) {
        std::lock_guard<std::mutex> hold(f_log->lock);
        if (f_log->level < threshold) continue;
        objlog_set_params(f_log, 2, "x", threshold);
        flog_do_print("threshold %d\n", threshold);
    }
    EXPECT_EQ(text(), "[T]  1234@001: WARNING: threshold 1\n");
}

// As root every log file is given to "nobody". A change that fails is
// reported through the robot log, without taking its lock again when the
// robot log is the file being rotated under its writer's hold.
TEST_F(ObjlogTest, AsRootAFailedChangeOfOwnerIsReportedWithoutDeadlock) {
    if (geteuid() != 0) GTEST_SKIP() << "changes of owner are made only as root";
    const std::string sub = dir_.file("sub");
    EXPECT_EXIT(
        {
            alarm(10);
            std::filesystem::create_directory(sub);
            open_robot_log(sub + "/r.log", 5, 1);
            rlog_write(0, 3, "x", 1, "fill the file\n");
            std::filesystem::remove_all(sub);  // the new file cannot be made, nor given away
            rlog_write(0, 3, "x", 1, "rotates and reports\n");
            std::exit(test_hooks().error_string_calls == 1 ? 0 : 2);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
