#include <gtest/gtest.h>

#include <string>

#include "tool/dump.h"

namespace {

TEST(DumpSummary, CountsPastTwoGibibytesPrintUnwrapped) {
    dump_counters counters;
    counters.entries = 3000000000;
    counters.with_links = 2500000000;
    counters.total_links = 7500000000;
    counters.links_size = 600000000000;
    g_total_key_size = 12000000000;
    g_total_data_size = 5000000000;
    testing::internal::CaptureStdout();
    print_summary(counters);
    const std::string out = testing::internal::GetCapturedStdout();
    g_total_key_size = g_total_data_size = 0;

    EXPECT_NE(out.find("  Number of entries                   : 3000000000\n"), std::string::npos);
    EXPECT_NE(out.find("  Number of entries with links        : 2500000000\n"), std::string::npos);
    EXPECT_NE(out.find("  Total number of links               : 7500000000\n"), std::string::npos);
    EXPECT_NE(out.find("  Average number of links             : 3\n"), std::string::npos);
    EXPECT_NE(out.find("  Total size of links                 : 600000000000\n"),
              std::string::npos);
    EXPECT_NE(out.find("  Average size of links               : 80\n"), std::string::npos);
    EXPECT_NE(out.find("  Total db key size                   : 12000000000\n"), std::string::npos);
    EXPECT_NE(out.find("  Total db data size                  : 5000000000\n"), std::string::npos);
}

}  // namespace
