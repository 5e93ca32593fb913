// crawlsim: crawls a simulated web into a visited-URL database through the
// crawler's own record operations, from several worker threads, so that
// crawlpeek has a realistic database to read. Its frontier is the crawler's
// URL pool in the state directory, so a crawl left unfinished leaves the URLs
// it did not fetch there, and the next one restores them and crawls on.
#include <unistd.h>

#include <atomic>
#include <csignal>

#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "adt/velhashtable.h"
#include "extra/getopt.h"
#include "extra/malloc_ptr.h"
#include "log/log.h"
#include "log/objlog.h"
#include "robot/id_indirect.h"
#include "robot/robot_db_env.h"
#include "robot/url_pool.h"
#include "robot/vurl_db.h"
#include "robot/vurl_id_memory.h"
#include "robot/vurl_marking.h"
#include "robot/vurl_meta.h"
#include "robot/vurl_ops.h"
#include "robot/vurl_record.h"
#include "tool/crawlsim/crawlsim_pool.h"
#include "tool/hooks/hook_settings.h"
#include "tool/crawlsim/sim_web.h"

namespace {

constexpr char kOptionString[] = "n:l:s:t:c:kh:d:u:pr:";
constexpr int32_t kRedirected = 3;  // progress status of a page that moved
constexpr uint32_t kExpiry = 86400;
constexpr int64_t kProgressEvery = 256;
constexpr int kMaxThreads = 64;
constexpr char kRobotLog[] = "logs/crawlsim.log";
constexpr char kModuleLog[] = "logs/crawlsim-module.log";

// Set by SIGINT and SIGTERM: the crawl takes no new page and ends unfinished,
// its frontier left in the pool.
std::atomic<bool> g_stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void request_stop(int) {
    g_stop_requested = true;
}

struct SimSettings {
    int64_t pages = 1000;
    int64_t links = 10;
    uint64_t seed = 1;
    int64_t threads = 4;
    int64_t crawls = 1;
    bool keep_unfinished = false;
    const char *home = nullptr;
    int64_t fetch_ms = 0;             // how long each fetch takes
    const char *urls_file = nullptr;  // where the visited URLs are written
    bool run_passes = false;          // the marking passes after the crawls
    int64_t log_rotate_bytes = 0;     // > 0: every visit is logged
};

[[noreturn]] void usage() {
    std::fputs(
        "Usage: crawlsim [-n pages] [-l links_per_page] [-s seed] [-t threads] [-c crawls] "
        "[-k] [-h robot_dir] [-d fetch_ms] [-u urls_file] [-p] [-r log_rotate_bytes]\n",
        stderr);
    std::exit(1);
}

// The option's argument as a whole decimal number within [low, high].
int64_t number(const char *text, int64_t low, int64_t high) {
    char *end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high) usage();
    return value;
}

SimSettings parse_options(int argc, char *argv[]) {
    SimSettings settings;
    int32_t c;
    while ((c = libvel_getopt(argc, argv, kOptionString)) != -1) {
        switch (c) {
            case 'n':
                settings.pages = number(libvel_optarg, 1, INT32_MAX);
                break;
            case 'l':
                settings.links = number(libvel_optarg, 0, 1000);
                break;
            case 's':
                settings.seed = static_cast<uint64_t>(number(libvel_optarg, 0, INT64_MAX));
                break;
            case 't':
                settings.threads = number(libvel_optarg, 1, kMaxThreads);
                break;
            case 'c':
                settings.crawls = number(libvel_optarg, 1, 1000);
                break;
            case 'k':
                settings.keep_unfinished = true;
                break;
            case 'h':
                settings.home = libvel_optarg;
                break;
            case 'd':
                settings.fetch_ms = number(libvel_optarg, 0, 60000);
                break;
            case 'u':
                settings.urls_file = libvel_optarg;
                break;
            case 'p':
                settings.run_passes = true;
                break;
            case 'r':
                settings.log_rotate_bytes = number(libvel_optarg, 1, INT32_MAX);
                break;
            default:
                usage();
        }
    }
    return settings;
}

// The crawl's frontier. The URLs claimed and not fetched yet wait in the
// registered URL pool; a worker takes the first one, in key order, into the
// pool's backup bank while it works on it. The crawl ends when the budget is
// spent, when a stop is requested, or when the pool is empty and no worker
// can add to it.
class Frontier {
  public:
    Frontier(int64_t budget, bool show_progress, int64_t crawl, int64_t crawls)
        : budget_(budget), show_progress_(show_progress), crawl_(crawl), crawls_(crawls) {}

    // The next URL to fetch, counted against the budget; null when the crawl
    // is over.
    SimUrl take() {
        std::unique_lock<std::mutex> hold(mu_);
        // Taking is one step for the workers: two that found the same first
        // URL would both move it, and fetch it twice. A signal cannot notify
        // the condition, so the wait looks at the stop request now and then.
        while (taken_ < budget_ && !g_stop_requested && !failed_) {
            SimUrl next(url_pool_first_url(nullptr));
            if (next != nullptr) {
                if (url_pool_backup_url(next.get()) == 0) {
                    std::fprintf(stderr, "crawlsim: the URL pool cannot take %s into work\n",
                                 next->url);
                    failed_ = true;
                    break;
                }
                ++busy_;
                if (++taken_ % kProgressEvery == 0 && show_progress_) {
                    std::fprintf(stderr,
                                 "\rcrawlsim: crawl %" PRId64 "/%" PRId64 ", %" PRId64
                                 " pages visited",
                                 crawl_, crawls_, taken_);
                }
                return next;
            }
            if (busy_ == 0) break;
            ready_.wait_for(hold, std::chrono::milliseconds(100));
        }
        ready_.notify_all();
        return nullptr;
    }

    // Ends the work on a taken URL, whose claimed links are in the pool.
    void done() {
        std::lock_guard<std::mutex> hold(mu_);
        --busy_;
        ready_.notify_all();
    }

    int64_t visited() const { return taken_; }
    // Whether the pool refused to take a URL into work.
    bool failed() const { return failed_; }

  private:
    std::mutex mu_;
    std::condition_variable ready_;
    int busy_ = 0;
    int64_t taken_ = 0;
    bool failed_ = false;
    const int64_t budget_;
    const bool show_progress_;
    const int64_t crawl_;
    const int64_t crawls_;
};

struct FreeTable {
    void operator()(velhashtable *table) const { velhashtable_free(table); }
};

// Stores what a fetch of the page found, as the crawler does after a fetch.
void store_fetch(const std::string &url, const SimPage &found, const SimWeb &web) {
    velhashtable *raw = nullptr;
    if (velhashtable_create(kVurlLinkBuckets, &raw) != 0) out_of_memory();
    std::unique_ptr<velhashtable, FreeTable> links(raw);
    for (uint64_t target : found.links) {
        const std::string link = web.url(target);
        velhashtable_insert(links.get(), link.c_str(), link.c_str());
    }
    const uint32_t visited = static_cast<uint32_t>(std::time(nullptr));
    const uint32_t modified = found.age != 0 ? g_timestamp - found.age : 0;
    const uint32_t expires = visited + kExpiry;
    visited_url_update_data(url.c_str(), found.server_status, 0, &visited, &modified, &expires,
                            links.get(), found.md5.empty() ? nullptr : found.md5.c_str(),
                            found.database);
    if (found.server_status == 410) visited_url_clear_md5(url.c_str());
    if (found.server_status == 301) visited_url_update_status(url.c_str(), kRedirected);
}

// Writes the visit to both logs, as a crawler host reports its fetches.
void log_visit(const std::string &url, const SimPage &found) {
    rlog_write(1, 0, "crawlsim", __LINE__, "Fetched %s: status %d, %zu links\n", url.c_str(),
               found.server_status, found.links.size());
    vellog_write(1, 0, "crawlsim", __LINE__, "Stored %s in database %s\n", url.c_str(),
                 found.database);
}

// Fetches the page, claims the links it finds that this crawl has not met
// yet, putting them into the pool, and stores the page, as the crawler does.
void visit(const std::string &url, uint64_t page, int32_t depth, const SimWeb &web,
           const SimSettings &settings) {
    if (settings.fetch_ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(settings.fetch_ms));
    }
    const SimPage found = web.fetch(page);
    if (depth > 0) {
        for (uint64_t target : found.links) {
            const std::string link = web.url(target);
            if (visited_url_get_status(link.c_str(), url.c_str(), 1, depth - 1) !=
                kVurlMetInThisCrawl) {
                SimUrl claimed = make_sim_url(link.c_str(), depth - 1, url.c_str());
                url_pool_put_url_obj(claimed.get());
            }
        }
    }
    store_fetch(url, found, web);
    if (settings.log_rotate_bytes > 0) log_visit(url, found);
}

// One worker: visits the URLs it takes from the pool and, once a page is
// stored, removes its URL from the pool's backup bank.
void work(Frontier &frontier, const SimWeb &web, const SimSettings &settings, std::mutex &seen_mu,
          std::unordered_set<uint64_t> &seen) {
    while (SimUrl next = frontier.take()) {
        uint64_t page = 0;
        // A URL none of this web's (left by a crawl of another web) is dropped.
        if (web.page_of(next->url, &page)) {
            visit(next->url, page, next->num_a, web, settings);
            std::lock_guard<std::mutex> hold(seen_mu);
            seen.insert(page);
        }
        url_pool_done_url_by_key(next->key);
        frontier.done();
    }
}

// Waits until the clock has passed the last crawl's start, so that a new
// crawl's stamp differs from the old one.
void wait_past(uint32_t start) {
    while (std::time(nullptr) <= static_cast<time_t>(start)) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

struct Totals {
    int64_t visited = 0;
    int64_t created = 0;
    double open_seconds = 0;  // in opening the database, over all crawls
    size_t indexed_urls = 0;  // held by the index of ids at the end of the last crawl
    size_t index_bytes = 0;
};

bool cannot_open() {
    std::fprintf(stderr, "crawlsim: cannot open the visited-URL database in %s\n",
                 get_robot_db_path() != nullptr ? get_robot_db_path() : "robot");
    return false;
}

// The end of a crawl's use of the pool: a finished crawl empties it, an
// unfinished one leaves its frontier there. Both banks are closed, their
// files written.
void leave_pool(bool finished) {
    if (finished) url_pool_clean();
    close_all_url_banks();
}

bool run_crawl(const SimSettings &settings, const SimWeb &web, int64_t crawl, Totals *totals,
               std::unordered_set<uint64_t> *seen) {
    const auto opening = std::chrono::steady_clock::now();
    if (visited_url_init(1) == 0) return cannot_open();
    totals->open_seconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - opening).count();
    // As a crawler starts, once it alone writes the state directory: the URLs
    // that were in work when the last crawl stopped wait again with those it
    // left waiting, and the count of the main bank is taken from its file.
    url_pool_restore_db();
    url_pool_refresh_counter();
    const int32_t first_id = g_vurl_meta.next_id;
    const bool tty = isatty(STDERR_FILENO) != 0;
    Frontier frontier(settings.pages, tty, crawl, settings.crawls);
    for (uint64_t page : web.starting_points()) {
        const std::string url = web.url(page);
        if (visited_url_get_status(url.c_str(), nullptr, 1, kSimStartDepth) !=
            kVurlMetInThisCrawl) {
            url_pool_put_url_obj(make_sim_url(url.c_str(), kSimStartDepth, nullptr).get());
        }
    }
    std::mutex seen_mu;
    std::vector<std::thread> workers;
    for (int64_t i = 0; i < settings.threads; ++i) {
        workers.emplace_back(work, std::ref(frontier), std::cref(web), std::cref(settings),
                             std::ref(seen_mu), std::ref(*seen));
    }
    for (std::thread &worker : workers) worker.join();
    if (tty && frontier.visited() >= kProgressEvery) std::fputc('\n', stderr);

    totals->visited += frontier.visited();
    totals->created += g_vurl_meta.next_id - first_id;
    // The passes run in the last crawl, which they finish. A stopped crawl is
    // not finished.
    const bool finished = !g_stop_requested && !frontier.failed() &&
                          !((settings.keep_unfinished || settings.run_passes) &&
                            crawl == settings.crawls);
    leave_pool(finished);
    {
        VisitedDbHold hold;
        vurl_id_memory_usage(&totals->indexed_urls, &totals->index_bytes);
    }
    const uint32_t started = g_timestamp;
    // A finished crawl clears its start in the metadata as it shuts down.
    tool_set_erase_status(finished ? 1 : 0);
    visited_url_shutdown(1);
    tool_set_erase_status(0);
    if (frontier.failed()) return false;
    if (crawl < settings.crawls) wait_past(started);
    return true;
}

// The passes a crawler host runs over the whole database at the end of a
// crawl: the trees of start points the crawl left out are marked, then the
// pages it did not reach are handed back, once for a new visit and, in a
// later open, once for deletion. The crawl is finished after them unless it
// is to be kept unfinished.
bool run_passes(const SimSettings &settings) {
    if (visited_url_init(1) == 0) return cannot_open();
    const auto start = std::chrono::steady_clock::now();
    ProcessDisabledStartPoint();
    const int revisit = visited_url_scan_brokenlinks(0);
    // The crawl stays unfinished, so the next open continues it.
    visited_url_shutdown(1);
    if (visited_url_init(1) == 0) return cannot_open();
    const int removal = visited_url_scan_brokenlinks(1);
    leave_pool(!settings.keep_unfinished);
    tool_set_erase_status(settings.keep_unfinished ? 0 : 1);
    visited_url_shutdown(1);
    tool_set_erase_status(0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf(
        "crawlsim: passes: start points marked, %d pages handed back for a new visit, "
        "%d for deletion, in %.2f s\n",
        revisit, removal, took.count());
    return true;
}

// Writes the URL of every page visited, one a line.
bool write_urls(const char *path, const SimWeb &web, const std::unordered_set<uint64_t> &seen) {
    std::ofstream out(path);
    for (uint64_t page : seen) out << web.url(page) << '\n';
    out.close();
    return static_cast<bool>(out);
}

// Registers the pool for the crawl; closes its banks, keeping their files,
// and forgets it when main returns.
class PoolHold {
  public:
    explicit PoolHold(url_pool *pool) { sys_set_url_pool(pool); }
    ~PoolHold() {
        url_pool *pool = sys_get_url_pool();
        sys_set_url_pool(nullptr);
        destroy_url_pool(pool);
    }
    PoolHold(const PoolHold &) = delete;
    PoolHold &operator=(const PoolHold &) = delete;
};

// Closes the environment when it goes.
struct EnvHold {
    EnvHold() = default;
    ~EnvHold() { robot_db_shutdown(); }
    EnvHold(const EnvHold &) = delete;
    EnvHold &operator=(const EnvHold &) = delete;
};

void report(const SimSettings &settings, const SimWeb &web, const Totals &totals,
            const std::unordered_set<uint64_t> &seen, double seconds) {
    int64_t with_digest = 0, with_modified = 0, with_links = 0, links = 0;
    for (uint64_t page : seen) {
        const SimPage found = web.fetch(page);
        if (found.server_status == 200) ++with_digest;
        if (found.age != 0) ++with_modified;
        if (!found.links.empty()) ++with_links;
        links += static_cast<int64_t>(found.links.size());
    }
    std::printf("crawlsim: %" PRId64 " crawls, %" PRId64 " pages visited, %" PRId64
                " records created in %.2f s (%.0f pages/s)\n",
                settings.crawls, totals.visited, totals.created, seconds,
                seconds > 0 ? static_cast<double>(totals.visited) / seconds : 0.0);
    std::printf("crawlsim: %zu distinct pages visited: %" PRId64 " with digest, %" PRId64
                " with last-modified, %" PRId64 " with links, %" PRId64 " links\n",
                seen.size(), with_digest, with_modified, with_links, links);
    std::printf(
        "crawlsim: the database took %.2f s to open; its index held %zu URLs in %zu bytes\n",
        totals.open_seconds, totals.indexed_urls, totals.index_bytes);
}

}  // namespace

int main(int argc, char *argv[]) {
    const SimSettings settings = parse_options(argc, argv);
    if (settings.home != nullptr) tool_set_state_path(settings.home);
    const uint64_t universe = static_cast<uint64_t>(settings.pages) * 4 + 16;
    const SimWeb web(universe, static_cast<uint32_t>(settings.links),
                     static_cast<uint32_t>(universe / 200 + 1), settings.seed);

    if (settings.log_rotate_bytes > 0) {
        const int32_t rotate = static_cast<int32_t>(settings.log_rotate_bytes);
        robot_log_init(kRobotLog, 1, rotate);
        vellog_set_rotate_size(rotate);
        vellog_init(1, kModuleLog);
    }
    std::signal(SIGINT, request_stop);
    std::signal(SIGTERM, request_stop);

    robot_db_init();
    // The environment is the process's own memory: closed on every way out,
    // after the pool and the database have closed their files.
    EnvHold env;
    // Made after the environment, in the state directory.
    PoolHold pool(create_url_pool(get_robot_db_path()));
    if (sys_get_url_pool() == nullptr) {
        std::fprintf(stderr, "crawlsim: cannot make the URL pool\n");
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    Totals totals;
    std::unordered_set<uint64_t> seen;
    for (int64_t crawl = 1; crawl <= settings.crawls && !g_stop_requested; ++crawl) {
        if (!run_crawl(settings, web, crawl, &totals, &seen)) return 1;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    report(settings, web, totals, seen, elapsed.count());
    // A stopped crawl is left as it is, its frontier in the pool.
    if (settings.run_passes && !g_stop_requested && !run_passes(settings)) return 1;
    if (settings.urls_file != nullptr && !write_urls(settings.urls_file, web, seen)) {
        std::fprintf(stderr, "crawlsim: cannot write %s\n", settings.urls_file);
        return 1;
    }
    return 0;
}
