// Reading log files back in the log tests.
#ifndef CRAWLPEEK_TESTS_LOG_LOG_LINES_H_
#define CRAWLPEEK_TESTS_LOG_LOG_LINES_H_

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

// The lines of a text, each with its newline.
inline std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line + "\n");
    return lines;
}

// Whether line starts with a time stamp such as "[05/Dec/2026:08:45:57]".
inline bool has_stamp(const std::string &line) {
    static const char shape[] = "[dd/Aaa/dddd:dd:dd:dd]";
    if (line.size() < sizeof shape - 1) return false;
    for (size_t i = 0; i + 1 < sizeof shape; ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        const bool ok = shape[i] == 'd'   ? std::isdigit(c)
                        : shape[i] == 'A' ? std::isupper(c)
                        : shape[i] == 'a' ? std::islower(c)
                                          : c == static_cast<unsigned char>(shape[i]);
        if (!ok) return false;
    }
    return true;
}

// The text after the time stamp, or "<no stamp>" when the line has none.
inline std::string after_stamp(const std::string &line) {
    return has_stamp(line) ? line.substr(22) : "<no stamp>";
}

// " %5d" of this process's id, as every header shows it.
inline std::string pid_field() {
    char buf[32];
    std::snprintf(buf, sizeof buf, " %5d", static_cast<int>(getpid()));
    return buf;
}

#endif  // CRAWLPEEK_TESTS_LOG_LOG_LINES_H_
