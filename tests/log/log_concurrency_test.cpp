// Threads writing to the logs while another thread changes a setting or ends
// the robot log; even threads write warnings and odd ones errors. Also run
// under ThreadSanitizer, which reports any access to a log nothing orders.
#include <gtest/gtest.h>

#include <atomic>
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

constexpr auto severity_of = [](int thread) { return thread % 2 == 0 ? 2 : 3; };

// The (thread, message) numbers of a file's lines, each of which must be a
// whole "thread T message I" message with T's severity, seen once.
std::set<std::pair<int, int>> messages_in(const std::string &file) {
    std::set<std::pair<int, int>> seen;
    for (const std::string &line : split_lines(marked(read_file(file)))) {
        // "[T] <pid>@<thread>: <WORD>: thread <t> message <i>\n", nothing more.
        int t = -1, i = -1, used = 0;
        const bool ok = std::sscanf(line.c_str(), "[T] %*d@%*x: %*[A-Z]: thread %1d message %d%n",
                                    &t, &i, &used) == 2 &&
                        line.substr(used) == "\n" &&
                        line.find(severity_of(t) == 2 ? ": WARNING: " : ": ERROR: ") != line.npos;
        EXPECT_TRUE(ok) << line;
        EXPECT_TRUE(!ok || seen.insert({t, i}).second) << "again " << line;
    }
    return seen;
}

class LogConcurrencyTest : public testing::Test {
  protected:
    void TearDown() override {
        vellog_terminate();
        vellog_set_level(0);
        destroy_objlog(rlog);
        rlog = nullptr;
    }
    ScratchDir dir_;
};

// The settings flip between values under which every message is still
// written and no file rotates, so both files must end up with every message.
TEST_F(LogConcurrencyTest, WritersKeepWritingEveryMessageWhileTheSettingsChange) {
    robot_log_init(dir_.file("robot.log").c_str(), 5, 1 << 30);
    vellog_init(5, dir_.file("module.log").c_str());
    std::atomic<bool> stop{false};
    std::thread changer([&] {
        for (int round = 0; !stop; ++round, std::this_thread::yield()) {
            objlog_set_level(rlog, 1 + round % 4);
            objlog_set_rotate_size(rlog, round % 2 ? 0 : 1 << 30);
            vellog_set_level(1 + round % 4);
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kWriters; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kMessages; ++i) {
                rlog_write(1, severity_of(t), "x", t, "thread %d message %d\n", t, i);
                vellog_write(1, severity_of(t), "x", t, "thread %d message %d\n", t, i);
            }
        });
    }
    for (std::thread &w : writers) w.join();
    stop = true;
    changer.join();
    vellog_terminate();  // flushes the module log's file
    for (const char *file : {"robot.log", "module.log"})
        EXPECT_EQ(messages_in(dir_.file(file)).size(), size_t{kWriters * kMessages}) << file;
}

// Ending the robot log while threads write to it: the messages written before
// are whole, and those written after go nowhere. The moment of the end falls
// anywhere in a message, so it is tried a number of times.
TEST_F(LogConcurrencyTest, TerminateWhileThreadsWriteDropsLaterMessages) {
    constexpr int kBefore = 20 * kWriters;
    for (int round = 0; round < 30; ++round) {
        const std::string path = dir_.file("ended" + std::to_string(round) + ".log");
        destroy_objlog(rlog);
        robot_log_init(path.c_str(), 5, 1 << 30);
        std::atomic<int> written{0};
        std::atomic<bool> ended{false};
        std::vector<std::thread> writers;
        for (int t = 0; t < kWriters; ++t) {
            writers.emplace_back([&, t] {
                for (int i = 0, late = 0; late < 10; ++i) {
                    std::lock_guard<std::mutex> hold(rlog->lock);
                    objlog_set_params(rlog, severity_of(t), "x", t);
                    late += ended;
                    rlog_do_print(late ? "late %d %d\n" : "thread %d message %d\n", t, i);
                    written += !late;
                }
            });
        }
        while (written < kBefore) std::this_thread::yield();
        objlog_terminate(rlog);
        ended = true;
        for (std::thread &w : writers) w.join();
        EXPECT_GE(messages_in(path).size(), size_t{kBefore}) << path;
        EXPECT_EQ(objlog_get_file_size(rlog), -1);
    }
}

}  // namespace
