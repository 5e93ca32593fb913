// The check before a whole dump: a file that fails verification is called
// damaged only when no crawler had it open for writing before, during or
// after the verifier read it.
#include "tool/reading/record_check.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "robot/vurl_writer_lock.h"
#include "support/scratch_dir.h"

namespace {

// What a crawler does while the verifier reads, and what the verifier finds.
enum class Meanwhile { kNothing, kTakesTheMark, kWritesAndCloses };
Meanwhile g_meanwhile = Meanwhile::kNothing;
VerifyResult g_verdict = VerifyResult::kFailed;
int g_verifier_runs = 0;

VerifyResult fake_verifier(const std::string &path) {
    ++g_verifier_runs;
    if (g_meanwhile == Meanwhile::kTakesTheMark) vurl_writer_lock_take(path.c_str());
    if (g_meanwhile == Meanwhile::kWritesAndCloses) {
        vurl_writer_lock_take(path.c_str());
        std::ofstream(path, std::ios::app) << "page";
        vurl_writer_lock_release();
    }
    return g_verdict;
}

TEST(RecordCheckTest, OnlyAFileNobodyWroteIsCalledDamaged) {
    using enum Meanwhile;
    using enum VerifyResult;
    using enum RecordFileState;
    const struct {
        const char *what;
        bool exists, marked_before;
        Meanwhile meanwhile;
        VerifyResult verdict;
        RecordFileState state;
        int verifier_runs;
    } cases[] = {
        {"sound", true, false, kNothing, kPassed, kSound, 1},
        {"damaged", true, false, kNothing, kFailed, kDamaged, 1},
        {"not verified", true, false, kNothing, kNotRun, kUnchecked, 1},
        {"marked before", true, true, kNothing, kFailed, kBeingWritten, 0},
        {"marked during", true, false, kTakesTheMark, kFailed, kBeingWritten, 1},
        {"written and released during", true, false, kWritesAndCloses, kNotRun, kBeingWritten, 1},
        {"absent: left to the open to report", false, false, kNothing, kFailed, kSound, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string path = dir.file("url-visited.db");
        ASSERT_TRUE(!c.exists || write_file(path, "pages"));
        ASSERT_TRUE(!c.marked_before || vurl_writer_lock_take(path.c_str()) == 1);
        g_meanwhile = c.meanwhile;
        g_verdict = c.verdict;
        g_verifier_runs = 0;
        EXPECT_EQ(check_record_file(path, fake_verifier), c.state);
        EXPECT_EQ(g_verifier_runs, c.verifier_runs);
        vurl_writer_lock_release();
    }
}

}  // namespace
