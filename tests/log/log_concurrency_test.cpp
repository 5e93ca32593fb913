// Threads writing to the logs while another thread changes a setting or ends
// the robot log. Built and run under ThreadSanitizer as well, which reports
// any access to a log that nothing orders.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "log/log.h"
#include "log/log_lines.h"
#include "log/objlog.h"
#include "support/scratch_dir.h"

namespace {

constexpr int kWriters = 3;
constexpr int kMessages = 200;

class LogConcurrencyTest : public testing::Test {
  protected:
    void SetUp() override {
        robot_log_init(robot_path().c_str(), 5, 1 << 30);
        vellog_init(5, module_path().c_str());
    }
    void TearDown() override {
        vellog_terminate();
        vellog_set_level(0);
        destroy_objlog(rlog);
        rlog = nullptr;
    }

    std::string robot_path() const { return dir_.file("robot.log"); }
    std::string module_path() const { return dir_.file("module.log"); }

    ScratchDir dir_;
};

// The (thread, message) numbers of a file's lines, each of which must be a
// whole "thread T message I" message, seen once.
std::set<std::pair<int, int>> messages_in(const std::string &file) {
    std::set<std::pair<int, int>> seen;
    for (const std::string &line : split_lines(read_file(file))) {
        const size_t at = line.find(": ERROR: thread ");
        int t = -1, i = -1, end = 0;
        const bool whole = has_stamp(line) && at != std::string::npos &&
                           std::sscanf(line.c_str() + at, ": ERROR: thread %d message %d\n%n", &t,
                                       &i, &end) == 2 &&
                           at + static_cast<size_t>(end) == line.size();
        EXPECT_TRUE(whole) << file << ": " << line;
        EXPECT_TRUE(seen.insert({t, i}).second) << file << ": " << line;
    }
    return seen;
}

// Prints one message to log, whose lock the caller holds.
void write_to(objlog *log, const char *format, ...) __attribute__((format(printf, 2, 3)));
void write_to(objlog *log, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    objlog_do_print(log, format, ap);
    va_end(ap);
}

// Each setting flips between values under which every message is still
// written and no file rotates, so both files must end up with every message.
struct Setting {
    const char *name;
    void (*change)(int round);
};
const Setting kSettings[] = {
    {"objlog_set_level", [](int round) { objlog_set_level(rlog, 1 + round % 4); }},
    {"objlog_set_rotate_size",
     [](int round) { objlog_set_rotate_size(rlog, round % 2 ? 0 : 1 << 30); }},
    {"vellog_set_level", [](int round) { vellog_set_level(1 + round % 4); }},
};

class SettingChangeTest : public LogConcurrencyTest, public testing::WithParamInterface<Setting> {};

TEST_P(SettingChangeTest, WritersKeepWritingEveryMessage) {
    std::atomic<bool> stop{false};
    std::thread changer([&] {
        for (int round = 0; !stop; ++round) {
            GetParam().change(round);
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kWriters; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kMessages; ++i) {
                rlog_write(1, 3, "x", t, "thread %d message %d\n", t, i);
                vellog_write(1, 3, "x", t, "thread %d message %d\n", t, i);
            }
        });
    }
    for (std::thread &w : writers) w.join();
    stop = true;
    changer.join();
    vellog_terminate();  // flushes the module log's file

    for (const std::string &file : {robot_path(), module_path()})
        EXPECT_EQ(messages_in(file).size(), size_t{kWriters * kMessages}) << file;
}

INSTANTIATE_TEST_SUITE_P(Logs, SettingChangeTest, testing::ValuesIn(kSettings),
                         [](const testing::TestParamInfo<Setting> &info) {
                             return std::string(info.param.name);
                         });

// Ending the robot log while threads write to it: the messages written before
// are whole, and those written after go nowhere. The moment of the end falls
// anywhere in a message, so it is tried a number of times.
TEST_F(LogConcurrencyTest, TerminateWhileThreadsWriteDropsLaterMessages) {
    constexpr int kRounds = 30;
    constexpr int kBefore = 20 * kWriters;
    constexpr int kAfter = 10;
    for (int round = 0; round < kRounds; ++round) {
        const std::string path = dir_.file("ended" + std::to_string(round) + ".log");
        objlog *log = create_objlog(path.c_str(), 5, 1 << 30);
        objlog_init(log, 1 << 30);
        std::atomic<int> written{0};
        std::atomic<bool> ended{false};
        std::vector<std::thread> writers;
        for (int t = 0; t < kWriters; ++t) {
            writers.emplace_back([&, t] {
                for (int i = 0, late = 0; late < kAfter; ++i) {
                    std::lock_guard<std::mutex> hold(log->lock);
                    objlog_set_params(log, 3, "x", t);
                    if (ended) {
                        write_to(log, "late %d\n", late++);
                    } else {
                        write_to(log, "thread %d message %d\n", t, i);
                        ++written;
                    }
                }
            });
        }
        while (written < kBefore) std::this_thread::yield();
        objlog_terminate(log);
        ended = true;
        for (std::thread &w : writers) w.join();

        EXPECT_GE(messages_in(path).size(), size_t{kBefore}) << path;
        EXPECT_EQ(objlog_get_file_size(log), -1);
        destroy_objlog(log);
    }
}

}  // namespace
