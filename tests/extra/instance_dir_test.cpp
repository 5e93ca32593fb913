#include "extra/instance_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "support/scoped_env.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

// A scratch tree with instance directories (holding config/search.conf) and
// plain ones, with the working directory moved into it for the test.
class InstanceDirTest : public testing::Test {
  protected:
    void SetUp() override {
        char real[PATH_MAX];
        ASSERT_NE(realpath(scratch_.path().c_str(), real), nullptr);
        root_ = real;
        saved_cwd_ = fs::current_path();
        for (const char *name : {"TAV_SERVER_ROOT", "VANTOR_ROOT", "SERVER_NAMES"}) {
            env_.set(name, std::nullopt);
        }
    }
    void TearDown() override { fs::current_path(saved_cwd_); }

    std::string plain(const std::string &relative) {
        fs::create_directories(root_ + "/" + relative);
        return root_ + "/" + relative;
    }
    std::string instance(const std::string &relative) {
        std::string dir = plain(relative);
        fs::create_directories(dir + "/config");
        write_file(dir + "/config/search.conf", "");
        return dir;
    }
    void enter(const std::string &dir) { fs::current_path(dir); }

    // The directory found, "null" for none, "fails" for status -1.
    std::string found() {
        char *out = reinterpret_cast<char *>(&sentinel_);
        int32_t status = vel_instance_dir(&out);
        if (status == -1) {
            EXPECT_EQ(out, reinterpret_cast<char *>(&sentinel_)) << "written on failure";
            return "fails";
        }
        EXPECT_EQ(status, 0);
        if (out == nullptr) return "null";
        std::string dir = out;
        std::free(out);
        return dir;
    }

    ScratchDir scratch_;
    ScopedEnv env_;
    std::string root_;
    fs::path saved_cwd_;
    int sentinel_ = 0;
};

TEST_F(InstanceDirTest, TheWorkingDirectoryWinsWhenItIsAnInstance) {
    enter(instance("srv/a"));
    env_.set("TAV_SERVER_ROOT", instance("other"));
    EXPECT_EQ(found(), root_ + "/srv/a");
}

TEST_F(InstanceDirTest, ARelativeServerRootClimbsOneComponentPerDotDot) {
    instance("srv/a/inst");
    instance("srv/x");
    enter(plain("srv/a/bin"));
    env_.set("TAV_SERVER_ROOT", "../inst/");
    EXPECT_EQ(found(), root_ + "/srv/a/inst");
    env_.set("TAV_SERVER_ROOT", "../../x");
    EXPECT_EQ(found(), root_ + "/srv/x");
    env_.set("TAV_SERVER_ROOT", "../missing");
    EXPECT_EQ(found(), "null");
}

TEST_F(InstanceDirTest, AnEmptyServerRootNamesTheWorkingDirectoryUntested) {
    enter(plain("srv/a/bin"));
    env_.set("TAV_SERVER_ROOT", "");
    EXPECT_EQ(found(), root_ + "/srv/a/bin");
}

TEST_F(InstanceDirTest, TheNamedServerIsTriedAfterTheServerRoot) {
    enter(plain("cwd"));
    env_.set("TAV_SERVER_ROOT", plain("not-an-instance"));
    env_.set("VANTOR_ROOT", root_ + "/opt/srv");
    env_.set("SERVER_NAMES", "web-1");
    EXPECT_EQ(found(), "null");
    instance("opt/srv/web-1");
    EXPECT_EQ(found(), root_ + "/opt/srv/web-1");
    instance("opt/srv/admin-serv");
    env_.set("SERVER_NAMES", "admin-serv");
    EXPECT_EQ(found(), "null");
    env_.set("SERVER_NAMES", std::nullopt);
    EXPECT_EQ(found(), "null");
}

TEST_F(InstanceDirTest, NoCandidateGivesNull) {
    enter(plain("cwd"));
    EXPECT_EQ(found(), "null");
}

TEST_F(InstanceDirTest, CandidatesThatCannotFitMakeTheSearchFail) {
    enter(plain("cwd"));
    env_.set("TAV_SERVER_ROOT", "/" + std::string(1023, 'a'));
    EXPECT_EQ(found(), "fails");
    env_.set("TAV_SERVER_ROOT", std::string(1023 - root_.size() - 4, 'a'));
    EXPECT_EQ(found(), "fails");
    env_.set("TAV_SERVER_ROOT", std::nullopt);
    env_.set("VANTOR_ROOT", "/" + std::string(1000, 'v'));
    env_.set("SERVER_NAMES", std::string(21, 'n'));
    EXPECT_EQ(found(), "null");  // 1001 + 1 + 21 characters fit, but not with the marker
    env_.set("SERVER_NAMES", std::string(22, 'n'));
    EXPECT_EQ(found(), "fails");
}

std::string searched(const char *name, const char *envvar) {
    char *path = vel_search_path(name, envvar);
    std::string result = path;
    std::free(path);
    return result;
}

TEST(SearchPath, TheFirstListedDirectoryHoldingTheNameWins) {
    ScratchDir dir;
    fs::create_directories(dir.file("a"));
    fs::create_directories(dir.file("b"));
    fs::create_directories(dir.file("c"));
    write_file(dir.file("b/tool"), "");
    write_file(dir.file("c/tool"), "");
    ScopedEnv env;
    env.set("CRAWLPEEK_TEST_PATH", dir.file("a") + "::" + dir.file("b") + ":" + dir.file("c"));
    EXPECT_EQ(searched("tool", "CRAWLPEEK_TEST_PATH"), dir.file("b/tool"));
    EXPECT_EQ(searched("absent", "CRAWLPEEK_TEST_PATH"), "absent");
    // An element too long for the path buffer is passed over.
    env.set("CRAWLPEEK_TEST_PATH", "/" + std::string(9000, 'x') + ":" + dir.file("c"));
    EXPECT_EQ(searched("tool", "CRAWLPEEK_TEST_PATH"), dir.file("c/tool"));
    env.set("CRAWLPEEK_TEST_PATH", std::nullopt);
    EXPECT_EQ(searched("tool", "CRAWLPEEK_TEST_PATH"), "tool");
}

}  // namespace
