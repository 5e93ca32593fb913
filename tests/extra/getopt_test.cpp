#include "extra/getopt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Scan {
    std::vector<std::string> args;
    // Each call's result: the letter, "?" and the letter examined for '?',
    // "." for -1; then "=" and the argument while libvel_optarg holds one.
    const char *transcript;
    int optind_after;
    const char *diagnostics = "";
    int calls = 0;  // 0: until the first -1
    int opterr = 1;
};

// One row a scan, each from the initial state over its own vector, which is
// freed before the next row starts: a scanner still pointing into it would
// show under AddressSanitizer. "-vx" stops after 'v' to leave a place behind.
const std::vector<Scan> kScans = {
    {{"prog", "-v", "-l", "5", "file"}, "v l=5 .=5", 4},
    {{"prog", "-vl5"}, "v l=5 .=5", 2},
    {{"prog", "-l"}, "?l .", 2, "prog: option requires an argument -- l\n"},
    {{"/usr/bin/prog", "-x"}, "?x .", 2, "prog: illegal option -- x\n"},
    {{"prog", "-xv"}, "?x v .", 2, "prog: illegal option -- x\n"},
    {{"prog", "-:"}, "?: .", 2, "prog: illegal option -- :\n"},
    {{"prog", "-x", "-l"}, "?x ?l .", 3, "", 0, 0},
    {{"prog", "--", "-v"}, ".", 2},
    {{"prog", "--verbose", "-v"}, ".", 2},
    {{"prog", "-", "-v"}, ".", 1},
    {{"prog", "-l", "-v"}, "l=-v .=-v", 3},
    {{"prog", "-u", "--", "-v"}, "u=-- v .", 4},
    {{"prog", "-u", "x", "-q"}, "u=x ?q=x .=x", 4, "prog: illegal option -- q\n"},
    {{"prog"}, ".", 1},
    {{"prog", "-vx"}, "v", 1, "", 1},
    {{"prog", "-l", "f"}, "l=f .=f", 3},
    // A '-' inside a group ends the scan where it stands; a caller that goes
    // on reads the rest of the group.
    {{"prog", "-v-l", "x", "file"}, "v . l=x .=x", 3, "", 4},
};

std::string step(int c) {
    std::string s = c == -1 ? "." : std::string(1, static_cast<char>(c));
    if (c == '?') s += static_cast<char>(libvel_optopt);
    return libvel_optarg == nullptr ? s : s + "=" + libvel_optarg;
}

TEST(Getopt, EachScanGivesItsResultsArgumentsAndFirstOperand) {
    for (const Scan &scan : kScans) {
        std::vector<std::string> args = scan.args;
        std::vector<char *> argv;
        for (std::string &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        libvel_optind = 1;
        libvel_opterr = scan.opterr;
        libvel_optarg = nullptr;
        std::string transcript;
        testing::internal::CaptureStderr();
        for (int i = 0; i < (scan.calls == 0 ? 20 : scan.calls); ++i) {
            const int c =
                libvel_getopt(static_cast<int>(argv.size() - 1), argv.data(), "vl:f:h:u:r:");
            transcript += (i > 0 ? " " : "") + step(c);
            if (scan.calls == 0 && c == -1) break;
        }
        const std::string row = testing::PrintToString(scan.args);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), scan.diagnostics) << row;
        EXPECT_EQ(transcript, scan.transcript) << row;
        EXPECT_EQ(libvel_optind, scan.optind_after) << row;
    }
}

}  // namespace
