// Runs a program as a child process and collects what it printed.
#ifndef CRAWLPEEK_TESTS_SUPPORT_RUN_PROCESS_H_
#define CRAWLPEEK_TESTS_SUPPORT_RUN_PROCESS_H_

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

struct ProcessResult {
    int status = -1;  // exit status, or -1 when the child did not exit normally
    std::string out;
    std::string err;
};

// A child started by start_process; its output is kept in files until
// finish_process reads them.
struct RunningProcess {
    pid_t pid = -1;  // -1 when it could not be started
    std::unique_ptr<ScratchDir> capture;
};

// Starts program with args (which follow argv[0], the program itself) in
// directory cwd, with no standard input, and returns without waiting. Its
// standard output goes to stdout_fd when that is not -1.
RunningProcess start_process(const std::string &program, const std::vector<std::string> &args,
                             const std::string &cwd, int stdout_fd = -1);

// Waits for the child and collects what it printed.
ProcessResult finish_process(RunningProcess *process);

// Starts the program and waits for it.
ProcessResult run_process(const std::string &program, const std::vector<std::string> &args,
                          const std::string &cwd);

#endif  // CRAWLPEEK_TESTS_SUPPORT_RUN_PROCESS_H_
