// The crawler hooks as the tests define them: each answer can be set by a
// test. reset_test_hooks() restores the defaults, which match crawlpeek's.
#ifndef CRAWLPEEK_TESTS_SUPPORT_TEST_HOOKS_H_
#define CRAWLPEEK_TESTS_SUPPORT_TEST_HOOKS_H_

#include <string>

struct TestHooks {
    std::string state_path = "robot";
    int erase_status = 0;
    std::string error_text = "test error";  // what VEL_GetErrorString returns
    int error_string_calls = 0;
};

TestHooks &test_hooks();
void reset_test_hooks();

#endif  // CRAWLPEEK_TESTS_SUPPORT_TEST_HOOKS_H_
