// The database home shared by every robot test of the process.
//
// The storage layer computes its home once per process, so the tests use one
// fresh directory for all of them and empty it between tests. The robot log
// and the module log go to files in it, which the tests read back.
#ifndef CRAWLPEEK_TESTS_ROBOT_ROBOT_HOME_H_
#define CRAWLPEEK_TESTS_ROBOT_ROBOT_HOME_H_

#include <gtest/gtest.h>

#include <string>

// The home, absolute; made, logged into and opened as the environment on
// first use.
const std::string &robot_home();
// What the robot log and the module log have received since the test began.
std::string robot_log_text();
std::string module_log_text();

// Each test starts with no database files and empty logs, and ends with the
// visited-URL database shut down.
class RobotHomeTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::string file(const std::string &name) const { return robot_home() + "/" + name; }
};

#endif  // CRAWLPEEK_TESTS_ROBOT_ROBOT_HOME_H_
