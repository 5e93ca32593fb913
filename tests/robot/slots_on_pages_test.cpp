// The reading slots of a storage object read from the file's pages
// (sto_read_pages) answer as they do through Berkeley DB, whatever the flags
// of the caller's descriptors: the same results, sizes and bytes, and the
// cursor where Berkeley DB leaves it after a read that fails.
#include <cstdlib>
#include <functional>

#include "robot/robot_fixture.h"

namespace {

std::string bytes_of(const DBT &dbt) {
    return dbt.data != nullptr ? std::string(static_cast<const char *>(dbt.data), dbt.size)
                               : "(none)";
}

// What one read gave: the result (read when it is `read`), the object's
// cursor result, sizes, and the bytes of a read that gave some.
std::string outcome(storage_object *obj, int rc, const DBT &key, const DBT &value, int read = 1) {
    return std::to_string(rc) + " cursor " + std::to_string(obj->cursor_result) + " key " +
           std::to_string(key.size) + " value " + std::to_string(value.size) + " " +
           (rc == read ? bytes_of(key) + "=" + bytes_of(value) : "-");
}

DBT user_memory(char *buffer, uint32_t size) {
    DBT dbt{};
    dbt.flags = DB_DBT_USERMEM;
    dbt.data = buffer;
    dbt.ulen = size;
    return dbt;
}

class SlotsOnPagesTest : public RobotTest {
  protected:
    void SetUp() override {
        RobotTest::SetUp();
        storage_object *writer = create_storage_object(file("other.db").c_str());
        ASSERT_NE(sto_open(writer, DB_CREATE), nullptr);
        for (const char *key : {"a", "bbbbbbbbbb", "c", "d"}) {
            ASSERT_EQ(put(writer, key, std::string(key) + "-value"), 1);
        }
        destroy_storage_object(writer, 0);
        for (storage_object *&obj : objs_) {
            obj = create_storage_object(file("other.db").c_str());
            ASSERT_NE(sto_open(obj, DB_RDONLY), nullptr);
        }
        std::string why;
        ASSERT_EQ(sto_read_pages(objs_[1], &why), 1) << why;
    }
    void TearDown() override {
        for (storage_object *obj : objs_) destroy_storage_object(obj, 0);
        RobotTest::TearDown();
    }
    storage_object *objs_[2] = {nullptr, nullptr};  // through Berkeley DB, from pages
};

// Each case: reads on a fresh cursor, then the key a plain next reads.
TEST_F(SlotsOnPagesTest, EveryReadAnswersAsBerkeleyDbAndLeavesTheCursorWhereItDoes) {
    using Reads = std::function<std::string(storage_object *)>;
    const std::pair<const char *, Reads> cases[] = {
        {"value memory too small",
         [](storage_object *obj) {
             char small[2];
             DBT key{}, value = user_memory(small, sizeof small);
             return outcome(obj, obj->next(obj, &key, &value), key, value);
         }},
        {"key memory too small, after a first read",
         [](storage_object *obj) {
             char small[2];
             DBT key{}, value{};
             std::string out = outcome(obj, obj->next(obj, &key, &value), key, value);
             key = user_memory(small, sizeof small);
             return out + "; " + outcome(obj, obj->next(obj, &key, &value), key, value);
         }},
        {"set on a key held, the key's memory the caller's to free",
         [](storage_object *obj) {
             DBT key = string_key("c"), value{};
             key.flags = DB_DBT_MALLOC;
             const void *given = key.data;
             const int rc = obj->set_cursor(obj, &key, &value);
             return outcome(obj, rc, key, value) + (key.data == given ? " key kept" : " key replaced");
         }},
        {"set on a missing key after a search",
         [](storage_object *obj) {
             DBT from = string_key("b"), value{};
             std::string out = outcome(obj, obj->first(obj, &from, &value), from, value);
             DBT missing = string_key("bz");
             return out + "; " + outcome(obj, obj->set_cursor(obj, &missing, &value), missing, value);
         }},
        {"search past the last key after a first read",
         [](storage_object *obj) {
             DBT key{}, value{};
             std::string out = outcome(obj, obj->first(obj, &key, &value), key, value);
             DBT past = string_key("z");
             return out + "; " + outcome(obj, obj->first(obj, &past, &value), past, value);
         }},
        {"parts and memory of every kind, by key",
         [](storage_object *obj) {
             std::string out;
             for (const auto &[flags, doff, dlen] : {std::tuple{DB_DBT_PARTIAL, 3u, 4u},
                                                     {DB_DBT_PARTIAL, 300u, 4u},
                                                     {DB_DBT_PARTIAL | DB_DBT_MALLOC, 300u, 4u},
                                                     {DB_DBT_MALLOC, 0u, 0u},
                                                     {DB_DBT_REALLOC, 0u, 0u}}) {
                 DBT key = string_key("bbbbbbbbbb"), value{};
                 value.flags = flags;
                 value.doff = doff;
                 value.dlen = dlen;
                 if ((flags & DB_DBT_REALLOC) != 0) value.data = std::malloc(1);
                 out += outcome(obj, sto_read(obj, &key, &value), key, value, 0) + "; ";
                 if ((flags & (DB_DBT_MALLOC | DB_DBT_REALLOC)) != 0) std::free(value.data);
             }
             DBT key = string_key("bbbbbbbbbb"), value = user_memory(nullptr, 0);
             return out + outcome(obj, sto_read(obj, &key, &value), key, value, 0);
         }},
    };
    for (const auto &[name, reads] : cases) {
        std::string seen[2];
        for (int i = 0; i < 2; ++i) {
            storage_object *obj = objs_[i];
            sto_close(obj);
            ASSERT_NE(sto_open(obj, DB_RDONLY), nullptr);
            std::string why;
            if (i == 1) {
                ASSERT_EQ(sto_read_pages(obj, &why), 1) << why;
            }
            seen[i] = reads(obj);
            DBT key{}, value{};
            seen[i] += "; then " + outcome(obj, obj->next(obj, &key, &value), key, value);
        }
        EXPECT_EQ(seen[1], seen[0]) << name;
    }
}

}  // namespace
