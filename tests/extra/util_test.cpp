#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "extra/dynbuf.h"
#include "extra/files.h"
#include "extra/instance_dir.h"
#include "extra/uri.h"
#include "support/scoped_env.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

struct Uri {
    const char *text, *escaped;
    bool escapes_so;  // else only unescaping the second gives the first
};
constexpr Uri kUris[] = {
    {"a b&c", "a%20b%26c", true},
    {"x/y", "x/y", true},
    {"\xE9", "%e9", true},
    {"%+=?#:*\"'<>;\t\r\n", "%25%2b%3d%3f%23%3a%2a%22%27%3c%3e%3b%09%0d%0a", true},
    {"", "", true},
    // Only complete escapes are decoded, and '+' is no space.
    {"100%", "100%", false},
    {"%4", "%4", false},
    {"AJ", "%41%4a", false},
    {"\xAA", "%AA", false},
    {"a+b", "a+b", false},
};

TEST(Uri, EscapingAndUnescaping) {
    for (const Uri &row : kUris) {
        if (row.escapes_so) {
            char *out = libvel_uri_escape(nullptr, row.text);
            EXPECT_STREQ(out, row.escaped);
            std::free(out);
        }
        std::string text = row.escaped;
        libvel_uri_unescape(text.data());
        EXPECT_STREQ(text.c_str(), row.text) << row.escaped;
    }
    char own[16];
    EXPECT_EQ(libvel_uri_escape(own, "a b"), own);
    EXPECT_STREQ(own, "a%20b");
}

TEST(Files, QueriesAndTemporaryNames) {
    EXPECT_EQ(libvel_filesize("/nonexistent/file"), -1);
    EXPECT_EQ(libvel_filelmt("/nonexistent/file"), 0);
    EXPECT_EQ(libvel_isdir("/nonexistent/file"), 0);
    ScratchDir dir;
    ScopedEnv env;
    env.set("TMPDIR", dir.path());
    char *first = vel_tempnam("velio-long-prefix");
    ASSERT_NE(first, nullptr);
    // Five letters of the prefix and six random ones, an empty file.
    const std::string path = first;
    EXPECT_EQ(path.rfind(dir.path() + "/velio", 0), 0u) << path;
    EXPECT_EQ(path.size(), dir.path().size() + 1 + 5 + 6);
    EXPECT_EQ(libvel_filesize(first), 0);
    std::free(first);
    // A TMPDIR that is no directory, even one that may be written and
    // searched, leaves the default.
    ASSERT_TRUE(write_file(dir.file("plain"), ""));
    chmod(dir.file("plain").c_str(), 0700);
    env.set("TMPDIR", dir.file("plain"));
    char *fallback = vel_tempnam("x");
    ASSERT_NE(fallback, nullptr);
    EXPECT_EQ(std::string(fallback).rfind("/tmp/x", 0), 0u) << fallback;
    unlink(fallback);
    std::free(fallback);
}

int disposed = 0;

TEST(Dynbuf, GrowsByItsStepAndTakesElementsOutByPosition) {
    dynbuf *buf = dynbuf_create(2, 3);
    ASSERT_NE(buf, nullptr);
    buf->free_item = [](void *item) {
        ++disposed;
        std::free(item);
    };
    void *e[3] = {std::malloc(1), std::malloc(1), std::malloc(1)};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(dynbuf_append(buf, e[i]), i + 1);
    EXPECT_EQ(buf->size, 5);
    EXPECT_EQ(dynbuf_get(buf, 0), e[0]);
    std::free(e[0]);
    EXPECT_EQ(buf->items[0], e[1]);
    EXPECT_EQ(buf->items[1], e[2]);
    EXPECT_EQ(buf->items[2], nullptr);
    EXPECT_EQ(dynbuf_get(buf, 2), nullptr);  // at the count: nothing changes
    EXPECT_EQ(buf->count, 2);
    disposed = 0;
    dynbuf_destroy(buf);
    EXPECT_EQ(disposed, 2);
    dynbuf_destroy(nullptr);
    // Without a hook the items held are freed (LeakSanitizer sees one that is not).
    dynbuf *plain = dynbuf_create(1, 1);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(dynbuf_append(plain, std::malloc(1)), 1);
    dynbuf_destroy(plain);
}

using Value = std::optional<std::string>;

struct Search {
    std::string cwd;  // under the scratch tree
    Value server_root, vantor_root, server_names;
    std::string found;  // "null" for none, "fails" for status -1
};

TEST(InstanceDir, EachEnvironmentFindsItsInstance) {
    ScratchDir scratch;
    char real[PATH_MAX];
    ASSERT_NE(realpath(scratch.path().c_str(), real), nullptr);
    const std::string root = real;
    // Instances hold config/search.conf; srv/a/bin and cwd are plain.
    for (const char *dir : {"home", "srv/a/inst", "srv/x", "opt/srv/web-1", "opt/srv/admin-serv"}) {
        fs::create_directories(root + "/" + dir + "/config");
        write_file(root + "/" + dir + "/config/search.conf", "");
    }
    for (const char *dir : {"srv/a/bin", "cwd"}) fs::create_directories(root + "/" + dir);
    const std::string opt = root + "/opt/srv", bin = root + "/srv/a/bin";
    const std::vector<Search> searches = {
        {"home", root + "/srv/x", {}, {}, root + "/home"},
        {"srv/a/bin", "../inst/", {}, {}, root + "/srv/a/inst"},
        {"srv/a/bin", "../../x", {}, {}, root + "/srv/x"},
        {"srv/a/bin", "", {}, {}, root + "/srv/a/bin"},  // taken untested
        {"srv/a/bin", bin, opt, "web-1", root + "/opt/srv/web-1"},
        {"srv/a/bin", bin, opt, "admin-serv", "null"},
        {"srv/a/bin", {}, opt, {}, "null"},
        {"cwd", {}, {}, {}, "null"},
        // 1024 characters, or a path of 1024 made of a relative one.
        {"cwd", "/" + std::string(1023, 'a'), {}, {}, "fails"},
        {"cwd", std::string(1023 - root.size() - 4, 'a'), {}, {}, "fails"},
        // 1001 + 1 + 21 characters fit, but not with the instance's file.
        {"cwd", {}, "/" + std::string(1000, 'v'), std::string(21, 'n'), "null"},
        {"cwd", {}, "/" + std::string(1000, 'v'), std::string(22, 'n'), "fails"},
    };
    const fs::path saved_cwd = fs::current_path();
    for (const Search &s : searches) {
        fs::current_path(root + "/" + s.cwd);
        ScopedEnv env;
        env.set("TAV_SERVER_ROOT", s.server_root);
        env.set("VANTOR_ROOT", s.vantor_root);
        env.set("SERVER_NAMES", s.server_names);
        char *out = real;
        const int32_t status = vel_instance_dir(&out);
        EXPECT_TRUE(status == 0 || out == real) << "written on failure";
        const std::string found = status != 0 ? "fails" : out == nullptr ? "null" : out;
        if (status == 0) std::free(out);
        EXPECT_EQ(found, s.found) << s.cwd << " " << s.server_root.value_or("(unset)");
    }
    fs::current_path(saved_cwd);
}

TEST(SearchPath, TheFirstListedDirectoryHoldingTheNameWins) {
    ScratchDir dir;
    for (const char *sub : {"a", "b", "c"}) fs::create_directories(dir.file(sub));
    write_file(dir.file("b/tool"), "");
    write_file(dir.file("c/tool"), "");
    auto searched = [](const char *name) {
        char *path = vel_search_path(name, "CRAWLPEEK_TEST_PATH");
        std::string result = path;
        std::free(path);
        return result;
    };
    ScopedEnv env;
    env.set("CRAWLPEEK_TEST_PATH", dir.file("a") + "::" + dir.file("b") + ":" + dir.file("c"));
    EXPECT_EQ(searched("tool"), dir.file("b/tool"));
    EXPECT_EQ(searched("absent"), "absent");
    env.set("CRAWLPEEK_TEST_PATH", std::nullopt);
    EXPECT_EQ(searched("tool"), "tool");
}

}  // namespace
