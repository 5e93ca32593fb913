// crawlpeek: prints the crawler's visited-URL database for its operator.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "log/objlog.h"
#include "robot/id_indirect.h"
#include "robot/robot_db_env.h"
#include "robot/vurl_db.h"
#include "tool/crawlpeek/dump.h"
#include "tool/crawlpeek/dump_gate.h"
#include "tool/hooks/hook_settings.h"
#include "tool/crawlpeek/options.h"
#include "tool/reading/pages_passed_over.h"
#include "tool/reading/reader_child.h"
#include "tool/reading/standard_fds.h"

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

// Whether dir, named with -h, is a directory; when not, one line on standard
// error says why.
bool is_directory(const char *dir) {
    struct stat st;
    if (stat(dir, &st) != 0) {
        std::fprintf(stderr, "crawlpeek: -h %s: %s\n", dir, std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "crawlpeek: -h %s: %s\n", dir, std::strerror(ENOTDIR));
        return false;
    }
    return true;
}

// Opens the database, prints what the settings ask for and closes it; the
// process's exit status: 0 done, 1 when the database cannot be opened or the
// gate (for a whole dump) does not let the dump through.
int read_database(const RunSettings &settings, DumpGate *gate) {
    if (gate != nullptr) gate->hold_errors();
    // A failed environment shows up as a database that does not open. A
    // directory named with -h is never made, even if it went away since it
    // was checked. The environment is the reader's own, in its memory: it
    // writes nothing into the directory and shares nothing with a crawler.
    if (settings.state_dir == nullptr) mk_fullpath(get_robot_db_path(), 0755);
    if (access(visited_url_record_path().c_str(), F_OK) == 0) {
        sys_set_db_env(robot_db_open_env_read_only(get_robot_db_path()));
    }
    // 0: read only what is there; no file is created, no crawl start stamped.
    const bool opened = visited_url_init(0) != 0;
    // The table is learnt while the verifier runs; a damaged page can send
    // this walk astray, which the gate then cuts short.
    std::unique_ptr<WholeDump> whole;
    if (opened && settings.url == nullptr) whole = std::make_unique<WholeDump>();
    int status = 1;
    if (gate != nullptr && !gate->await()) {
        // The refusal has been said.
    } else if (!opened) {
        // A database that does not open is a failure a script must see.
        rlog_write(0, 3, "crawlpeek", __LINE__, "Failed to open visited url database\n");
    } else {
        if (settings.show_summary) print_crawl_banner(g_timestamp);
        dump_counters counters;
        if (whole != nullptr) {
            whole->print(&counters);
        } else {
            dump_entry(settings.url, settings.follow_referers, &counters);
        }
        if (settings.show_summary) print_summary(counters);
        status = 0;
    }
    whole.reset();
    if (opened) {
        report_pages_passed_over("crawlpeek", vdb_url);
        report_pages_passed_over("crawlpeek", vdb_id);
    }
    // 0: the metadata is not written back.
    visited_url_shutdown(0);
    // The private environment's regions are this process's memory.
    robot_db_shutdown();
    return status;
}

// Reads the database in a child process and returns the status to exit with:
// a child ended by a signal gets the operator a message and status 1. The
// whole dump reads every page, and a damaged one must not be walked: the
// file is verified meanwhile (see DumpGate). A file a crawler is writing
// fails verification without being damaged, and is walked as it is.
int read_database_in_child(const RunSettings &settings) {
    std::optional<DumpGate> gate;
    if (settings.url == nullptr) gate.emplace(visited_url_record_path());
    DumpGate *const gate_ptr = gate ? &*gate : nullptr;
    bool refused = false;
    const ReaderEnd end = run_reader_in_child(
        [&settings, gate_ptr](pid_t parent) {
            // The operator started the parent: the log names it.
            objlog_show_pid(parent);
            return read_database(settings, gate_ptr);
        },
        [&](pid_t reader) {
            if (gate_ptr != nullptr) refused = !gate_ptr->judge(reader);
        });
    if (refused) return 1;
    if (end.signal == 0) return end.status;
    std::fprintf(stderr,
                 "crawlpeek: reading the database ended with signal %d (%s); the output is "
                 "cut short\n",
                 end.signal, strsignal(end.signal));
    rlog_write(0, 3, "crawlpeek", __LINE__, "Reading the database ended with signal %d\n",
               end.signal);
    return 1;
}

}  // namespace

int main(int argc, char *argv[]) {
    // A closed descriptor would be taken by a database file, which would then
    // get the dump.
    standard_fds_reopen();
    // Entries are written whole; one large buffer keeps the writes few. The
    // buffer is given: with none, the C library keeps its own block size
    // whatever size is asked for. Static, so that it outlives the stream's
    // last flush at exit.
    static char output_buffer[kOutputBufferSize];
    std::setvbuf(stdout, output_buffer, _IOFBF, kOutputBufferSize);
    RunSettings settings;
    OptionsResult request = parse_long_request(argc, argv);
    if (request == OptionsResult::kRun) request = parse_options(argc, argv, &settings);
    switch (request) {
        case OptionsResult::kHelp:
            std::fputs(usage_text(), stdout);
            return 0;
        case OptionsResult::kVersion:
            std::printf("%s\n", version_string());
            return 0;
        case OptionsResult::kUsage:
            usage();
        case OptionsResult::kRun:
            break;
    }
    robot_log_init(kLogFile, settings.log_level, kLogRotateSize);
    if (settings.state_dir != nullptr) {
        // A mistyped directory is reported, not made: crawlpeek changes nothing.
        if (!is_directory(settings.state_dir)) return 1;
        tool_set_state_path(settings.state_dir);
    }
    g_show_details = settings.show_details ? 1 : 0;
    read_url_table_budget();

    return read_database_in_child(settings);
}
