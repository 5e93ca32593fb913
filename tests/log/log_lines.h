// Reading log files back in the log tests.
#ifndef CRAWLPEEK_TESTS_LOG_LOG_LINES_H_
#define CRAWLPEEK_TESTS_LOG_LOG_LINES_H_

#include <regex>
#include <sstream>
#include <string>
#include <vector>

// The text with every time stamp such as "[05/Dec/2026:08:45:57]" written
// as "[T]", so that lines can be compared whole.
inline std::string marked(const std::string &text) {
    static const std::regex stamp(R"(\[\d\d/[A-Z][a-z]{2}/\d{4}(:\d\d){3}\])");
    return std::regex_replace(text, stamp, "[T]");
}

// The lines of a text, each with its newline.
inline std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
    return lines;
}

#endif  // CRAWLPEEK_TESTS_LOG_LOG_LINES_H_
