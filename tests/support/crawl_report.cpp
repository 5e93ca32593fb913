#include "support/crawl_report.h"

#include <cstdio>

std::map<std::string, long> sim_counts(const std::string &out) {
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

long summary_value(const std::string &out, const std::string &label) {
    const size_t at = out.find("  " + label);
    if (at == std::string::npos) return -1;
    return std::stol(out.substr(out.find(": ", at) + 2));
}
