// Reading a database in a child process.
//
// Berkeley DB trusts the pages it reads: a page a crawler changes under the
// reader, or damage that verification cannot see, can bring the reader down
// with a signal. Read in a child, that ends the child only, and the program
// can tell its operator so instead of crashing.
//
// A reader never outlives the program that started it: the children made
// here are bound to their parent (see fork_bound_child).
#ifndef CRAWLPEEK_TOOL_READING_READER_CHILD_H_
#define CRAWLPEEK_TOOL_READING_READER_CHILD_H_

#include <sys/types.h>

#include <functional>

// How the reader ended: with status, or by signal when signal is nonzero.
struct ReaderEnd {
    int status = 0;
    int signal = 0;
};

// Flushes every stream, runs body(parent's pid) in a bound child and waits
// for it; the child exits with what body returns. When no child can be
// made, body runs in this process instead (body can tell by comparing
// getpid() with the pid it is given). A child ended by SIGPIPE (its reader
// went away) ends this process with SIGPIPE too, as it would any program
// writing to that reader. A failed wait gives status 1. When given,
// meanwhile runs in this process once the child is started, before the wait.
ReaderEnd run_reader_in_child(const std::function<int(pid_t parent)> &body,
                              const std::function<void(pid_t child)> &meanwhile = nullptr);

// fork(), with the child bound to this process:
//   - SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM and SIGUSR2 given to
//     this process (those it did not ignore when it first made a bound
//     child) are passed to every bound child still running; once they have
//     all ended and been reaped, this process ends by the same signal;
//   - the child is killed (SIGKILL) when this process ends, however it
//     ends, also when it ended before the child could ask for that.
// The child starts with those signals at their default action and no bound
// children of its own. Its pid here, 0 in the child, -1 when none could be
// made. For a process of one thread.
pid_t fork_bound_child();

// Waits for a child made by fork_bound_child, reaps it and puts its wait
// status in *status; false (the child forgotten) when the wait failed. Use
// this rather than waitpid, so that no signal is passed to its pid once it
// may be another process's.
bool wait_bound_child(pid_t child, int *status);

#endif  // CRAWLPEEK_TOOL_READING_READER_CHILD_H_
