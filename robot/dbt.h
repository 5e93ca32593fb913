// Helpers for Berkeley DB's key/data descriptors.
#ifndef CRAWLPEEK_ROBOT_DBT_H_
#define CRAWLPEEK_ROBOT_DBT_H_

#include <db.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

// A descriptor of bytes the caller keeps; Berkeley DB only reads them.
inline DBT borrowed_dbt(const void *data, size_t size) {
    DBT dbt{};
    dbt.data = const_cast<void *>(data);
    dbt.size = static_cast<uint32_t>(size);
    return dbt;
}

// A NUL-terminated string as a key: its size counts the NUL.
inline DBT string_key(const char *text) {
    return borrowed_dbt(text, std::char_traits<char>::length(text) + 1);
}

// The bytes a descriptor holds.
inline std::string_view dbt_bytes(const DBT *dbt) {
    return std::string_view(static_cast<const char *>(dbt->data), dbt->size);
}

// A descriptor that asks Berkeley DB for memory of the reader's own, and
// frees it when it goes.
class MallocDbt {
  public:
    MallocDbt() { dbt_.flags = DB_DBT_MALLOC; }
    ~MallocDbt() { std::free(dbt_.data); }
    MallocDbt(const MallocDbt &) = delete;
    MallocDbt &operator=(const MallocDbt &) = delete;

    DBT *get() { return &dbt_; }
    const void *data() const { return dbt_.data; }
    uint32_t size() const { return dbt_.size; }

  private:
    DBT dbt_{};
};

// The key as text for a message: its bytes up to the first NUL, never past
// its size, so keys that are not strings cannot be over-read.
inline std::string key_text(const DBT *key) {
    if (key == nullptr || key->data == nullptr) return std::string();
    std::string_view bytes(static_cast<const char *>(key->data), key->size);
    return std::string(bytes.substr(0, bytes.find('\0')));
}

#endif  // CRAWLPEEK_ROBOT_DBT_H_
