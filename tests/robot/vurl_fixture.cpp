#include "robot/vurl_fixture.h"

#include "robot/coding.h"
#include "robot/dbt.h"
#include "robot/id_indirect.h"
#include "robot/vurl_db.h"
#include "robot/vurl_ops.h"

Table make_links(const std::vector<std::string> &urls) {
    velhashtable *table = nullptr;
    velhashtable_create(kVurlLinkBuckets, &table);
    for (const std::string &url : urls) velhashtable_insert(table, url.c_str(), url.c_str());
    return Table(table);
}

std::vector<std::string> table_entries(velhashtable *table) {
    std::vector<std::string> entries;
    if (table == nullptr) return entries;
    for (void *item = velhashtable_iterate(table, nullptr, nullptr); item != nullptr;
         item = velhashtable_iterate(table, item, item)) {
        entries.emplace_back(static_cast<const char *>(item));
    }
    return entries;
}

void VurlDbTest::SetUp() {
    RobotHomeTest::SetUp();
    ASSERT_EQ(visited_url_init(1), 1);
    g_timestamp = kCrawl;
}

std::string VurlDbTest::stored(const std::string &url) {
    DBT key = string_key(url.c_str());
    MallocDbt value;
    if (vdb_url->get(vdb_url, &key, value.get()) == 0) return std::string();
    return std::string(static_cast<const char *>(value.data()), value.size());
}

uint32_t VurlDbTest::id_of(const std::string &url) {
    DBT key = string_key(url.c_str());
    MallocDbt value;
    if (vdb_id->get(vdb_id, &key, value.get()) == 0 || value.size() != 4) return 0;
    return decode_fixed32(static_cast<const uint8_t *>(value.data()));
}

Record VurlDbTest::record(const std::string &url) {
    const std::string bytes = stored(url);
    if (bytes.empty()) return nullptr;
    DBT dbt = borrowed_dbt(bytes.data(), bytes.size());
    return Record(DBT2visited_url_obj(&dbt));
}

void VurlDbTest::add_page(const std::string &url, const std::vector<std::string> &links,
                          const char *md5) {
    // 4 for a page another page linked to already.
    visited_url_get_status(url.c_str(), nullptr, 1, 3);
    Table table = make_links(links);
    const uint32_t visited = kCrawl + 1;
    ASSERT_EQ(visited_url_update_data(url.c_str(), 200, 0, &visited, nullptr, nullptr, table.get(),
                                      md5, "pages"),
              1);
}
