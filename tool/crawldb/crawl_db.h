// crawldb's read-only view of a robot state directory's visited-URL database.
//
// Nothing in the directory changes: the files are opened read-only, no file
// or directory is made, and Berkeley DB's environment is the crawler's own
// when one is there (a live crawl is read through its cache), else a
// private one in memory. The files a command walks are verified first,
// unless a crawler is writing them.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_CRAWL_DB_H_
#define CRAWLPEEK_TOOL_CRAWLDB_CRAWL_DB_H_

#include <string>
#include <vector>

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

    CrawlDb() = default;
    CrawlDb(const CrawlDb &) = delete;
    CrawlDb &operator=(const CrawlDb &) = delete;
    // Closes what is open.
    ~CrawlDb();

    // Opens the database of the robot state directory home, after verifying
    // the files in files_to_verify. A crawler writing the database is noted
    // on standard error, and the files are then read as they stand.
    Opened open(const std::string &home, unsigned files_to_verify);

    // The damaged files' names, when open gave kDamaged.
    const std::vector<std::string> &damaged() const { return damaged_; }
    // Whether a crawler was writing the database while it was checked.
    bool being_written() const { return being_written_; }
    // The highest id a record may have by the metadata; 0 when unknown.
    uint32_t last_id() const;

  private:
    std::vector<std::string> damaged_;
    bool being_written_ = false;
    bool opened_ = false;
};

// Prints "crawldb: " and the text formed as printf would, and a newline, on
// standard error.
void crawldb_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif  // CRAWLPEEK_TOOL_CRAWLDB_CRAWL_DB_H_
