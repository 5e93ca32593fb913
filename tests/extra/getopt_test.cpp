#include "extra/getopt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr char kOptions[] = "vl:f:h:u:r:";

// One scan of an argument vector from the initial state, recording each
// result and the diagnostics printed.
class Scan {
  public:
    explicit Scan(std::vector<std::string> args) : args_(std::move(args)) {
        for (std::string &a : args_) argv_.push_back(a.data());
        argv_.push_back(nullptr);
        libvel_optind = 1;
        libvel_opterr = 1;
        libvel_optarg = nullptr;
    }

    int next() { return libvel_getopt(static_cast<int>(args_.size()), argv_.data(), kOptions); }

    // Runs the scan to its end; returns the results, -1 included.
    std::vector<int> all() {
        testing::internal::CaptureStderr();
        std::vector<int> results;
        int c;
        do {
            c = next();
            results.push_back(c);
        } while (c != -1 && results.size() < 20);
        diagnostics_ = testing::internal::GetCapturedStderr();
        return results;
    }

    const std::string &diagnostics() const { return diagnostics_; }
    char *arg(int i) { return argv_[i]; }

  private:
    std::vector<std::string> args_;
    std::vector<char *> argv_;
    std::string diagnostics_;
};

TEST(GetoptTest, FlagThenArgumentInNextElementStopsAtOperand) {
    Scan scan({"prog", "-v", "-l", "5", "file"});
    EXPECT_EQ(scan.next(), 'v');
    EXPECT_EQ(libvel_optarg, nullptr);
    EXPECT_EQ(scan.next(), 'l');
    EXPECT_EQ(libvel_optarg, scan.arg(3));  // points into argv, not a copy
    EXPECT_EQ(scan.next(), -1);
    EXPECT_EQ(libvel_optind, 4);
}

TEST(GetoptTest, GroupedFlagWithAttachedArgument) {
    Scan scan({"prog", "-vl5"});
    EXPECT_EQ(scan.next(), 'v');
    EXPECT_EQ(libvel_optind, 1);  // still inside the group
    EXPECT_EQ(scan.next(), 'l');
    EXPECT_STREQ(libvel_optarg, "5");
    EXPECT_EQ(libvel_optarg, scan.arg(1) + 3);
    EXPECT_EQ(scan.next(), -1);
    EXPECT_EQ(libvel_optind, 2);
}

TEST(GetoptTest, MissingArgumentIsReportedAndEndsTheScan) {
    Scan scan({"prog", "-l"});
    EXPECT_EQ(scan.all(), (std::vector<int>{'?', -1}));
    EXPECT_EQ(scan.diagnostics(), "prog: option requires an argument -- l\n");
    EXPECT_EQ(libvel_optind, 2);
    EXPECT_EQ(libvel_optopt, 'l');
}

TEST(GetoptTest, IllegalOptionNamesProgramWithoutDirectories) {
    Scan scan({"/usr/bin/prog", "-x"});
    EXPECT_EQ(scan.all(), (std::vector<int>{'?', -1}));
    EXPECT_EQ(scan.diagnostics(), "prog: illegal option -- x\n");
    EXPECT_EQ(libvel_optopt, 'x');
    EXPECT_EQ(libvel_optind, 2);
}

TEST(GetoptTest, IllegalOptionInsideGroupDoesNotStopTheGroup) {
    Scan scan({"prog", "-xv"});
    EXPECT_EQ(scan.all(), (std::vector<int>{'?', 'v', -1}));
    EXPECT_EQ(libvel_optind, 2);
}

TEST(GetoptTest, DoubleDashEndsOptionsAndIsConsumed) {
    Scan dashes({"prog", "--", "-v"});
    EXPECT_EQ(dashes.all(), (std::vector<int>{-1}));
    EXPECT_EQ(libvel_optind, 2);

    Scan long_word({"prog", "--verbose", "-v"});
    EXPECT_EQ(long_word.all(), (std::vector<int>{-1}));
    EXPECT_EQ(libvel_optind, 2);
}

TEST(GetoptTest, LoneDashIsTheFirstOperand) {
    Scan scan({"prog", "-", "-v"});
    EXPECT_EQ(scan.all(), (std::vector<int>{-1}));
    EXPECT_EQ(libvel_optind, 1);
}

TEST(GetoptTest, ArgumentIsTakenWhateverItLooksLike) {
    Scan scan({"prog", "-l", "-v"});
    EXPECT_EQ(scan.next(), 'l');
    EXPECT_STREQ(libvel_optarg, "-v");
    EXPECT_EQ(scan.next(), -1);
    EXPECT_EQ(libvel_optind, 3);

    Scan dashes({"prog", "-u", "--", "-v"});
    EXPECT_EQ(dashes.next(), 'u');
    EXPECT_STREQ(libvel_optarg, "--");
    EXPECT_EQ(dashes.next(), 'v');
}

// A '-' inside a group ends the scan but keeps the place after it, so that
// a caller that goes on reads the rest of the group.
TEST(GetoptTest, DashInsideAGroupEndsTheScanWhereItStands) {
    Scan scan({"prog", "-v-l", "x", "file"});
    EXPECT_EQ(scan.next(), 'v');
    EXPECT_EQ(scan.next(), -1);
    EXPECT_EQ(libvel_optind, 1);
    EXPECT_EQ(scan.next(), 'l');
    EXPECT_EQ(libvel_optarg, scan.arg(2));
    EXPECT_EQ(scan.next(), -1);
    EXPECT_EQ(libvel_optind, 3);
}

TEST(GetoptTest, ColonIsAlwaysIllegal) {
    Scan scan({"prog", "-:"});
    EXPECT_EQ(scan.all(), (std::vector<int>{'?', -1}));
    EXPECT_EQ(scan.diagnostics(), "prog: illegal option -- :\n");
    EXPECT_EQ(libvel_optind, 2);
}

TEST(GetoptTest, SilentWhenOptErrIsZeroWithSameResults) {
    Scan scan({"prog", "-x", "-l"});
    libvel_opterr = 0;
    EXPECT_EQ(scan.all(), (std::vector<int>{'?', '?', -1}));
    EXPECT_EQ(scan.diagnostics(), "");
    EXPECT_EQ(libvel_optind, 3);
}

TEST(GetoptTest, NoArgumentsAndFirstOperand) {
    Scan none({"prog"});
    EXPECT_EQ(none.all(), (std::vector<int>{-1}));
    EXPECT_EQ(libvel_optind, 1);

    Scan operand({"prog", "file", "-v"});
    EXPECT_EQ(operand.all(), (std::vector<int>{-1}));
    EXPECT_EQ(libvel_optind, 1);
}

TEST(GetoptTest, ErrorReturnsLeaveOptargAlone) {
    Scan scan({"prog", "-u", "x", "-q"});
    EXPECT_EQ(scan.next(), 'u');
    char *arg = libvel_optarg;
    testing::internal::CaptureStderr();
    EXPECT_EQ(scan.next(), '?');
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(libvel_optarg, arg);
    EXPECT_EQ(scan.next(), -1);
    EXPECT_EQ(libvel_optarg, arg);
}

}  // namespace

namespace {

TEST(GetoptTest, ANewScanStartsAfreshWhereTheLastOneWasLeft) {
    Scan first({"prog", "-vx"});
    EXPECT_EQ(first.next(), 'v');  // left with 'x' unread
    Scan second({"prog", "-l", "f"});
    EXPECT_EQ(second.next(), 'l');
    EXPECT_STREQ(libvel_optarg, "f");
    EXPECT_EQ(second.next(), -1);
    EXPECT_EQ(libvel_optind, 3);
}

// Each scan's vector is freed before the next scan starts, as a program's
// own vectors may be; under AddressSanitizer a state pointing into one of
// them would show.
TEST(GetoptTest, FinishedScansKeepNothingOfTheirVector) {
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"prog", "-v"}, {"prog", "-"}, {"prog", "-x"}, {"prog", "-vl5"},
          {"prog", "-v-l", "x"}}) {
        Scan scan(args);
        scan.all();
    }
    Scan last({"prog", "-v", "file"});
    EXPECT_EQ(last.all(), (std::vector<int>{'v', -1}));
    EXPECT_EQ(libvel_optind, 2);
}

}  // namespace
