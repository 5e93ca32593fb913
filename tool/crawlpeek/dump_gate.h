// The verdict on url-visited.db before a whole dump prints anything.
//
// Verifying the file takes about as long as learning its URLs, and the two
// read different copies of it, so the verifier runs in a child of the
// program's process on the other processor while the reader (another child)
// opens the database and learns its table of URLs. The reader then waits at
// the gate: the program's process judges the file when the verifier ends and
// lets the reader print, or stops it and refuses the dump, with the lines
// and exit status of a check made before reading. A reader that a damaged
// page brings down or keeps going round in circles meanwhile is stopped
// with it: nothing it did shows.
#ifndef CRAWLPEEK_TOOL_CRAWLPEEK_DUMP_GATE_H_
#define CRAWLPEEK_TOOL_CRAWLPEEK_DUMP_GATE_H_

#include <sys/types.h>

#include <memory>
#include <string>

#include "tool/reading/temp_file.h"


class DumpGate {
  public:
    // A gate for the record file at path (its writer's mark is on the same
    // file). To be made before the reader is started; the verifier starts
    // after it, so that the reader is the program's first child.
    explicit DumpGate(const std::string &path);
    ~DumpGate();
    DumpGate(const DumpGate &) = delete;
    DumpGate &operator=(const DumpGate &) = delete;

    // In the program's process, once the reader runs as child: verifies the
    // file, waits for the verifier and says what it found on standard error and in the log;
    // then lets the reader go on, or kills it. Whether the reader may print.
    bool judge(pid_t reader);

    // In the reader, first: holds back what it writes to standard error
    // (Berkeley DB's word on a file it cannot open, say) until await, so
    // that a refused dump says nothing but why.
    void hold_errors();

    // In the reader, before it prints anything: whether it may. Then what
    // was held back is written out, or dropped when the reader may not
    // print. A reader that runs in the program's own process (no child
    // could be made) judges here itself.
    bool await();

  private:
    // Verifies the file and says what was found; whether it may be read.
    bool verify();

    std::string path_;
    std::unique_ptr<TempFile> held_;  // standard error while held back
    int saved_stderr_ = -1;
    pid_t owner_;     // the program's process
    int ends_[2];     // a socket pair: [0] the program's end, [1] the reader's
};

#endif  // CRAWLPEEK_TOOL_CRAWLPEEK_DUMP_GATE_H_
