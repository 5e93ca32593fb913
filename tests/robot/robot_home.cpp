#include "robot/robot_home.h"

#include <cstdio>

#include "log/log.h"
#include "log/objlog.h"
#include "robot/robot_db_env.h"
#include "robot/vurl_db.h"
#include "support/scratch_dir.h"
#include "support/test_hooks.h"

namespace {

constexpr char kRobotLog[] = "robot.log";
constexpr char kModuleLog[] = "module.log";

}  // namespace

const std::string &robot_home() {
    static ScratchDir dir;
    static const bool ready = [] {
        test_hooks().state_path = dir.path();
        robot_log_init((dir.path() + "/" + kRobotLog).c_str(), 5, 100000000);
        vellog_init(5, (dir.path() + "/" + kModuleLog).c_str());
        return robot_db_init() == 0;
    }();
    (void)ready;
    return dir.path();
}

std::string robot_log_text() {
    return read_file(robot_home() + "/" + kRobotLog);
}

std::string module_log_text() {
    // The module log leaves its file stream unflushed between messages.
    std::fflush(nullptr);
    return read_file(robot_home() + "/" + kModuleLog);
}

void RobotHomeTest::SetUp() {
    const std::string &home = robot_home();
    reset_test_hooks();
    test_hooks().state_path = home;
    for (const char *name : {"url-visited.db", "vid.db", "other.db"}) {
        std::remove((home + "/" + name).c_str());
    }
    // Both logs append; emptying the files in place keeps their streams valid.
    write_file(home + "/" + kRobotLog, "");
    write_file(home + "/" + kModuleLog, "");
}

void RobotHomeTest::TearDown() {
    visited_url_shutdown(0);
}
