// crawlpeek: prints the crawler's visited-URL database for its operator.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/objlog.h"
#include "robot/robot_db_env.h"
#include "robot/vurl_db.h"
#include "tool/dump.h"
#include "tool/hook_settings.h"
#include "tool/options.h"

namespace {

constexpr char kLogFile[] = "logs/crawlpeek.log";
// Rotation size of the tool's log, and the size above which an existing log
// is rotated when it is opened.
constexpr int32_t kLogRotateSize = 1000000;
constexpr size_t kOutputBufferSize = 1 << 20;
constexpr char kBudgetVariable[] = "CRAWLPEEK_URL_TABLE_BUDGET";

// The URL table's budget in bytes from the environment, when it is set to a
// number; 0 makes the dump read every referer and link from the file.
void read_url_table_budget() {
    const char *text = std::getenv(kBudgetVariable);
    if (text == nullptr) return;
    size_t budget = 0;
    const char *end = text + std::strlen(text);
    std::from_chars_result parsed = std::from_chars(text, end, budget);
    if (parsed.ec != std::errc() || parsed.ptr != end) {
        std::fprintf(stderr, "crawlpeek: %s=%s is not a number of bytes, ignored\n",
                     kBudgetVariable, text);
        return;
    }
    g_url_table_budget = budget;
}

}  // namespace

int main(int argc, char *argv[]) {
    // Entries are written whole; one large buffer keeps the writes few.
    std::setvbuf(stdout, nullptr, _IOFBF, kOutputBufferSize);
    RunSettings settings;
    switch (parse_options(argc, argv, &settings)) {
        case OptionsResult::kVersion:
            std::printf("%s\n", version_string());
            return 0;
        case OptionsResult::kUsage:
            usage();
        case OptionsResult::kRun:
            break;
    }
    if (settings.state_dir != nullptr) tool_set_state_path(settings.state_dir);
    robot_log_init(kLogFile, settings.log_level, kLogRotateSize);
    g_show_details = settings.show_details ? 1 : 0;
    read_url_table_budget();

    // A failed environment shows up as a database that does not open.
    robot_db_init();
    // The whole dump reads every page; a damaged one must not be walked.
    if (settings.url == nullptr && visited_url_verify_records() == 0) {
        std::fprintf(stderr,
                     "crawlpeek: url-visited.db does not pass verification: it is damaged, or a "
                     "crawler is writing it; nothing is dumped\n");
        rlog_write(0, 3, "crawlpeek", __LINE__, "Visited url database does not pass verification\n");
        return 1;
    }
    // 0: read only what is there; no file is created, no crawl start stamped.
    if (visited_url_init(0) == 0) {
        rlog_write(0, 3, "crawlpeek", __LINE__, "Failed to open visited url database\n");
    } else {
        if (settings.show_summary) print_crawl_banner(g_timestamp);
        dump_counters counters;
        if (settings.url == nullptr) {
            dump_all_entries(&counters);
        } else {
            dump_entry(settings.url, settings.follow_referers, &counters);
        }
        if (settings.show_summary) print_summary(counters);
    }
    // 0: the metadata is not written back.
    visited_url_shutdown(0);
    return 0;
}
