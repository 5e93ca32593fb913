// The standard descriptors of a program that opens database files.
#ifndef CRAWLPEEK_TOOL_READING_STANDARD_FDS_H_
#define CRAWLPEEK_TOOL_READING_STANDARD_FDS_H_

// Bits of standard_fds_reopen's result.
inline constexpr unsigned kStdinWasClosed = 1;
inline constexpr unsigned kStdoutWasClosed = 2;
inline constexpr unsigned kStderrWasClosed = 4;

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file opened later (a database's environment, say) takes its number and
// receives what is printed. Call first thing in main. The bits of those
// that were closed.
unsigned standard_fds_reopen();

#endif  // CRAWLPEEK_TOOL_READING_STANDARD_FDS_H_
