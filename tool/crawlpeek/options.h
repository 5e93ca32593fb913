// crawlpeek's command line.
#ifndef CRAWLPEEK_TOOL_CRAWLPEEK_OPTIONS_H_
#define CRAWLPEEK_TOOL_CRAWLPEEK_OPTIONS_H_

#include <cstdint>

// The run's settings, fixed once the options are read.
struct RunSettings {
    int32_t log_level = 5;
    const char *url = nullptr;        // the URL to print; null for the whole dump
    bool follow_referers = false;     // go on along the URL's referers
    bool show_details = true;         // print each entry's detail block
    bool show_summary = true;         // print the crawl banner and the summary
    const char *state_dir = nullptr;  // -h: read this directory instead of "robot"
};

enum class OptionsResult { kRun, kVersion, kUsage, kHelp };

// The option letters; those followed by ':' take an argument.
inline constexpr char kOptionString[] = "vl:f:h:u:r:";

// Reads the options of argv into settings. kVersion as soon as -v is met,
// kUsage for an unknown option or a missing argument. A -f naming another
// file than url-visited.db is reported on standard error and ignored.
OptionsResult parse_options(int argc, char *argv[], RunSettings *settings);

// "Dump Visited URL Database Version 3.0".
const char *version_string();

// The usage text, lines ending in newlines.
const char *usage_text();

// What a lone argument asks for before any option is read: "--help" the
// usage text and "--version" the version, both on standard output with
// status 0; kRun for anything else.
OptionsResult parse_long_request(int argc, char *argv[]);

// Writes the usage text on standard error and ends the process with status 1.
[[noreturn]] void usage();

#endif  // CRAWLPEEK_TOOL_CRAWLPEEK_OPTIONS_H_
