#include "tool/crawldb/crawl_db.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "robot/id_indirect.h"
#include "robot/robot_db_env.h"
#include "robot/vurl_db.h"
#include "robot/vurl_meta.h"
#include "tool/hook_settings.h"

namespace {

// Whether path names a readable file of the kind wanted; when not, one line
// on standard error says why.
bool is_readable(const std::string &path, bool directory) {
    struct stat st;
    int error = 0;
    if (stat(path.c_str(), &st) != 0) {
        error = errno;
    } else if (directory != S_ISDIR(st.st_mode)) {
        error = directory ? ENOTDIR : EISDIR;
    } else if (access(path.c_str(), directory ? R_OK | X_OK : R_OK) != 0) {
        error = errno;
    }
    if (error == 0) return true;
    crawldb_error("%s: %s", path.c_str(), std::strerror(error));
    return false;
}

// The signal a verifier running alongside the reader sends when it finds
// damage, and the line the reader then ends with.
constexpr int kDamageSignal = SIGUSR1;
char damage_line[PATH_MAX + 128];
size_t damage_line_length = 0;

void stop_on_damage(int) {
    ssize_t written = write(STDERR_FILENO, damage_line, damage_line_length);
    (void)written;
    _exit(2);
}

// Makes kDamageSignal end this process with a line naming files.
void arm_damage_stop(const std::string &files) {
    const int length = std::snprintf(damage_line, sizeof damage_line,
                                     "crawldb: %s does not pass verification: it is damaged "
                                     "(see crawldb check)\n",
                                     files.c_str());
    damage_line_length = std::min(static_cast<size_t>(std::max(length, 0)), sizeof damage_line - 1);
    struct sigaction action = {};
    action.sa_handler = stop_on_damage;
    sigemptyset(&action.sa_mask);
    sigaction(kDamageSignal, &action, nullptr);
}

}  // namespace

void crawldb_error(const char *format, ...) {
    std::fputs("crawldb: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

CrawlDb::~CrawlDb() {
    checks_.clear();
    if (!opened_) return;
    visited_url_shutdown(0);
    robot_db_shutdown();
}

bool CrawlDb::note_check(const std::string &path, RecordFileState state) {
    switch (state) {
        case RecordFileState::kSound:
            break;
        case RecordFileState::kBeingWritten:
            being_written_ = true;
            break;
        case RecordFileState::kDamaged:
            damaged_.push_back(path);
            break;
        case RecordFileState::kUnchecked:
            crawldb_error("%s could not be verified", path.c_str());
            return false;
    }
    return true;
}

void CrawlDb::note_writer() {
    if (!being_written_ || writer_noted_) return;
    writer_noted_ = true;
    crawldb_error("a crawler is writing url-visited.db; records it changes meanwhile may "
                  "be read as they were, or not at all");
}

CrawlDb::Opened CrawlDb::open(const std::string &home, unsigned files_to_verify, Verify verify) {
    if (!is_readable(home, true)) return Opened::kTrouble;
    tool_set_state_path(home.c_str());
    const std::string records = visited_url_record_path();
    if (records.empty()) {
        crawldb_error("the working directory cannot be read");
        return Opened::kTrouble;
    }
    const std::string ids = records.substr(0, records.rfind('/') + 1) + "vid.db";
    if (!is_readable(records, false) || !is_readable(ids, false)) return Opened::kTrouble;

    std::string verified;
    for (const auto &[bit, path] : {std::pair{kRecordFileBit, records}, std::pair{kIdFileBit, ids}}) {
        if ((files_to_verify & bit) == 0) continue;
        if (verify == Verify::kFirst) {
            if (!note_check(path, check_database_file(path, records, verify_record_file_quietly)))
                return Opened::kTrouble;
            continue;
        }
        verified += (verified.empty() ? "" : " or ") + path;
        // Armed before the verifier starts, which may signal at once.
        arm_damage_stop(verified);
        checks_.emplace_back(path, std::make_unique<FileCheck>(path, records, kDamageSignal));
    }
    if (!damaged_.empty()) return Opened::kDamaged;
    if (visited_url_is_being_written() != 0) being_written_ = true;
    note_writer();

    opened_ = true;
    DB_ENV *env = robot_db_open_env_read_only(get_robot_db_path());
    if (env == nullptr) {
        crawldb_error("%s: no database environment: %s", home.c_str(), db_strerror(errno));
        return Opened::kTrouble;
    }
    // Berkeley DB's own complaints are crawldb's lines too.
    env->set_errcall(env, [](const DB_ENV *, const char *, const char *message) {
        crawldb_error("%s", message);
    });
    sys_set_db_env(env);
    if (visited_url_open_read_only() == 0) {
        // Damage is the likeliest reason; the verifier says whether it is.
        if (confirm() == Opened::kOpen) {
            crawldb_error("%s cannot be read as a visited-URL database", home.c_str());
        }
        return Opened::kTrouble;
    }
    return Opened::kOpen;
}

CrawlDb::Opened CrawlDb::confirm() {
    bool verified = true;
    for (auto &[path, check] : checks_) verified = note_check(path, check->finish()) && verified;
    checks_.clear();
    note_writer();
    if (!verified) return Opened::kTrouble;
    for (const std::string &file : damaged_) {
        crawldb_error("%s does not pass verification: it is damaged (see crawldb check)",
                      file.c_str());
    }
    return damaged_.empty() ? Opened::kOpen : Opened::kDamaged;
}

uint32_t CrawlDb::last_id() const {
    if (g_vurl_meta.version <= 0 || g_vurl_meta.next_id <= 1) return 0;
    return static_cast<uint32_t>(g_vurl_meta.next_id - 1);
}

size_t CrawlDb::record_count_hint() const {
    // A stored record takes more than 16 bytes of the file with its key.
    constexpr off_t kSmallestRecord = 16;
    struct stat st;
    if (vdb_url == nullptr || stat(vdb_url->name.c_str(), &st) != 0) return 0;
    return std::min<size_t>(last_id(), static_cast<size_t>(st.st_size / kSmallestRecord));
}
