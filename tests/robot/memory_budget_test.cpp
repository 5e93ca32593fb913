// The store's memory budget comes from the environment when it names a
// number of bytes, else from the machine.
#include "robot/memory_budget.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "log/objlog.h"
#include "support/scoped_env.h"
#include "support/scratch_dir.h"

namespace {

TEST(MemoryBudgetTest, TheVariableSetsItWhenItIsANumberOfBytes) {
    const size_t memory =
        static_cast<size_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t machine = memory / 4;
    const struct {
        std::optional<std::string> value;
        size_t budget;
    } cases[] = {
        {std::nullopt, machine},
        {"0", 0},
        {"12345", 12345},
        {"68719476736", size_t{1} << 36},
        {"18446744073709551615", SIZE_MAX},
        {"", machine},
        {"12x", machine},
        {"-1", machine},
        {" 5", machine},
        {"99999999999999999999999", machine},
    };
    // A value that is no number is said at any level of the robot log.
    ScratchDir dir;
    robot_log_init(dir.file("robot.log").c_str(), 0, 1 << 30);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value.value_or("(unset)"));
        ScopedEnv env;
        env.set(kRobotMemoryBudgetVariable, c.value);
        EXPECT_EQ(robot_memory_budget(), c.budget);
        EXPECT_EQ(robot_index_budget(), c.budget / 2);
        EXPECT_EQ(robot_cache_budget(), std::clamp<size_t>(c.budget / 2, 10 << 20, memory));
    }
    destroy_objlog(rlog);
    rlog = nullptr;
    const std::string log = read_file(dir.file("robot.log"));
    EXPECT_NE(log.find(": ERROR: ROBOT_MEMORY_BUDGET=12x is not a number of bytes; ignored\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("=12345 "), std::string::npos) << log;
}

}  // namespace
