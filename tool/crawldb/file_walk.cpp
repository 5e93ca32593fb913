#include "tool/crawldb/file_walk.h"

#include <cerrno>

#include "robot/coding.h"
#include "robot/record_walk.h"
#include "robot/vurl_meta.h"
#include "tool/crawldb/errors.h"
#include "tool/crawldb/progress.h"

StorageObjectPtr open_file_read_only(const std::string &path) {
    StorageObjectPtr file(create_storage_object(path.c_str()));
    if (sto_open(file.get(), DB_RDONLY) != nullptr) return file;
    crawldb_error("%s cannot be opened: %s", path.c_str(), db_strerror(errno));
    return nullptr;
}

bool walk_file(storage_object *file, const char *what, uint64_t total,
               const std::function<bool(std::string_view key, std::string_view value)> &visit) {
    Progress progress(what, total);
    RecordWalk walk(file);
    std::string_view key;
    std::string_view value;
    while (walk.next(&key, &value)) {
        progress.step();
        if (!visit(key, value)) return true;
    }
    if (walk.error() == 0) return true;
    crawldb_error("reading %s stopped: %s", file != nullptr ? file->name.c_str() : "a file",
                  db_strerror(walk.error()));
    return false;
}

uint32_t record_key_id(std::string_view key) {
    if (key.size() != 4) return 0;
    const uint32_t id = decode_fixed32(reinterpret_cast<const uint8_t *>(key.data()));
    return vurl_is_record_id(id) ? id : 0;
}
