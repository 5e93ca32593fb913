// A crawldb command's reading of the database, in a child process, done
// again with every file verified first when it goes wrong.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_READING_H_
#define CRAWLPEEK_TOOL_CRAWLDB_READING_H_

#include <cstddef>
#include <functional>

// Standard output of the first reading held back in this process before any
// of it is written; a first reading that stops within it is done again
// without a trace on standard output.
inline constexpr size_t kHeldOutputBytes = size_t{4} << 20;

// Runs run (which reads the database and gives a command's exit status) in
// a child and returns the status to exit with.
//
// The files are verified alongside the first reading. When that reading
// stops on damage (kVerificationStopStatus), ends with a status no command
// gives, or ends by a signal other than SIGPIPE, it is done again with
// every file verified first, and only what that one says on standard error
// is shown. The first reading's standard output passes through this
// process: while it is within kHeldOutputBytes none of it is written before
// the reading ends, so a reading done again writes alone. Past that, part of
// it may have been written: then nothing is read again, and the command
// says on standard error that the output is cut short and gives 2.
//
// A status of 0 or 1 is passed on, anything else becomes 2; output that
// cannot be written is reported and gives 2.
int read_in_child(const std::function<int()> &run);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_READING_H_
