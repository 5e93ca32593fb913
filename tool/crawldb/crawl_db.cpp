#include "tool/crawldb/crawl_db.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "robot/id_indirect.h"
#include "robot/robot_db_env.h"
#include "robot/vurl_db.h"
#include "robot/vurl_meta.h"
#include "tool/hook_settings.h"
#include "tool/record_check.h"

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
    if (!opened_) return;
    visited_url_shutdown(0);
    robot_db_shutdown();
}

CrawlDb::Opened CrawlDb::open(const std::string &home, unsigned files_to_verify) {
    if (!is_readable(home, true)) return Opened::kTrouble;
    tool_set_state_path(home.c_str());
    const std::string records = visited_url_record_path();
    if (records.empty()) {
        crawldb_error("the working directory cannot be read");
        return Opened::kTrouble;
    }
    const std::string ids = records.substr(0, records.rfind('/') + 1) + "vid.db";
    if (!is_readable(records, false) || !is_readable(ids, false)) return Opened::kTrouble;

    for (const auto &[bit, path] : {std::pair{kRecordFileBit, records}, std::pair{kIdFileBit, ids}}) {
        if ((files_to_verify & bit) == 0) continue;
        switch (check_database_file(path, records, verify_record_file_quietly)) {
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
                return Opened::kTrouble;
        }
    }
    if (!damaged_.empty()) return Opened::kDamaged;
    if (!being_written_) being_written_ = visited_url_is_being_written() != 0;
    if (being_written_) {
        crawldb_error("a crawler is writing url-visited.db; records it changes meanwhile may "
                      "be read as they were, or not at all");
    }

    opened_ = true;
    sys_set_db_env(robot_db_open_env_read_only(get_robot_db_path()));
    if (sys_get_db_env() == nullptr) {
        crawldb_error("%s: no database environment: %s", home.c_str(), db_strerror(errno));
        return Opened::kTrouble;
    }
    if (visited_url_open_read_only() == 0) {
        crawldb_error("%s cannot be read as a visited-URL database", home.c_str());
        return Opened::kTrouble;
    }
    return Opened::kOpen;
}

uint32_t CrawlDb::last_id() const {
    if (g_vurl_meta.version <= 0 || g_vurl_meta.next_id <= 1) return 0;
    return static_cast<uint32_t>(g_vurl_meta.next_id - 1);
}
