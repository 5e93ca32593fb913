// Reading log files back in the log tests.
#ifndef CRAWLPEEK_TESTS_LOG_LOG_LINES_H_
#define CRAWLPEEK_TESTS_LOG_LOG_LINES_H_

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

// The text with every time stamp such as "[05/Dec/2026:08:45:57]" written
// as "[T]", so that lines can be compared whole.
inline std::string marked(const std::string &text) {
    std::string out;
    for (size_t at = 0; at < text.size(); ++at) {
        // 22 bytes: '[', '/' at 3 and 7, ':' at 12, 15 and 18, ']' at 21.
        const bool stamp = text[at] == '[' && text.size() - at >= 22 && text[at + 21] == ']' &&
                           text[at + 3] == '/' && text[at + 7] == '/' && text[at + 12] == ':' &&
                           text[at + 15] == ':' && text[at + 18] == ':' &&
                           std::isupper(static_cast<unsigned char>(text[at + 4])) != 0;
        out += stamp ? std::string("[T]") : std::string(1, text[at]);
        if (stamp) at += 21;
    }
    return out;
}

// The lines of a text, each with its newline.
inline std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
    return lines;
}

#endif  // CRAWLPEEK_TESTS_LOG_LOG_LINES_H_
