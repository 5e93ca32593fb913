#include "support/sample_db.h"

#include <db.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "robot/dbt.h"
#include "robot/storage_object.h"

namespace {

}  // namespace

std::string write_db_file(const std::string &path, const std::map<std::string, std::string> &entries) {
    std::remove(path.c_str());
    storage_object *obj = create_storage_object(path.c_str());
    std::string failed = obj->open(obj, DB_CREATE) == nullptr ? path + ": cannot be created" : "";
    for (const auto &[k, v] : entries) {
        DBT key = borrowed_dbt(k.data(), k.size()), value = borrowed_dbt(v.data(), v.size());
        if (failed.empty() && obj->put(obj, &key, &value) != 1) failed = path + ": a put failed";
    }
    if (failed.empty() && obj->close(obj) != 1) failed = path + ": cannot be closed";
    destroy_storage_object(obj, 0);
    return failed;
}

std::optional<std::string> read_stored(const std::string &path, const std::string &key) {
    DB *db = nullptr;
    if (db_create(&db, nullptr, 0) != 0) return std::nullopt;
    std::optional<std::string> found;
    if (db->open(db, nullptr, path.c_str(), nullptr, DB_BTREE, DB_RDONLY, 0) == 0) {
        DBT k = borrowed_dbt(key.data(), key.size()), value{};
        if (db->get(db, nullptr, &k, &value, 0) == 0) {
            found.emplace(static_cast<const char *>(value.data), value.size);
        }
    }
    db->close(db, 0);
    return found;
}

std::string be32(uint32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(value >> (24 - 8 * i));
    return out;
}

std::string meta_bytes(int32_t version, uint32_t crawl_start, int32_t next_id, uint32_t flags) {
    return be32(static_cast<uint32_t>(version)) + be32(crawl_start) +
           be32(static_cast<uint32_t>(next_id)) + be32(flags);
}

std::string StoredRecord::bytes() const {
    std::string out = be32(last_processed) + be32(last_visited) + be32(last_modified) +
                      be32(rd_expires) + be32(static_cast<uint32_t>(progress_status));
    out += md5_cleared ? std::string("*\0", 2) + std::string(31, 'f') : md5 + '\0';
    out += url + '\0';
    out += referer_id ? '\1' + be32(*referer_id) : std::string(1, '\0');
    if (!link_ids) return out;
    for (uint32_t id : *link_ids) out += be32(id);
    if (link_end_mark) out += be32(0);
    if (!database) return out;
    out += *database + '\0';
    if (!depth_and_status) return out;
    return out + be32(static_cast<uint32_t>(depth_and_status->first)) +
           be32(static_cast<uint32_t>(depth_and_status->second));
}

uint32_t SampleDb::id_of(const std::string &url) {
    const auto [at, added] = given_.emplace(url, next_id_);
    if (added) put_id(url, be32(next_id_++));
    return at->second;
}

std::string SampleDb::write(const std::string &home) const {
    if (mkdir(home.c_str(), 0755) != 0 && errno != EEXIST)
        return home + ": " + std::strerror(errno);
    std::map<std::string, std::string> ids = ids_;
    const std::string meta = meta_.value_or(meta_bytes(2, 0, static_cast<int32_t>(next_id_), 0));
    if (!meta.empty()) ids[std::string("VURL_META_DATA") + '\0'] = meta;
    std::string failed = write_db_file(home + "/url-visited.db", records_);
    return failed.empty() ? write_db_file(home + "/vid.db", ids) : failed;
}
