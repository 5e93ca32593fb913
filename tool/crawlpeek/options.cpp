#include "tool/crawlpeek/options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "extra/getopt.h"

namespace {

constexpr char kRecordFile[] = "url-visited.db";

void note_record_file(const char *name) {
    if (std::strcmp(name, kRecordFile) == 0) return;
    std::fprintf(stderr, "crawlpeek: -f %s is ignored: the record file is always %s\n", name,
                 kRecordFile);
}

// The -l argument as a decimal number, as atol reads it (text that is no
// number gives 0), held to the 32 bits of a log level so that a huge value
// cannot wrap into its opposite.
int32_t log_level_of(const char *text) {
    const long value = std::strtol(text, nullptr, 10);
    return static_cast<int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

const char *version_string() {
    return "Dump Visited URL Database Version 3.0";
}

const char *usage_text() {
    return "Usage: crawlpeek [-v] [-l log_level] [-r url] [-u url] [-f db_file] [-h db_dir]\n"
           "                 -v print version\n"
           "                 -l specify log level\n"
           "                 -r print referers of url\n"
           "                 -u dump a single url\n"
           "                 -f specify db file (default url-visited.db)\n"
           "                 -h specify db home dir (default robot)\n";
}

void usage() {
    std::fputs(usage_text(), stderr);
    std::exit(1);
}

OptionsResult parse_long_request(int argc, char *argv[]) {
    if (argc != 2) return OptionsResult::kRun;
    const std::string_view argument = argv[1];
    if (argument == "--help") return OptionsResult::kHelp;
    if (argument == "--version") return OptionsResult::kVersion;
    return OptionsResult::kRun;
}

OptionsResult parse_options(int argc, char *argv[], RunSettings *settings) {
    int32_t c;
    while ((c = libvel_getopt(argc, argv, kOptionString)) != -1) {
        switch (c) {
            case 'v':
                return OptionsResult::kVersion;
            case 'l':
                settings->log_level = log_level_of(libvel_optarg);
                break;
            case 'f':
                note_record_file(libvel_optarg);
                break;
            case 'h':
                settings->state_dir = libvel_optarg;
                break;
            case 'u':
                settings->url = libvel_optarg;
                settings->show_summary = false;
                break;
            case 'r':
                settings->url = libvel_optarg;
                settings->follow_referers = true;
                settings->show_summary = false;
                settings->show_details = false;
                break;
            default:
                return OptionsResult::kUsage;
        }
    }
    return OptionsResult::kRun;
}
