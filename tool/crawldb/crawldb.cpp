// crawldb: an operator's companion to crawlpeek. Statistics, exports,
// integrity checks, links, the end-of-crawl plan, comparisons of two crawls
// and the frontier, from a crawler's state directory, strictly read-only.
//
// Exit statuses: 0 done (check: clean), 1 nothing matched, problems or
// differences found, 2 trouble: bad usage, a database that cannot be read
// or is damaged.

#include <cctype>
#include <charconv>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tool/crawldb/check.h"
#include "tool/crawldb/crawl_db.h"
#include "tool/crawldb/date_option.h"
#include "tool/crawldb/diff.h"
#include "tool/crawldb/export_records.h"
#include "tool/crawldb/links.h"
#include "tool/crawldb/plan.h"
#include "tool/crawldb/pool.h"
#include "tool/crawldb/reading.h"
#include "tool/crawldb/stats.h"
#include "tool/reading/standard_fds.h"

namespace {

constexpr char kVersion[] = "crawldb 1.0";
constexpr int kTrouble = 2;
constexpr size_t kOutputBufferSize = 1 << 20;
constexpr size_t kDefaultHostRows = 20;

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

// A command: its part of the command line, what it reads from its options
// once they are parsed (false: a bad option, reported), and its run, which
// gives the exit status.
struct Command {
    CLI::App *app = nullptr;
    std::function<bool()> prepare = [] { return true; };
    std::function<int()> run;
};

void add_home(CLI::App *command, Common *common) {
    command->add_option("-h,--home", common->home,
                        "The robot state directory holding url-visited.db and vid.db")
        ->default_str("robot");
}

void add_json(CLI::App *command, Common *common, const char *what) {
    command->add_flag("--json", common->json, what);
}

// --hosts [N]: the option, whose count tells whether it was given.
CLI::Option *add_hosts(CLI::App *command, size_t *rows) {
    return command
        ->add_option("--hosts", *rows, "Add the N hosts with most entries (default 20)")
        ->expected(0, 1)
        ->check(kCount);
}

// Whether --hosts was given; its N, or the default when it has none.
bool read_hosts(const CLI::Option *option, size_t *rows) {
    if (option->count() == 0) return false;
    if (option->results().empty() || option->results().front().empty()) *rows = kDefaultHostRows;
    return true;
}

// Reads a list option into *ranges; false (reported) when it is no list.
bool read_ranges(const std::string &text, const char *option, IntRanges *ranges) {
    if (ranges->parse(text)) return true;
    crawldb_error("%s %s: not a list of numbers and ranges such as 404,500-599", option,
                  text.c_str());
    return false;
}

bool read_optional_ranges(const std::optional<std::string> &text, const char *option,
                          std::optional<IntRanges> *ranges) {
    if (!text) return true;
    IntRanges parsed;
    if (!read_ranges(*text, option, &parsed)) return false;
    *ranges = parsed;
    return true;
}

// Reads a date option; false (reported) when it names no date.
bool read_date(const std::optional<std::string> &text, const char *option,
               std::optional<int64_t> *time) {
    if (!text) return true;
    *time = parse_date_option(*text);
    if (*time) return true;
    crawldb_error("%s %s: not a date (try 2026-12-01 or 2026-12-01T10:00Z)", option,
                  text->c_str());
    return false;
}

// Opens the database for a command that refuses a damaged one, verifying
// the files alongside the reading: 0 when it is open, else the status to end
// with (reported).
int open_for_reading(CrawlDb *db, const std::string &home, unsigned files) {
    switch (db->open(home, files, Verification::When::kAlongside)) {
        case CrawlDb::Opened::kOpen:
            return 0;
        case CrawlDb::Opened::kDamaged:
            for (const std::string &file : db->damaged()) {
                crawldb_error("%s does not pass verification: it is damaged (see crawldb check)",
                              file.c_str());
            }
            return kTrouble;
        case CrawlDb::Opened::kTrouble:
            break;
    }
    return db->read_failure_status();
}

Command define_stats(CLI::App *app, Common *common) {
    auto options = std::make_shared<StatsOptions>();
    auto by = std::make_shared<std::string>("host");
    Command command;
    command.app = app->add_subcommand(
        "stats", "Counts of records by status, database, depth, freshness and host");
    add_home(command.app, common);
    add_json(command.app, common, "Print one JSON object");
    CLI::Option *hosts = add_hosts(command.app, &options->host_rows);
    command.app->add_option("--by", *by, "Group the host table by host or registrable domain")
        ->check(CLI::IsMember({"host", "domain"}));
    command.prepare = [=] {
        options->hosts = read_hosts(hosts, &options->host_rows);
        options->by_domain = *by == "domain";
        // Grouping asks for the table it groups.
        if (options->by_domain) options->hosts = true;
        options->json = common->json;
        return true;
    };
    command.run = [=] {
        CrawlDb db;
        if (const int status = open_for_reading(&db, common->home, kRecordFileBit)) return status;
        return run_stats(&db, *options);
    };
    return command;
}

Command define_export(CLI::App *app, Common *common) {
    struct Texts {
        std::optional<std::string> status, progress, since, until;
        bool no_links = false;
    };
    auto options = std::make_shared<ExportOptions>();
    auto texts = std::make_shared<Texts>();
    Command command;
    command.app =
        app->add_subcommand("export", "Records as JSON Lines or tab-separated text, in id order");
    CLI::App *c = command.app;
    add_home(c, common);
    c->add_flag("--tsv", options->tsv, "Tab-separated text with a header row");
    c->add_flag("--iso-times", options->iso_times, "Times as ISO 8601 UTC text");
    c->add_flag("--no-links", texts->no_links,
                "Leave out the referer and links (link_count becomes link_ids), reading no other "
                "record");
    c->add_option("--status", texts->status, "Server statuses, as 404,500-599");
    c->add_option("--progress", texts->progress, "Progress statuses, as 0,4");
    c->add_option("--prefix", options->prefix, "URLs that start with this");
    c->add_option("--host", options->host, "URLs of this host");
    c->add_option("--match", options->match, "URLs matching this extended regex");
    c->add_option("--since", texts->since, "Last visited at or after this date");
    c->add_option("--until", texts->until, "Last visited at or before this date");
    c->add_option("--limit", options->limit, "At most this many records")->check(kCount);
    command.prepare = [=] {
        options->links = !texts->no_links;
        if (options->host) {
            for (char &ch : *options->host) {
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            }
        }
        return read_optional_ranges(texts->status, "--status", &options->server_status) &&
               read_optional_ranges(texts->progress, "--progress", &options->progress_status) &&
               read_date(texts->since, "--since", &options->since) &&
               read_date(texts->until, "--until", &options->until);
    };
    command.run = [=] {
        CrawlDb db;
        const unsigned files = options->prefix ? kRecordFileBit | kIdFileBit : kRecordFileBit;
        if (const int status = open_for_reading(&db, common->home, files)) return status;
        return run_export(&db, *options);
    };
    return command;
}

Command define_check(CLI::App *app, Common *common) {
    auto options = std::make_shared<CheckOptions>();
    Command command;
    command.app = app->add_subcommand(
        "check", "Whether the two files agree with each other and with the metadata");
    add_home(command.app, common);
    add_json(command.app, common, "Print one JSON object");
    command.app
        ->add_option("--examples", options->examples,
                     "Examples shown of each kind of problem (default 5)")
        ->check(kCount);
    command.run = [=] {
        options->json = common->json;
        CrawlDb db;
        // A damaged file is one of check's findings, not a reason to stop.
        const CrawlDb::Opened opened =
            db.open(common->home, kRecordFileBit | kIdFileBit, Verification::When::kAlongside);
        if (opened == CrawlDb::Opened::kTrouble) return db.read_failure_status();
        return run_check(&db, opened, *options);
    };
    return command;
}

Command define_links(CLI::App *app, Common *common) {
    struct Modes {
        bool broken = false, orphans = false, dangling = false;
        std::string to, statuses = "400-599";
    };
    auto options = std::make_shared<LinksOptions>();
    auto modes = std::make_shared<Modes>();
    Command command;
    command.app = app->add_subcommand("links", "Broken links, in-links, orphans and dangling ids");
    CLI::App *c = command.app;
    add_home(c, common);
    add_json(c, common, "One JSON object a line");
    CLI::Option *broken =
        c->add_flag("--broken", modes->broken, "Links to records whose server status is in --status");
    c->add_option("--status", modes->statuses, "Server statuses of broken targets (default 400-599)")
        ->needs(broken);
    CLI::Option *to = c->add_option("--to", modes->to, "The pages that link to this URL");
    CLI::Option *orphans =
        c->add_flag("--orphans", modes->orphans, "Records with a referer that no page links to");
    CLI::Option *dangling =
        c->add_flag("--dangling", modes->dangling, "Referer and link ids without a record");
    broken->excludes(to, orphans, dangling);
    to->excludes(orphans, dangling);
    orphans->excludes(dangling);
    command.prepare = [=] {
        using Mode = LinksOptions::Mode;
        if (!modes->broken && to->count() == 0 && !modes->orphans && !modes->dangling) {
            crawldb_error("links: say which: --broken, --to URL, --orphans or --dangling");
            return false;
        }
        options->mode = modes->broken    ? Mode::kBroken
                        : to->count() > 0 ? Mode::kTo
                        : modes->orphans  ? Mode::kOrphans
                                          : Mode::kDangling;
        options->url = modes->to;
        options->json = common->json;
        return read_ranges(modes->statuses, "--status", &options->statuses);
    };
    command.run = [=] {
        CrawlDb db;
        if (const int status = open_for_reading(&db, common->home, kRecordFileBit | kIdFileBit)) return status;
        return run_links(&db, *options);
    };
    return command;
}

Command define_plan(CLI::App *app, Common *common) {
    auto options = std::make_shared<PlanOptions>();
    Command command;
    command.app = app->add_subcommand(
        "plan", "What the end-of-crawl passes would hand on if they ran now (a dry run)");
    add_home(command.app, common);
    add_json(command.app, common, "One JSON object a line, then the counts");
    command.app->add_flag("--summary", options->summary, "Print only the counts");
    command.run = [=] {
        options->json = common->json;
        CrawlDb db;
        if (const int status = open_for_reading(&db, common->home, kRecordFileBit)) return status;
        return run_plan(&db, *options);
    };
    return command;
}

Command define_diff(CLI::App *app, Common *common) {
    auto options = std::make_shared<DiffOptions>();
    Command command;
    command.app = app->add_subcommand("diff", "What changed from one crawl database to another");
    command.app->add_option("old", options->old_home, "The older robot state directory")
        ->required();
    command.app->add_option("new", options->new_home, "The newer robot state directory")
        ->required();
    add_json(command.app, common, "One JSON object a line");
    command.app->add_flag("--summary", options->summary, "Print only the counts");
    command.run = [=] {
        options->json = common->json;
        return run_diff(*options);
    };
    return command;
}

Command define_pool(CLI::App *app, Common *common) {
    auto options = std::make_shared<PoolOptions>();
    Command command;
    command.app = app->add_subcommand("pool", "The URL pool: what waits, and what is in work");
    CLI::App *c = command.app;
    add_home(c, common);
    c->add_option("-p,--pool", options->pool_dir,
                  "The pool's directory, when not the robot state directory");
    add_json(c, common, "One JSON object (with --collection, one a line)");
    CLI::Option *hosts = add_hosts(c, &options->host_rows);
    c->add_option("--collection", options->collection,
                  "List this collection's URLs in key order with their stored fields");
    command.prepare = [=] {
        options->hosts = read_hosts(hosts, &options->host_rows);
        return true;
    };
    command.run = [=] {
        options->home = common->home;
        options->json = common->json;
        return run_pool(*options);
    };
    return command;
}

}  // namespace

int main(int argc, char **argv) {
    // A closed descriptor would be taken by a database file, which would then
    // get the output; with no standard output there is nowhere to write.
    if ((standard_fds_reopen() & kStdoutWasClosed) != 0) {
        crawldb_error("standard output is closed");
        return kTrouble;
    }
    // The buffer is given: with none, the C library keeps its own block size
    // whatever size is asked for. Static, so that it outlives the stream's
    // last flush at exit.
    static char output_buffer[kOutputBufferSize];
    std::setvbuf(stdout, output_buffer, _IOFBF, kOutputBufferSize);
    CLI::App app{"Statistics, exports, checks, links, plans, comparisons and the frontier of a\n"
                 "crawler's visited-URL database. Reads the database and changes nothing.",
                 "crawldb"};
    // -h names the state directory, as it does for crawlpeek.
    app.set_help_flag("--help", "Print this help and exit");
    app.set_version_flag("--version", kVersion);
    app.require_subcommand(1);
    Common common;
    const std::vector<Command> commands = {
        define_stats(&app, &common), define_export(&app, &common), define_check(&app, &common),
        define_links(&app, &common), define_plan(&app, &common),   define_diff(&app, &common),
        define_pool(&app, &common)};
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
    const Command *chosen = nullptr;
    for (const Command &command : commands) {
        if (command.app->parsed()) chosen = &command;
    }
    if (chosen == nullptr || !chosen->prepare()) return kTrouble;

    return read_in_child(chosen->run);
}
