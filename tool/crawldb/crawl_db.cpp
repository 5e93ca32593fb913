#include "tool/crawldb/crawl_db.h"

#include <db.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "robot/id_indirect.h"
#include "robot/robot_db_env.h"
#include "robot/vurl_db.h"
#include "robot/vurl_meta.h"
#include "tool/hooks/hook_settings.h"
#include "tool/reading/pages_passed_over.h"

DB_ENV *crawldb_open_env(const std::string &home) {
    DB_ENV *env = robot_db_open_env_read_only(
        home.c_str(),
        [](const DB_ENV *, const char *, const char *message) { crawldb_error("%s", message); });
    if (env == nullptr) {
        crawldb_error("%s: no database environment: %s", home.c_str(), db_strerror(errno));
    }
    return env;
}

CrawlDb::~CrawlDb() {
    if (!opened_) return;
    report_pages_passed_over("crawldb", vdb_url);
    report_pages_passed_over("crawldb", vdb_id);
    visited_url_shutdown(0);
    robot_db_shutdown();
}

void CrawlDb::note_writer() {
    if (!being_written_ || writer_noted_) return;
    writer_noted_ = true;
    crawldb_error("a crawler is writing url-visited.db; records it changes meanwhile may "
                  "be read as they were, or not at all");
}

CrawlDb::Opened CrawlDb::open(const std::string &home, unsigned files_to_verify,
                              Verification::When when) {
    if (!crawldb_readable(home, true)) return Opened::kTrouble;
    tool_set_state_path(home.c_str());
    const std::string records = visited_url_record_path();
    if (records.empty()) {
        crawldb_error("the working directory cannot be read");
        return Opened::kTrouble;
    }
    const std::string ids = records.substr(0, records.rfind('/') + 1) + "vid.db";
    if (!crawldb_readable(records, false) || !crawldb_readable(ids, false)) {
        return Opened::kTrouble;
    }
    // Every reader reads vid.db's metadata at least: a reading that failed is
    // read again with both files verified.
    if (Verification::first_always()) files_to_verify = kRecordFileBit | kIdFileBit;
    for (const auto &[bit, path] : {std::pair{kRecordFileBit, records}, std::pair{kIdFileBit, ids}}) {
        if ((files_to_verify & bit) != 0 && !verification_.add(path, records, when)) {
            return Opened::kTrouble;
        }
    }
    if (!verification_.damaged().empty()) return Opened::kDamaged;
    being_written_ = verification_.being_written() || visited_url_is_being_written() != 0;
    note_writer();

    opened_ = true;
    DB_ENV *env = crawldb_open_env(get_robot_db_path());
    if (env == nullptr) return Opened::kTrouble;
    sys_set_db_env(env);
    if (visited_url_open_read_only() == 0) {
        crawldb_error("%s cannot be read as a visited-URL database", home.c_str());
        return Opened::kTrouble;
    }
    return Opened::kOpen;
}

CrawlDb::Opened CrawlDb::confirm(bool report_damage) {
    const Verification::Outcome outcome = verification_.finish(report_damage);
    being_written_ = being_written_ || verification_.being_written();
    note_writer();
    switch (outcome) {
        case Verification::Outcome::kSound:
            return Opened::kOpen;
        case Verification::Outcome::kDamaged:
            return Opened::kDamaged;
        case Verification::Outcome::kUnchecked:
            break;
    }
    return Opened::kTrouble;
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
