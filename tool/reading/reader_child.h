// Reading a database in a child process.
//
// Berkeley DB trusts the pages it reads: a page a crawler changes under the
// reader, or damage that verification cannot see, can bring the reader down
// with a signal. Read in a child, that ends the child only, and the program
// can tell its operator so instead of crashing.
#ifndef CRAWLPEEK_TOOL_READING_READER_CHILD_H_
#define CRAWLPEEK_TOOL_READING_READER_CHILD_H_

#include <sys/types.h>

#include <functional>

// How the reader ended: with status, or by signal when signal is nonzero.
struct ReaderEnd {
    int status = 0;
    int signal = 0;
};

// Flushes every stream, runs body(parent's pid) in a child and waits for it;
// the child exits with what body returns. When no child can be made, body
// runs in this process instead. A child ended by SIGPIPE (its reader went
// away) ends this process with SIGPIPE too, as it would any program writing
// to that reader. A failed wait gives status 1. When given, meanwhile runs
// in this process once the child is started, before the wait.
ReaderEnd run_reader_in_child(const std::function<int(pid_t parent)> &body,
                              const std::function<void(pid_t child)> &meanwhile = nullptr);

#endif  // CRAWLPEEK_TOOL_READING_READER_CHILD_H_
