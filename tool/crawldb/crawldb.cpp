// crawldb: an operator's companion to crawlpeek. Statistics, exports and
// integrity checks of a crawler's visited-URL database, strictly read-only.
//
// Exit statuses: 0 done (check: clean), 1 nothing matched or problems
// found, 2 trouble: bad usage, a database that cannot be read or is damaged.
#include <cctype>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <CLI/CLI.hpp>

#include "tool/crawldb/check.h"
#include "tool/crawldb/crawl_db.h"
#include "tool/crawldb/date_option.h"
#include "tool/crawldb/export_records.h"
#include "tool/crawldb/stats.h"
#include "tool/reader_child.h"

namespace {

constexpr char kVersion[] = "crawldb 1.0";
constexpr int kTrouble = 2;
constexpr size_t kOutputBufferSize = 1 << 20;

// A count given on the command line: digits only, within 64 bits. The
// library's own conversion would take -1 for the largest count.
const CLI::Validator kCount(
    [](std::string &text) -> std::string {
        uint64_t value = 0;
        const char *end = text.data() + text.size();
        const auto result = std::from_chars(text.data(), end, value);
        if (text.empty() || result.ec != std::errc() || result.ptr != end) {
            return "not a count of 0 or more: " + text;
        }
        return std::string();
    },
    "COUNT");

// What every command shares.
struct Common {
    std::string home = "robot";
    bool json = false;
};

void add_home(CLI::App *command, Common *common) {
    command->add_option("-h,--home", common->home,
                        "The robot state directory holding url-visited.db and vid.db")
        ->default_str("robot");
}

void add_json(CLI::App *command, Common *common, const char *what) {
    command->add_flag("--json", common->json, what);
}

// Reads a list option into *ranges; false (reported) when it is no list.
bool read_ranges(const std::string &text, const char *option, std::optional<IntRanges> *ranges) {
    IntRanges parsed;
    if (!parsed.parse(text)) {
        crawldb_error("%s %s: not a list of numbers and ranges such as 404,500-599", option,
                      text.c_str());
        return false;
    }
    *ranges = parsed;
    return true;
}

// Reads a date option; false (reported) when the date parser finds none.
bool read_date(const std::string &text, const char *option, std::optional<int64_t> *time) {
    *time = parse_date_option(text);
    if (*time) return true;
    crawldb_error("%s %s: not a date (try 2026-12-01 or 2026-12-01T10:00Z)", option, text.c_str());
    return false;
}

// Opens the database for a command that refuses a damaged one, verifying
// the files alongside the reading; the exit status when it cannot go on,
// else none.
std::optional<int> open_or_refuse(CrawlDb *db, const std::string &home, unsigned files) {
    if (db->open(home, files, Verification::When::kAlongside) == CrawlDb::Opened::kOpen) {
        return std::nullopt;
    }
    return kTrouble;
}

// The raw option texts that need reading after the command line is parsed.
struct ExportTexts {
    std::string status, progress, since, until;
};

}  // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOFBF, kOutputBufferSize);
    CLI::App app{"Statistics, exports and integrity checks of a crawler's visited-URL database.\n"
                 "Reads the database and changes nothing.",
                 "crawldb"};
    // -h names the state directory, as it does for crawlpeek.
    app.set_help_flag("--help", "Print this help and exit");
    app.set_version_flag("--version", kVersion);
    app.require_subcommand(1);
    Common common;

    StatsOptions stats;
    CLI::App *stats_command =
        app.add_subcommand("stats", "Counts of records by status, database, depth, freshness and host");
    add_home(stats_command, &common);
    add_json(stats_command, &common, "Print one JSON object");
    CLI::Option *hosts = stats_command->add_option(
        "--hosts", stats.host_rows, "Add the N hosts with most records (default 20)")
        ->expected(0, 1)
        ->check(kCount);
    std::string by = "host";
    stats_command->add_option("--by", by, "Group the host table by host or registrable domain")
        ->check(CLI::IsMember({"host", "domain"}));

    ExportOptions exporting;
    ExportTexts texts;
    CLI::App *export_command =
        app.add_subcommand("export", "Records as JSON Lines or tab-separated text, in id order");
    add_home(export_command, &common);
    export_command->add_flag("--tsv", exporting.tsv, "Tab-separated text with a header row");
    export_command->add_flag("--iso-times", exporting.iso_times, "Times as ISO 8601 UTC text");
    bool no_links = false;
    export_command->add_flag("--no-links", no_links,
                             "Leave out the referer and links, reading no other record");
    export_command->add_option("--status", texts.status, "Server statuses, as 404,500-599");
    export_command->add_option("--progress", texts.progress, "Progress statuses, as 0,4");
    export_command->add_option("--prefix", exporting.prefix, "URLs that start with this");
    export_command->add_option("--host", exporting.host, "URLs of this host");
    export_command->add_option("--match", exporting.match, "URLs matching this extended regex");
    export_command->add_option("--since", texts.since, "Last visited at or after this date");
    export_command->add_option("--until", texts.until, "Last visited at or before this date");
    export_command->add_option("--limit", exporting.limit, "At most this many records")
        ->check(kCount);

    CheckOptions checking;
    CLI::App *check_command = app.add_subcommand(
        "check", "Whether the two files agree with each other and with the metadata");
    add_home(check_command, &common);
    add_json(check_command, &common, "Print one JSON object");
    check_command->add_option("--examples", checking.examples,
                              "Examples shown of each kind of problem (default 5)")
        ->check(kCount);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        crawldb_error("%s (see crawldb --help)", e.what());
        return kTrouble;
    }

    if (hosts->count() > 0) {
        stats.hosts = true;
        // --hosts without a number.
        if (hosts->results().empty() || hosts->results().front().empty()) stats.host_rows = 20;
    }
    stats.by_domain = by == "domain";
    // Grouping asks for the table it groups.
    if (stats.by_domain) stats.hosts = true;
    stats.json = common.json;
    checking.json = common.json;
    exporting.links = !no_links;
    if (!texts.status.empty() && !read_ranges(texts.status, "--status", &exporting.server_status))
        return kTrouble;
    if (!texts.progress.empty() &&
        !read_ranges(texts.progress, "--progress", &exporting.progress_status))
        return kTrouble;
    if (!texts.since.empty() && !read_date(texts.since, "--since", &exporting.since))
        return kTrouble;
    if (!texts.until.empty() && !read_date(texts.until, "--until", &exporting.until))
        return kTrouble;
    if (exporting.host) {
        for (char &c : *exporting.host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }

    // Berkeley DB trusts the pages it reads: a page changed under the reader
    // ends the child, not the operator's shell pipeline with a crash.
    auto run_command = [&]() {
        CrawlDb db;
        if (stats_command->parsed()) {
            if (auto refused = open_or_refuse(&db, common.home, kRecordFileBit)) return *refused;
            return run_stats(&db, stats);
        }
        if (export_command->parsed()) {
            const unsigned files = exporting.prefix ? kRecordFileBit | kIdFileBit : kRecordFileBit;
            if (auto refused = open_or_refuse(&db, common.home, files)) return *refused;
            return run_export(&db, exporting);
        }
        // A damaged file is one of check's findings, not a reason to stop:
        // the files are verified before they are read.
        const CrawlDb::Opened opened =
            db.open(common.home, kRecordFileBit | kIdFileBit, Verification::When::kFirst);
        if (opened == CrawlDb::Opened::kTrouble) return kTrouble;
        return run_check(db, opened, checking);
    };
    const ReaderEnd end = run_reader_in_child([&](pid_t) {
        const int status = run_command();
        // Output lost to a full disk must not pass for a complete run.
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            crawldb_error("writing the output: %s", std::strerror(errno));
            return kTrouble;
        }
        return status;
    });
    if (end.signal == 0) return end.status;
    crawldb_error("reading the database ended with signal %d (%s); the output is cut short",
                  end.signal, strsignal(end.signal));
    return kTrouble;
}
