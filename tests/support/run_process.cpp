#include "support/run_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

RunningProcess start_process(const std::string &program, const std::vector<std::string> &args,
                             const std::string &cwd, int stdout_fd) {
    RunningProcess process;
    process.capture = std::make_unique<ScratchDir>();
    const std::string out_path = process.capture->file("out");
    const std::string err_path = process.capture->file("err");
    process.pid = fork();
    if (process.pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out =
            stdout_fd >= 0 ? stdout_fd : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return process;
}

ProcessResult finish_process(RunningProcess *process) {
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

ProcessResult run_process(const std::string &program, const std::vector<std::string> &args,
                          const std::string &cwd) {
    RunningProcess process = start_process(program, args, cwd);
    return finish_process(&process);
}
