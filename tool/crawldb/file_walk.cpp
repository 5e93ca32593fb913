#include "tool/crawldb/file_walk.h"

#include <cerrno>
#include <utility>

#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/record_walk.h"
#include "robot/vurl_meta.h"
#include "tool/crawldb/errors.h"
#include "tool/crawldb/progress.h"

StorageObjectPtr open_file_read_only(const std::string &path, bool from_pages) {
    StorageObjectPtr file(create_storage_object(path.c_str()));
    if (sto_open(file.get(), DB_RDONLY) == nullptr) {
        crawldb_error("%s cannot be opened: %s", path.c_str(), db_strerror(errno));
        return nullptr;
    }
    std::string why;
    if (!from_pages || sto_read_pages(file.get(), &why) != 0) return file;
    crawldb_error("%s cannot be read: %s", path.c_str(), why.c_str());
    return nullptr;
}

namespace {

std::function<void(const char *what)> g_walk_start_hook;

}  // namespace

void set_walk_start_hook(std::function<void(const char *what)> hook) {
    g_walk_start_hook = std::move(hook);
}

bool walk_file(storage_object *file, const char *what, uint64_t total,
               const std::function<bool(std::string_view key, std::string_view value)> &visit) {
    if (g_walk_start_hook) g_walk_start_hook(what);
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

bool scan_prefix(storage_object *file, std::string_view prefix,
                 const std::function<void(std::string_view key, std::string_view value)> &visit) {
    RecordWalk walk(file, prefix);
    std::string_view key;
    std::string_view value;
    while (walk.next(&key, &value) && key.starts_with(prefix)) visit(key, value);
    if (walk.error() == 0) return true;
    crawldb_error("reading %s: %s", file->name.c_str(), db_strerror(walk.error()));
    return false;
}

std::optional<uint32_t> vid_value_of(std::string_view url) {
    const std::string text(url);
    DBT key = borrowed_dbt(text.c_str(), text.size() + 1);
    MallocDbt value;
    if (sto_read(vdb_id, &key, value.get()) != 0 ||
        value.size() != 4) {
        return std::nullopt;
    }
    return decode_fixed32(static_cast<const uint8_t *>(value.data()));
}

uint32_t record_key_id(std::string_view key) {
    if (key.size() != 4) return 0;
    const uint32_t id = decode_fixed32(reinterpret_cast<const uint8_t *>(key.data()));
    return vurl_names_stored_record(id) ? id : 0;
}

std::optional<std::string_view> vid_key_url(std::string_view key) {
    const DBT key_dbt = borrowed_dbt(key.data(), key.size());
    if (key.empty() || key.find('\0') != key.size() - 1 || vurl_is_meta_key(&key_dbt)) {
        return std::nullopt;
    }
    return key.substr(0, key.size() - 1);
}
