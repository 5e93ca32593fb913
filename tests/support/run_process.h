// Runs a program as a child process and collects what it printed.
#ifndef CRAWLPEEK_TESTS_SUPPORT_RUN_PROCESS_H_
#define CRAWLPEEK_TESTS_SUPPORT_RUN_PROCESS_H_

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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
inline RunningProcess start_process(const std::string &program,
                                    const std::vector<std::string> &args, const std::string &cwd,
                                    int stdout_fd = -1) {
    RunningProcess process{-1, std::make_unique<ScratchDir>()};
    const std::string out_path = process.capture->file("out");
    const std::string err_path = process.capture->file("err");
    process.pid = fork();
    if (process.pid != 0) return process;
    const int in = open("/dev/null", O_RDONLY);
    const int out =
        stdout_fd >= 0 ? stdout_fd : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

// Waits for the child and collects what it printed.
inline ProcessResult finish_process(RunningProcess *process) {
    ProcessResult result;
    if (process->pid < 0) return result;
    int wstatus = 0;
    pid_t waited;
    do {
        waited = waitpid(process->pid, &wstatus, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited == process->pid && WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
    process->pid = -1;
    result.out = read_file(process->capture->file("out"));
    result.err = read_file(process->capture->file("err"));
    return result;
}

// Starts the program and waits for it.
inline ProcessResult run_process(const std::string &program, const std::vector<std::string> &args,
                                 const std::string &cwd) {
    RunningProcess process = start_process(program, args, cwd);
    return finish_process(&process);
}

#endif  // CRAWLPEEK_TESTS_SUPPORT_RUN_PROCESS_H_
