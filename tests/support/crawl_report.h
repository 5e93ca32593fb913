// Reading the counts crawlsim and crawlpeek print.
#ifndef CRAWLPEEK_TESTS_SUPPORT_CRAWL_REPORT_H_
#define CRAWLPEEK_TESTS_SUPPORT_CRAWL_REPORT_H_

#include <map>
#include <string>

// The numbers crawlsim reports, by name ("visited", "created", "distinct",
// "digest", "modified", "with links", "links"); empty when its report is not
// there.
std::map<std::string, long> sim_counts(const std::string &out);

// The value of the crawlpeek summary line that starts with label, or -1.
long summary_value(const std::string &out, const std::string &label);

#endif  // CRAWLPEEK_TESTS_SUPPORT_CRAWL_REPORT_H_
