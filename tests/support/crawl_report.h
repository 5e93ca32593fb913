// Reading the counts crawlsim and crawlpeek print.
#ifndef CRAWLPEEK_TESTS_SUPPORT_CRAWL_REPORT_H_
#define CRAWLPEEK_TESTS_SUPPORT_CRAWL_REPORT_H_

#include <cstdio>
#include <map>
#include <string>

// The numbers crawlsim reports, by name ("visited", "created", "distinct",
// "digest", "modified", "with links", "links"); empty when its report is not
// there.
inline std::map<std::string, long> sim_counts(const std::string &out) {
    long crawls, visited, created, distinct, digest, modified, with_links, links;
    const int read = std::sscanf(out.c_str(),
                                 "crawlsim: %ld crawls, %ld pages visited, %ld records created "
                                 "in %*f s (%*f pages/s)\n"
                                 "crawlsim: %ld distinct pages visited: %ld with digest, %ld with "
                                 "last-modified, %ld with links, %ld links\n",
                                 &crawls, &visited, &created, &distinct, &digest, &modified,
                                 &with_links, &links);
    if (read != 8) return {};
    return {{"visited", visited}, {"created", created},   {"distinct", distinct},
            {"digest", digest},   {"modified", modified}, {"with links", with_links},
            {"links", links}};
}

// The value of the crawlpeek summary line that starts with label, or -1.
inline long summary_value(const std::string &out, const std::string &label) {
    const size_t at = out.find("  " + label);
    if (at == std::string::npos) return -1;
    return std::stol(out.substr(out.find(": ", at) + 2));
}

#endif  // CRAWLPEEK_TESTS_SUPPORT_CRAWL_REPORT_H_
