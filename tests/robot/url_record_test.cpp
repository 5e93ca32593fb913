#include "robot/url_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "robot/dbt.h"
#include "robot/storage_object.h"
#include "robot/url_pool_fixture.h"
#include "support/sample_db.h"

namespace {

std::string encode(const url_obj *obj) {
    DBT *dbt = url_obj2DBT(obj);
    if (dbt == nullptr) return "(none)";
    std::string bytes(static_cast<const char *>(dbt->data), dbt->size);
    destroy_DBT(dbt);
    return bytes;
}

// Decodes an exact-size copy, so that the sanitizer build catches over-reads.
UrlObj decode(const std::string &key, const std::string &value) {
    std::unique_ptr<char[]> copy(new char[value.size() + 1]);
    value.copy(copy.get(), value.size());
    DBT k = borrowed_dbt(key.data(), key.size());
    DBT v = borrowed_dbt(copy.get(), value.size());
    return UrlObj(DBT2url_obj(&k, &v));
}

std::string numbers() {
    return be32(1) + be32(2) + be32(3);
}

TEST(UrlRecord, EncodesTheNumbersThenThreeTexts) {
    UrlObj obj = make_url("a|1", "123456789");
    EXPECT_EQ(encode(obj.get()), numbers() + "123456789" + std::string(3, '\0'));
    UrlObj with_texts = make_url("a|1", "u", "abc", "x");
    EXPECT_EQ(encode(with_texts.get()), numbers() + std::string("u\0abc\0x\0", 8));
    char *url = std::exchange(with_texts->url, nullptr);
    EXPECT_EQ(encode(with_texts.get()), "(none)");
    with_texts->url = url;
    EXPECT_EQ(encode(nullptr), "(none)");
}

TEST(UrlRecord, DecodesTheTextsByTheirZeroBytes) {
    const std::string key("a|5x", 5);
    UrlObj plain = decode(key, numbers() + "123456789" + std::string(3, '\0'));
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->num_a, 1);
    EXPECT_EQ(plain->num_b, 2);
    EXPECT_EQ(plain->num_c, 3);
    EXPECT_STREQ(plain->url, "123456789");
    EXPECT_EQ(plain->text_a, nullptr);
    EXPECT_EQ(plain->text_b, nullptr);
    EXPECT_STREQ(plain->key, "a|5x");
    EXPECT_EQ(plain->host_a, 5);
    EXPECT_EQ(plain->host_b, 10);

    UrlObj only_b = decode(key, numbers() + std::string("u\0\0x\0", 5));
    EXPECT_EQ(only_b->text_a, nullptr);
    EXPECT_STREQ(only_b->text_b, "x");

    UrlObj only_a = decode(key, numbers() + std::string("u\0abc\0\0", 7));
    EXPECT_STREQ(only_a->text_a, "abc");
    EXPECT_EQ(only_a->text_b, nullptr);

    // Written without closing zeros: everything after the url is text_a.
    UrlObj unclosed = decode(key, numbers() + std::string("u\0ab\0c", 6));
    EXPECT_EQ(std::string(unclosed->text_a), "ab");
    EXPECT_EQ(unclosed->text_b, nullptr);
}

TEST(UrlRecord, EncodeThenDecodeKeepsEveryField) {
    UrlObj obj = make_url("p|2rest", "http://x/", "alpha", "beta");
    obj->num_a = -7;
    obj->num_c = 1 << 30;
    UrlObj back = decode(std::string("p|2rest") + '\0', encode(obj.get()));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->num_a, -7);
    EXPECT_EQ(back->num_b, 2);
    EXPECT_EQ(back->num_c, 1 << 30);
    EXPECT_STREQ(back->url, "http://x/");
    EXPECT_STREQ(back->text_a, "alpha");
    EXPECT_STREQ(back->text_b, "beta");
    EXPECT_EQ(back->host_a, 2);
}

TEST(UrlRecord, TheKeyDigitIsTheOneAfterTheFirstBar) {
    EXPECT_EQ(url_key_digit("a|5x"), 5);
    EXPECT_EQ(url_key_digit("a|x"), 0);
    EXPECT_EQ(url_key_digit("ax"), 0);
    EXPECT_EQ(url_key_digit("a|5|7"), 5);
    EXPECT_EQ(url_key_digit("a|"), 0);
    UrlObj keyless = decode(std::string(), numbers() + std::string("u\0\0\0", 4));
    ASSERT_NE(keyless, nullptr);
    EXPECT_EQ(keyless->key, nullptr);
    EXPECT_EQ(keyless->host_a, 0);
}

TEST(UrlRecord, ValuesTooShortOrWithoutTheUrlsZeroAreRejected) {
    EXPECT_EQ(decode("k", numbers()), nullptr);  // 12 bytes
    EXPECT_EQ(decode("k", numbers().substr(0, 9)), nullptr);
    EXPECT_EQ(decode("k", numbers() + "http://no-zero"), nullptr);
    DBT key = string_key("k");
    EXPECT_EQ(DBT2url_obj(&key, nullptr), nullptr);
    EXPECT_EQ(DBT2url_obj(nullptr, &key), nullptr);
}

}  // namespace
