#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "extra/dynbuf.h"
#include "extra/files.h"
#include "extra/uri.h"
#include "support/scoped_env.h"
#include "support/scratch_dir.h"

namespace {

std::string escaped(const std::string &text) {
    char *out = libvel_uri_escape(nullptr, text.c_str());
    std::string result(out);
    std::free(out);
    return result;
}

std::string unescaped(std::string text) {
    libvel_uri_unescape(text.data());
    return text.c_str();
}

TEST(Uri, EscapesTheReservedSetAndEveryHighByte) {
    EXPECT_EQ(escaped("a b&c"), "a%20b%26c");
    EXPECT_EQ(escaped("x/y"), "x/y");
    EXPECT_EQ(escaped("\xE9"), "%e9");
    EXPECT_EQ(escaped("%+=?#:*\"'<>;\t\r\n"), "%25%2b%3d%3f%23%3a%2a%22%27%3c%3e%3b%09%0d%0a");
    EXPECT_EQ(escaped(""), "");
    char own[16];
    EXPECT_EQ(libvel_uri_escape(own, "a b"), own);
    EXPECT_STREQ(own, "a%20b");
}

TEST(Uri, UnescapesOnlyCompleteEscapes) {
    EXPECT_EQ(unescaped("a%20b"), "a b");
    EXPECT_EQ(unescaped("100%"), "100%");
    EXPECT_EQ(unescaped("%4"), "%4");
    EXPECT_EQ(unescaped("%41%4a"), "AJ");
    EXPECT_EQ(unescaped("a+b"), "a+b");
    EXPECT_EQ(unescaped(escaped("q=1&r=\xE9 x")), "q=1&r=\xE9 x");
}

TEST(Files, QueriesOfMissingPathsGiveTheirMarks) {
    EXPECT_EQ(libvel_filesize("/nonexistent/file"), -1);
    EXPECT_EQ(libvel_filelmt("/nonexistent/file"), 0);
    EXPECT_EQ(libvel_isdir("/nonexistent/file"), 0);
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.file("f"), "12345"));
    EXPECT_EQ(libvel_filesize(dir.file("f").c_str()), 5);
    EXPECT_GT(libvel_filelmt(dir.file("f").c_str()), 0);
    EXPECT_EQ(libvel_isdir(dir.file("f").c_str()), 0);
    EXPECT_EQ(libvel_isdir(dir.path().c_str()), 1);
}

TEST(Files, TempnamCreatesAFreshPrivateFileInTheTemporaryDirectory) {
    ScratchDir dir;
    ScopedEnv env;
    env.set("TMPDIR", dir.path());
    char *first = vel_tempnam("velio-long-prefix");
    char *second = vel_tempnam("velio-long-prefix");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    const std::string path = first;
    EXPECT_EQ(path.rfind(dir.path() + "/velio", 0), 0u) << path;
    EXPECT_EQ(path.size(), dir.path().size() + 1 + 5 + 6);
    EXPECT_STRNE(first, second);
    struct stat st;
    ASSERT_EQ(lstat(first, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 0);
    std::free(first);
    std::free(second);
}

int disposed = 0;
void count_disposal(void *item) {
    ++disposed;
    std::free(item);
}

TEST(Dynbuf, GrowsByItsStepAndTakesElementsOutByPosition) {
    dynbuf *buf = dynbuf_create(2, 3);
    ASSERT_NE(buf, nullptr);
    int e[3];
    EXPECT_EQ(dynbuf_append(buf, &e[0]), 1);
    EXPECT_EQ(dynbuf_append(buf, &e[1]), 2);
    EXPECT_EQ(dynbuf_append(buf, &e[2]), 3);
    EXPECT_EQ(buf->size, 5);
    EXPECT_EQ(dynbuf_get(buf, 0), &e[0]);
    EXPECT_EQ(buf->count, 2);
    EXPECT_EQ(buf->items[0], &e[1]);
    EXPECT_EQ(buf->items[1], &e[2]);
    EXPECT_EQ(buf->items[2], nullptr);
    EXPECT_EQ(dynbuf_get(buf, 2), nullptr);
    EXPECT_EQ(dynbuf_get(buf, -1), nullptr);
    EXPECT_EQ(buf->count, 2);
    buf->count = 0;  // the elements are the test's, not heap blocks
    dynbuf_destroy(buf);
}

TEST(Dynbuf, DestroyDisposesOfTheElementsStillHeld) {
    dynbuf *buf = dynbuf_create(1, 0);
    buf->free_item = count_disposal;
    for (int i = 0; i < 3; ++i) dynbuf_append(buf, std::malloc(4));
    std::free(dynbuf_get(buf, 1));
    disposed = 0;
    dynbuf_destroy(buf);
    EXPECT_EQ(disposed, 2);
    dynbuf_destroy(nullptr);
}

}  // namespace
