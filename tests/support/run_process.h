// Runs a program as a child process and collects what it printed.
#ifndef CRAWLPEEK_TESTS_SUPPORT_RUN_PROCESS_H_
#define CRAWLPEEK_TESTS_SUPPORT_RUN_PROCESS_H_

#include <string>
#include <vector>

struct ProcessResult {
    int status = -1;  // exit status, or -1 when the child did not exit normally
    std::string out;
    std::string err;
};

// Runs program with args (which follow argv[0], the program itself) in directory cwd, with no
// standard input, and waits for it.
ProcessResult run_process(const std::string &program, const std::vector<std::string> &args,
                          const std::string &cwd);

#endif  // CRAWLPEEK_TESTS_SUPPORT_RUN_PROCESS_H_
