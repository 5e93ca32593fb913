// crawldb's read-only view of a robot state directory's visited-URL database.
//
// Nothing in the directory changes: the files are opened read-only, no file
// or directory is made, and Berkeley DB's environment is the crawler's own
// when one is there (a live crawl is read through its cache), else a
// private one in memory. The files a command walks are verified first,
// unless a crawler is writing them.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_CRAWL_DB_H_
#define CRAWLPEEK_TOOL_CRAWLDB_CRAWL_DB_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tool/record_check.h"

// The database's files, as bits of a set.
inline constexpr unsigned kRecordFileBit = 1;  // url-visited.db
inline constexpr unsigned kIdFileBit = 2;      // vid.db

class CrawlDb {
  public:
    enum class Opened {
        kOpen,     // vdb_url and vdb_id are open read-only, g_vurl_meta loaded
        kDamaged,  // a verified file is damaged (see damaged()); nothing is open
        kTrouble,  // reported on standard error; nothing is open
    };
    enum class Verify {
        kFirst,      // verify before anything is read
        kAlongside,  // verify on another processor while the caller reads
    };

    CrawlDb() = default;
    CrawlDb(const CrawlDb &) = delete;
    CrawlDb &operator=(const CrawlDb &) = delete;
    // Closes what is open and stops a verifier still running.
    ~CrawlDb();

    // Opens the database of the robot state directory home, verifying the
    // files in files_to_verify as verify says. A crawler writing the
    // database is noted on standard error, and the files are then read as
    // they stand.
    //
    // Verified alongside, the files may be damaged while they are read:
    // call confirm() before trusting what was read. A verifier that finds
    // damage first ends this process at once with status 2 and a line on
    // standard error, so that a reader going round a damaged page stops.
    // This process must be one that may end so (a reader's child).
    Opened open(const std::string &home, unsigned files_to_verify, Verify verify);

    // Waits for the verifiers open started alongside: kOpen when the files
    // are sound or being written, kDamaged when one is damaged (reported on
    // standard error), kTrouble when one could not be verified (reported).
    Opened confirm();

    // The damaged files' names, when open gave kDamaged.
    const std::vector<std::string> &damaged() const { return damaged_; }
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
    // Folds a finished check of path into the state; false when it could
    // not be verified (reported).
    bool note_check(const std::string &path, RecordFileState state);
    void note_writer();

    std::vector<std::pair<std::string, std::unique_ptr<FileCheck>>> checks_;
    std::vector<std::string> damaged_;
    bool being_written_ = false;
    bool writer_noted_ = false;
    bool opened_ = false;
};

// Prints "crawldb: " and the text formed as printf would, and a newline, on
// standard error.
void crawldb_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif  // CRAWLPEEK_TOOL_CRAWLDB_CRAWL_DB_H_
