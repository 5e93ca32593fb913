// crawldb's read-only view of a robot state directory's visited-URL database.
//
// Nothing in the directory changes: the files are opened read-only, no file
// or directory is made, and Berkeley DB's environment is the crawler's own
// while a crawler writes (a live crawl is read through its cache), else a
// private one in memory.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_CRAWL_DB_H_
#define CRAWLPEEK_TOOL_CRAWLDB_CRAWL_DB_H_

#include <db.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tool/crawldb/errors.h"
#include "tool/crawldb/verification.h"

// The database's files, as bits of a set.
inline constexpr unsigned kRecordFileBit = 1;  // url-visited.db
inline constexpr unsigned kIdFileBit = 2;      // vid.db

class CrawlDb {
  public:
    enum class Opened {
        kOpen,     // vdb_url and vdb_id are open read-only, g_vurl_meta loaded
        kDamaged,  // a file verified first is damaged (see damaged()); nothing is open
        kTrouble,  // reported on standard error; nothing is open
    };

    CrawlDb() = default;
    CrawlDb(const CrawlDb &) = delete;
    CrawlDb &operator=(const CrawlDb &) = delete;
    // Closes what is open and stops a verifier still running.
    ~CrawlDb();

    // Opens the database of the robot state directory home, verifying the
    // files in files_to_verify as when says (see Verification::add; once
    // everything is verified first, both files are). A
    // crawler writing the database is noted on standard error, and the
    // files are then read as they stand. Only one database is open at a
    // time in a process.
    Opened open(const std::string &home, unsigned files_to_verify, Verification::When when);

    // Waits for the files verified alongside: kOpen when they are sound or
    // being written; kDamaged when one is damaged (reported on standard
    // error when report_damage is set); kTrouble when one could not be
    // verified (reported).
    Opened confirm(bool report_damage = true);

    // The status to end with after a read of the files failed (see
    // Verification::read_failure_status).
    int read_failure_status() const { return verification_.read_failure_status(); }

    // The damaged files' names, when open gave kDamaged.
    const std::vector<std::string> &damaged() const { return verification_.damaged(); }
    // Whether a crawler was writing the database while it was checked. The
    // stored metadata then lags what the crawler holds in memory.
    bool being_written() const { return being_written_; }
    // The highest id a record may have by the metadata; 0 when unknown.
    uint32_t last_id() const;
    // How many records url-visited.db may hold, for sizing arrays by record
    // in advance: last_id(), but no more than the file's size allows, so
    // that damaged metadata cannot ask for gigabytes.
    size_t record_count_hint() const;

  private:
    void note_writer();

    Verification verification_;
    bool being_written_ = false;
    bool writer_noted_ = false;
    bool opened_ = false;
};

// A read-only environment for the database home home (see
// robot_db_open_env_read_only), with Berkeley DB's complaints written as
// crawldb's lines; null (reported) when none opens. The caller closes it.
DB_ENV *crawldb_open_env(const std::string &home);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_CRAWL_DB_H_
