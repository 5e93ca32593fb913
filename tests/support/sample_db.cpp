#include "support/sample_db.h"

#include <db.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "robot/storage_object.h"

namespace {

std::string cstring(const std::string &text) {
    return text + '\0';
}

// The URL as a vid.db key: its bytes and a NUL.
std::string url_key(const std::string &url) {
    return cstring(url);
}

std::string meta_bytes(int32_t version, uint32_t crawl_start, int32_t next_id, uint32_t flags) {
    return be32(static_cast<uint32_t>(version)) + be32(crawl_start) +
           be32(static_cast<uint32_t>(next_id)) + be32(flags);
}

struct DestroyObject {
    void operator()(storage_object *obj) const { destroy_storage_object(obj, 0); }
};

DBT dbt_of(const std::string &bytes) {
    DBT dbt{};
    dbt.data = const_cast<char *>(bytes.data());
    dbt.size = static_cast<uint32_t>(bytes.size());
    return dbt;
}

// Stores the entries through a storage object's slots, as the crawler would.
std::string write_file(const std::string &path, const std::map<std::string, std::string> &entries) {
    std::remove(path.c_str());
    std::unique_ptr<storage_object, DestroyObject> obj(create_storage_object(path.c_str()));
    if (obj->open(obj.get(), DB_CREATE) == nullptr) return path + ": cannot be created";
    for (const auto &[key_bytes, value_bytes] : entries) {
        DBT key = dbt_of(key_bytes), value = dbt_of(value_bytes);
        if (obj->put(obj.get(), &key, &value) != 1) return path + ": a put failed";
    }
    if (obj->close(obj.get()) != 1) return path + ": cannot be closed";
    return std::string();
}

}  // namespace

std::optional<std::string> read_stored(const std::string &path, const std::string &key) {
    DB *db = nullptr;
    if (db_create(&db, nullptr, 0) != 0) return std::nullopt;
    std::optional<std::string> found;
    if (db->open(db, nullptr, path.c_str(), nullptr, DB_BTREE, DB_RDONLY, 0) == 0) {
        DBT k = dbt_of(key), value{};
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

StoredRecord StoredRecord::full(const std::string &url) {
    StoredRecord record;
    record.url = url;
    record.link_ids = std::vector<uint32_t>();
    record.database = std::string();
    record.depth_and_status = std::make_pair(0, 0);
    return record;
}

std::string StoredRecord::bytes() const {
    std::string out = be32(last_processed) + be32(last_visited) + be32(last_modified) +
                      be32(rd_expires) + be32(static_cast<uint32_t>(progress_status));
    if (md5_cleared) {
        out += std::string("*\0", 2) + std::string(31, 'f');
    } else if (md5.empty()) {
        out += '\0';
    } else {
        out += cstring(md5);
    }
    out += cstring(url);
    out += referer_id ? '\1' + be32(*referer_id) : std::string(1, '\0');
    if (!link_ids) return out;
    for (uint32_t id : *link_ids) out += be32(id);
    if (link_end_mark) out += be32(0);
    if (!database) return out;
    out += cstring(*database);
    if (!depth_and_status) return out;
    out += be32(static_cast<uint32_t>(depth_and_status->first));
    out += be32(static_cast<uint32_t>(depth_and_status->second));
    return out;
}

uint32_t SampleDb::id_of(const std::string &url) {
    auto found = given_.find(url);
    if (found != given_.end()) return found->second;
    uint32_t id = next_id_++;
    given_[url] = id;
    ids_[url_key(url)] = be32(id);
    return id;
}

uint32_t SampleDb::add(const StoredRecord &record) {
    uint32_t id = id_of(record.url);
    put_record(id, record.bytes());
    return id;
}

void SampleDb::put_record(uint32_t id, const std::string &value) {
    records_[be32(id)] = value;
}

void SampleDb::put_record_key(const std::string &key, const std::string &value) {
    records_[key] = value;
}

void SampleDb::put_id(const std::string &url, const std::string &value) {
    ids_[url_key(url)] = value;
}

void SampleDb::set_meta(int32_t version, uint32_t crawl_start, int32_t next_id, uint32_t flags) {
    set_meta_bytes(meta_bytes(version, crawl_start, next_id, flags));
}

void SampleDb::set_meta_bytes(const std::string &bytes) {
    meta_ = bytes;
    meta_dropped_ = false;
}

void SampleDb::drop_meta() {
    meta_.reset();
    meta_dropped_ = true;
}

std::string SampleDb::write(const std::string &home) const {
    if (mkdir(home.c_str(), 0755) != 0 && errno != EEXIST) {
        return home + ": " + std::strerror(errno);
    }
    std::map<std::string, std::string> ids = ids_;
    if (!meta_dropped_) {
        ids[cstring("VURL_META_DATA")] =
            meta_ ? *meta_ : meta_bytes(2, 0, static_cast<int32_t>(next_id_), 0);
    }
    std::string failed = write_file(home + "/url-visited.db", records_);
    if (failed.empty()) failed = write_file(home + "/vid.db", ids);
    return failed;
}
