#include "log/objlog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdarg>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "log/log_lines.h"
#include "support/scratch_dir.h"
#include "support/test_hooks.h"

namespace {

// Writes one message to log under its lock, as every caller does.
void write_message(objlog *log, int32_t severity, const char *src, int32_t line, const char *format,
                   ...) __attribute__((format(printf, 5, 6)));
void write_message(objlog *log, int32_t severity, const char *src, int32_t line, const char *format,
                   ...) {
    std::lock_guard<std::mutex> hold(log->lock);
    objlog_set_params(log, severity, src, line);
    va_list ap;
    va_start(ap, format);
    objlog_do_print(log, format, ap);
    va_end(ap);
}

class ObjlogTest : public testing::Test {
  protected:
    void TearDown() override {
        for (objlog *log : logs_) destroy_objlog(log);
        if (rlog != nullptr) destroy_objlog(rlog);
        if (f_log != nullptr) destroy_objlog(f_log);
        rlog = nullptr;
        f_log = nullptr;
        reset_test_hooks();
    }

    objlog *open_log(const std::string &path, int32_t level, int32_t rotate_size,
                     int32_t threshold) {
        objlog *log = create_objlog(path.c_str(), level, rotate_size);
        logs_.push_back(log);
        objlog_init(log, threshold);
        return log;
    }

    std::string path() const { return dir_.file("robot.log"); }
    std::string generation(int n) const { return path() + "." + std::to_string(n); }

    // The lines of a file with their time stamps taken off.
    static std::vector<std::string> messages(const std::string &file) {
        std::vector<std::string> out;
        for (const std::string &line : split_lines(read_file(file)))
            out.push_back(after_stamp(line));
        return out;
    }

    ScratchDir dir_;
    std::vector<objlog *> logs_;
};

TEST_F(ObjlogTest, CreateCopiesTheNameAndRefusesNull) {
    EXPECT_EQ(create_objlog(nullptr, 1, 1), nullptr);
    std::string name = "stdout";
    objlog *log = create_objlog(name.c_str(), 3, 100);
    logs_.push_back(log);
    name[0] = 'X';
    EXPECT_EQ(log->name, "stdout");
    EXPECT_EQ(log->level, 3);
    EXPECT_EQ(log->rotate_size, 100);
    EXPECT_EQ(log->module, 1);
    EXPECT_EQ(destroy_objlog(nullptr), 0);
}

TEST_F(ObjlogTest, HeaderLayoutForEachSeverityFromTheMainThread) {
    objlog *log = open_log(path(), 5, 1000000, 1000000);
    write_message(log, 3, "robot_db", 120, "Failed to sync database %s error=%d\n",
                  "url-visited.db", 22);
    write_message(log, 1, "/a/b/robot_db", 35, "Invalid database page size %dkb\n", 3);
    write_message(log, 2, "objlog", 58, "careful\n");
    write_message(log, 0, "x", 1, "plain\n");
    write_message(log, 7, "x", 1, "seven\n");
    const std::string pid = pid_field();
    EXPECT_EQ(messages(path()),
              (std::vector<std::string>{
                  pid + "@001: ERROR: Failed to sync database url-visited.db error=22\n",
                  pid + "@01: (robot_db:35):\t Invalid database page size 3kb\n",
                  pid + "@001: WARNING: careful\n",
                  pid + "@001:\t plain\n",
                  pid + "@001:\t seven\n",
              }));
}

TEST_F(ObjlogTest, OtherThreadsGetTheirOwnNumbers) {
    objlog *log = open_log(path(), 5, 0, 0);
    std::thread([log] { write_message(log, 3, "x", 1, "a\n"); }).join();
    std::thread([log] { write_message(log, 3, "x", 1, "b\n"); }).join();
    write_message(log, 3, "x", 1, "main\n");
    const std::vector<std::string> lines = messages(path());
    ASSERT_EQ(lines.size(), 3u);
    const std::string pid = pid_field();
    EXPECT_EQ(lines[2], pid + "@001: ERROR: main\n");
    EXPECT_NE(lines[0], lines[1]);
    for (int i = 0; i < 2; ++i) {
        unsigned number = 0;
        ASSERT_EQ(std::sscanf(lines[i].c_str() + pid.size(), "@%3x:", &number), 1) << lines[i];
        EXPECT_GE(number, 2u);
    }
}

TEST_F(ObjlogTest, EmptyAndNullFormatsArePlaceholders) {
    objlog *log = open_log(path(), 5, 0, 0);
    const char *empty = "";
    const char *none = nullptr;
    write_message(log, 3, "x", 1, "%s", "");  // an empty text from a real format
    {
        std::lock_guard<std::mutex> hold(log->lock);
        objlog_set_params(log, 3, "x", 1);
        rlog = log;
        rlog_do_print(empty, 0);
        rlog_do_print(none, 0);
        rlog = nullptr;
    }
    const std::string text = read_file(path());
    const std::string pid = pid_field();
    EXPECT_EQ(after_stamp(text).substr(0, pid.size() + 13), pid + "@001: ERROR: ");
    EXPECT_NE(text.find(pid + "@001: ERROR: (empty)"), std::string::npos) << text;
    EXPECT_NE(text.find(pid + "@001: ERROR: (null)"), std::string::npos) << text;
}

TEST_F(ObjlogTest, FileAtRotationSizeIsAppendedAndOneByteMoreRotates) {
    ASSERT_TRUE(write_file(path(), std::string(1000000, 'o')));
    objlog *log = open_log(path(), 5, 1000000, 1000000);
    EXPECT_EQ(objlog_get_file_size(log), 1000000);
    write_message(log, 3, "x", 1, "appended\n");
    EXPECT_FALSE(file_exists(generation(0)));
    destroy_objlog(log);
    logs_.clear();

    ASSERT_TRUE(write_file(path(), std::string(1000001, 'o')));
    log = open_log(path(), 5, 1000000, 2000000);
    write_message(log, 3, "x", 1, "rotated\n");
    EXPECT_EQ(read_file(generation(0)).size(), 1000001u);
    EXPECT_EQ(messages(path()),
              (std::vector<std::string>{" Log Rotated\n", pid_field() + "@001: ERROR: rotated\n"}));
}

TEST_F(ObjlogTest, FullRingDropsTheOldestAndShiftsTheRest) {
    for (int n = 0; n <= 9; ++n) ASSERT_TRUE(write_file(generation(n), std::to_string(n)));
    ASSERT_TRUE(write_file(path(), "live"));
    objlog *log = open_log(path(), 5, 0, 1000);
    EXPECT_EQ(objlog_rotate_now(log, 1), 0);
    EXPECT_EQ(read_file(generation(0)), "live");
    for (int n = 1; n <= 9; ++n) EXPECT_EQ(read_file(generation(n)), std::to_string(n - 1));
    size_t files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir_.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 11u);
    EXPECT_EQ(read_file(path()), "");
}

TEST_F(ObjlogTest, GapInTheRingEndsTheShift) {
    for (int n : {0, 1, 3}) ASSERT_TRUE(write_file(generation(n), std::to_string(n)));
    ASSERT_TRUE(write_file(path(), "live"));
    objlog *log = open_log(path(), 5, 0, 1000);
    EXPECT_EQ(objlog_rotate_now(log, 1), 0);
    EXPECT_EQ(read_file(generation(0)), "live");
    EXPECT_EQ(read_file(generation(1)), "0");
    EXPECT_EQ(read_file(generation(2)), "1");
    EXPECT_EQ(read_file(generation(3)), "3");
}

TEST_F(ObjlogTest, OpenThresholdDecidesRotationOfAnExistingFile) {
    ASSERT_TRUE(write_file(path(), "x"));
    open_log(path(), 5, 0, 1);
    EXPECT_FALSE(file_exists(generation(0)));  // 1 byte is not above 1
    open_log(path(), 5, 0, 0);
    EXPECT_EQ(read_file(generation(0)), "x");
    open_log(path(), 5, 0, -1);  // even the empty file rotates
    EXPECT_EQ(read_file(generation(0)), "");
    EXPECT_EQ(read_file(generation(1)), "x");
}

TEST_F(ObjlogTest, RotationThatCannotRenameKeepsWritingTheSameFile) {
    // A base name of 254 characters is a valid file, but "<name>.0" is too long.
    const std::string live = dir_.file(std::string(254, 'r'));
    objlog *log = open_log(live, 5, 0, 1000);
    write_message(log, 3, "x", 1, "before\n");
    EXPECT_EQ(objlog_rotate_now(log, 1), -1);
    write_message(log, 3, "x", 1, "after\n");
    EXPECT_EQ(messages(live), (std::vector<std::string>{pid_field() + "@001: ERROR: before\n",
                                                        pid_field() + "@001: ERROR: after\n"}));
}

TEST_F(ObjlogTest, StandardStreamLogsNeverOpenAFile) {
    objlog *out = open_log("stdout", 5, 1, 1);
    EXPECT_EQ(out->to_stdout, 1);
    EXPECT_EQ(objlog_get_file_size(out), -1);
    EXPECT_EQ(objlog_rotate_now(out, 1), 1);
    testing::internal::CaptureStdout();
    write_message(out, 2, "x", 1, "to stdout\n");
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(after_stamp(printed), pid_field() + "@001: WARNING: to stdout\n");

    objlog *err = open_log("stderr", 5, 1, 1);
    testing::internal::CaptureStderr();
    write_message(err, 3, "x", 1, "to stderr\n");
    EXPECT_EQ(after_stamp(testing::internal::GetCapturedStderr()),
              pid_field() + "@001: ERROR: to stderr\n");
}

TEST_F(ObjlogTest, EveryHundredthRawMessageFollowsATimeLine) {
    objlog *log = open_log(path(), 5, 0, 0);
    // The raw count is process-wide: first reach a time line, then count.
    int before = 0;
    while (read_file(path()).find("Time: ") == std::string::npos && before <= 100) {
        write_message(log, 4, "x", 1, "raw\n");
        ++before;
    }
    ASSERT_LE(before, 100);
    ASSERT_TRUE(write_file(path(), ""));
    for (int i = 1; i <= 100; ++i) write_message(log, 4, "x", 1, "raw %d\n", i);
    const std::vector<std::string> lines = split_lines(read_file(path()));
    ASSERT_EQ(lines.size(), 101u);
    for (int i = 0; i < 99; ++i) EXPECT_EQ(lines[i], "raw " + std::to_string(i + 1) + "\n");
    EXPECT_EQ(lines[99].substr(0, 6), "Time: ");
    EXPECT_TRUE(has_stamp(lines[99].substr(6)));
    EXPECT_EQ(lines[99].size(), 6u + 22u + 1u);
    EXPECT_EQ(lines[100], "raw 100\n");
}

TEST_F(ObjlogTest, TerminatedLogDropsMessages) {
    objlog *log = open_log(path(), 5, 0, 0);
    write_message(log, 3, "x", 1, "kept\n");
    objlog_terminate(log);
    write_message(log, 3, "x", 1, "dropped\n");
    EXPECT_EQ(messages(path()), (std::vector<std::string>{pid_field() + "@001: ERROR: kept\n"}));
    EXPECT_EQ(objlog_get_file_size(log), -1);
}

TEST_F(ObjlogTest, UnopenableFileIsReportedAndMessagesDropped) {
    const std::string missing = dir_.file("no/such/dir.log");
    testing::internal::CaptureStderr();
    objlog *log = open_log(missing, 5, 0, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot append to " + missing + ".\n");
    write_message(log, 3, "x", 1, "dropped\n");
    EXPECT_EQ(objlog_get_file_size(log), -1);
}

TEST_F(ObjlogTest, OverlongMessageIsCutAndEndsItsLine) {
    objlog *log = open_log(path(), 5, 0, 0);
    const std::string huge(20000, 'y');
    write_message(log, 3, "x", 1, "%s\n", huge.c_str());
    write_message(log, 3, "x", 1, "after\n");
    const std::vector<std::string> lines = split_lines(read_file(path()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 8191u);
    EXPECT_EQ(after_stamp(lines[1]), pid_field() + "@001: ERROR: after\n");
}

TEST_F(ObjlogTest, RobotLogWriteHelperHonoursLevelAndMissingLog) {
    rlog_write(0, 3, "x", 1, "no robot log yet\n");  // must not crash
    robot_log_init(path().c_str(), 0, 1000000);
    rlog_write(1, 2, "x", 1, "hidden\n");
    rlog_write(0, 3, "crawlpeek", 1, "Failed to open visited url database\n");
    robot_log_set_level(-1);
    rlog_write(0, 3, "x", 1, "silenced\n");
    EXPECT_EQ(messages(path()),
              (std::vector<std::string>{pid_field() +
                                        "@001: ERROR: Failed to open visited url database\n"}));
}

TEST_F(ObjlogTest, FilterLogRotatesOnlyAboveItsThreshold) {
    filter_log_rotate(0);  // no filter log: nothing happens
    filter_log_init(path().c_str(), 5, 0);
    ASSERT_NE(f_log, nullptr);
    write_message(f_log, 3, "x", 1, "one\n");
    const long size = objlog_get_file_size(f_log);
    filter_log_rotate(static_cast<int32_t>(size));
    EXPECT_FALSE(file_exists(generation(0)));
    filter_log_rotate(static_cast<int32_t>(size - 1));
    EXPECT_EQ(read_file(generation(0)).size(), static_cast<size_t>(size));
    filter_log_rotate(0);
    EXPECT_TRUE(file_exists(generation(1)));
}

// As root every log file is given to "nobody"; a change of owner that fails
// is reported through the robot log.
class ObjlogChownTest : public ObjlogTest {
  protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "changes of owner are made only as root";
    }
};

TEST_F(ObjlogChownTest, OpenedFileBelongsToNobody) {
    objlog *log = open_log(path(), 5, 0, 0);
    write_message(log, 3, "x", 1, "owned\n");
    struct stat st;
    ASSERT_EQ(stat(path().c_str(), &st), 0);
    EXPECT_NE(st.st_uid, 0u);
}

// A rotation whose new file cannot be made leaves a path that cannot be
// given away: the failure goes to the robot log.
TEST_F(ObjlogChownTest, FailedChangeOfOwnerIsReportedThroughTheRobotLog) {
    robot_log_init(path().c_str(), 1, 0);
    const std::string sub = dir_.file("filter");
    std::filesystem::create_directory(sub);
    const std::string filter = sub + "/f.log";
    filter_log_init(filter.c_str(), 5, 0);
    std::filesystem::remove_all(sub);
    EXPECT_EQ(objlog_rotate_now(f_log, 1), -1);
    EXPECT_EQ(test_hooks().error_string_calls, 1);
    EXPECT_EQ(messages(path()), (std::vector<std::string>{pid_field() + "@001: WARNING: chown: " +
                                                          filter + ": test error\n"}));
}

TEST_F(ObjlogChownTest, WithoutRobotLogTheFailureGoesToStandardError) {
    const std::string sub = dir_.file("filter");
    std::filesystem::create_directory(sub);
    const std::string filter = sub + "/f.log";
    filter_log_init(filter.c_str(), 5, 0);
    std::filesystem::remove_all(sub);
    testing::internal::CaptureStderr();
    objlog_rotate_now(f_log, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "chown: " + filter + ": test error\n");
}

// The robot log rotating itself while a writer holds its lock must report
// without taking the lock again.
TEST_F(ObjlogChownTest, RobotLogRotationDoesNotDeadlockOnItsOwnReport) {
    const std::string sub = dir_.file("robot");
    std::filesystem::create_directory(sub);
    const std::string live = sub + "/r.log";
    EXPECT_EXIT(
        {
            alarm(10);
            robot_log_init(live.c_str(), 5, 1);
            rlog_write(0, 3, "x", 1, "fill the file\n");
            std::filesystem::remove_all(sub);
            rlog_write(0, 3, "x", 1, "rotates and reports\n");
            std::exit(test_hooks().error_string_calls == 1 ? 0 : 2);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
