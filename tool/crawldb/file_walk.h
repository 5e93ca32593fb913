// A whole walk of one file for a crawldb command, with progress shown.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_FILE_WALK_H_
#define CRAWLPEEK_TOOL_CRAWLDB_FILE_WALK_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "robot/storage_object.h"

// Closes and releases a storage object.
struct DestroyStorageObject {
    void operator()(storage_object *obj) const { destroy_storage_object(obj, 0); }
};
using StorageObjectPtr = std::unique_ptr<storage_object, DestroyStorageObject>;

// The Berkeley DB file at path opened read-only in the environment in use,
// and read from its pages as they lie on disk when from_pages is set (a
// crawler writes it); null, reported on standard error, when it cannot be.
StorageObjectPtr open_file_read_only(const std::string &path, bool from_pages);

// Calls visit(key, value) for every record of file in key order, showing
// progress as what of total records (0: unknown); visit returns false to
// end the walk early. False when a read error ended it (reported).
bool walk_file(storage_object *file, const char *what, uint64_t total,
               const std::function<bool(std::string_view key, std::string_view value)> &visit);

// For tests: called with what before each walk_file starts, so that a test
// can store records between two walks as a live crawler does. Null, the
// default, calls nothing.
void set_walk_start_hook(std::function<void(const char *what)> hook);

// Calls visit(key, value) for every record of file whose key starts with
// prefix, in key order, from one range search; the bytes stay valid until
// the next call. False when a read failed (reported).
bool scan_prefix(storage_object *file, std::string_view prefix,
                 const std::function<void(std::string_view key, std::string_view value)> &visit);

// The 4-byte value vid.db (vdb_id) holds for url, as a number; none when
// url has no entry there, its entry is of another size, or the read fails.
std::optional<uint32_t> vid_value_of(std::string_view url);

// The URL a vid.db key maps: the key without its zero byte. None for the
// metadata's key and for a key that is not a URL and exactly one zero byte
// at its end (none, or bytes after it), which no lookup of a URL finds.
std::optional<std::string_view> vid_key_url(std::string_view key);

// The record id a url-visited.db key names, by the readers' rule
// (vurl_names_stored_record: ids past the library's limit too); 0 when it
// names none.
uint32_t record_key_id(std::string_view key);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_FILE_WALK_H_
