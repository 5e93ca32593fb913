// The crawler hooks as the tests define them: each answer can be set by a
// test. reset_test_hooks() restores the defaults, which match crawlpeek's.
#ifndef CRAWLPEEK_TESTS_SUPPORT_TEST_HOOKS_H_
#define CRAWLPEEK_TESTS_SUPPORT_TEST_HOOKS_H_

#include <string>
#include <vector>

struct TestHooks {
    std::string state_path = "robot";
    int erase_status = 0;
    std::string error_text = "test error";  // what VEL_GetErrorString returns
    int error_string_calls = 0;

    // What the scans handed on: "url database" to the depot ("-" for none),
    // "url depth referer" to the site manager.
    std::vector<std::string> depot_deletes;
    std::vector<std::string> spawned;
    int stopped_calls = 0;
    int stop_at_call = 0;  // sys_if_stopped answers 1 from this call on; 0: never
};

inline TestHooks &test_hooks() {
    static TestHooks hooks;
    return hooks;
}
inline void reset_test_hooks() {
    test_hooks() = TestHooks{};
}

#endif  // CRAWLPEEK_TESTS_SUPPORT_TEST_HOOKS_H_
