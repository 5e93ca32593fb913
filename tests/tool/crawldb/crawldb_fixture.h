// What the crawldb tests share: the program run as a process in a scratch
// directory, and readers of what it printed and of the directory.
#ifndef CRAWLPEEK_TESTS_TOOL_CRAWLDB_FIXTURE_H_
#define CRAWLPEEK_TESTS_TOOL_CRAWLDB_FIXTURE_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/run_process.h"
#include "support/scratch_dir.h"

using json = nlohmann::json;
using Strings = std::vector<std::string>;

inline std::vector<std::string> split(const std::string &text, char by) {
    std::vector<std::string> parts;
    for (size_t from = 0, to;; from = to + 1) {
        to = text.find(by, from);
        parts.push_back(text.substr(from, to - from));
        if (to == std::string::npos) return parts;
    }
}

// Every %XX decoded to its byte: the bytes behind crawldb's escaped text.
inline std::string percent_decoded(std::string_view text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            bytes.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            bytes.push_back(text[i]);
        }
    }
    return bytes;
}

inline std::vector<json> json_lines(const std::string &out) {
    std::vector<json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
    return lines;
}

// Every entry of the directory tree with its size and modification time.
inline std::map<std::string, std::pair<uintmax_t, std::filesystem::file_time_type>> listing(
    const std::string &dir) {
    std::map<std::string, std::pair<uintmax_t, std::filesystem::file_time_type>> entries;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir)) {
        entries[entry.path()] = {entry.is_regular_file() ? entry.file_size() : 0,
                                 entry.last_write_time()};
    }
    return entries;
}

class CrawldbTest : public testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directory(dir_.file("logs")); }
    ProcessResult run(const std::vector<std::string> &args) {
        return run_process(CRAWLDB_BINARY, args, dir_.path());
    }
    ScratchDir dir_;
};

#endif  // CRAWLPEEK_TESTS_TOOL_CRAWLDB_FIXTURE_H_
