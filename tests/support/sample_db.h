// Writing visited-URL databases for tests, byte by byte: the stored forms are
// built here from their fields, independently of the record encoder, and put
// into the files through storage objects.
#ifndef CRAWLPEEK_TESTS_SUPPORT_SAMPLE_DB_H_
#define CRAWLPEEK_TESTS_SUPPORT_SAMPLE_DB_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// 4 bytes, most significant first.
std::string be32(uint32_t value);
// The stored metadata: its four words.
std::string meta_bytes(int32_t version, uint32_t crawl_start, int32_t next_id, uint32_t flags);

// The fields of one stored record. bytes() lays them out; the optional parts
// decide which of the stored forms is produced.
struct StoredRecord {
    uint32_t last_processed = 0;
    uint32_t last_visited = 0;
    uint32_t last_modified = 0;
    uint32_t rd_expires = 0;
    int32_t progress_status = 0;
    std::string md5;           // empty: no digest; else its 32 characters
    bool md5_cleared = false;  // a 33-byte area starting "*\0"
    std::string url;
    std::optional<uint32_t> referer_id;
    std::optional<std::vector<uint32_t>> link_ids;  // absent: the value ends after the referer
    bool link_end_mark = true;                      // the four zero bytes after the ids
    std::optional<std::string> database;            // absent: the value ends after the links
    // Absent: the value ends after database.
    std::optional<std::pair<int32_t, int32_t>> depth_and_status;

    // A complete record of the newest form with no links and no database.
    static StoredRecord full(const std::string &url) {
        return {0, 0, 0, 0, 0, "", false, url, {}, std::vector<uint32_t>(), true, "", {{0, 0}}};
    }
    std::string bytes() const;
};

// A database home being filled: ids are handed out on first mention, from 1.
class SampleDb {
  public:
    // The URL's id, given to it now when it has none.
    uint32_t id_of(const std::string &url);
    // The id the next new URL would get.
    uint32_t next_id() const { return next_id_; }
    // Stores record (its url must be set) under the id of its URL.
    uint32_t add(const StoredRecord &record) {
        const uint32_t id = id_of(record.url);
        put_record(id, record.bytes());
        return id;
    }
    // Raw entries, for values and keys no crawler would write.
    void put_record(uint32_t id, const std::string &value) { records_[be32(id)] = value; }
    void put_record_key(const std::string &key, const std::string &value) { records_[key] = value; }
    void put_id(const std::string &url, const std::string &value) { ids_[url + '\0'] = value; }
    void put_id_key(const std::string &key, const std::string &value) { ids_[key] = value; }
    // The metadata; by default version 2, no crawl in progress, next_id past
    // every id handed out. Dropped, or set to no bytes, there is none.
    void set_meta(int32_t version, uint32_t crawl_start, int32_t next_id, uint32_t flags) {
        meta_ = meta_bytes(version, crawl_start, next_id, flags);
    }
    void set_meta_bytes(const std::string &bytes) { meta_ = bytes; }
    void drop_meta() { meta_ = std::string(); }

    // Writes url-visited.db and vid.db into home (made if missing),
    // replacing what is there. Empty on success, else what failed.
    std::string write(const std::string &home) const;

  private:
    std::map<std::string, std::string> records_;  // key bytes -> value
    std::map<std::string, std::string> ids_;      // key bytes -> value
    std::map<std::string, uint32_t> given_;       // URL -> id
    uint32_t next_id_ = 1;
    std::optional<std::string> meta_;  // empty: dropped
};

// Writes a Berkeley DB file at path holding entries (key bytes -> value),
// replacing what is there, through a storage object's slots as the crawler
// would. Empty on success, else what failed.
std::string write_db_file(const std::string &path, const std::map<std::string, std::string> &entries);

// The value stored under key in the database file at path, read with
// Berkeley DB alone; none when the file or the key cannot be read.
std::optional<std::string> read_stored(const std::string &path, const std::string &key);

#endif  // CRAWLPEEK_TESTS_SUPPORT_SAMPLE_DB_H_
