// crawldb's lines on standard error.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_ERRORS_H_
#define CRAWLPEEK_TOOL_CRAWLDB_ERRORS_H_

#include <string>

// Prints "crawldb: ", the text formed as printf would, and a newline on
// standard error.
void crawldb_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Whether path names something readable of the kind wanted (a directory, or
// else a file); when not, one line on standard error says why.
bool crawldb_readable(const std::string &path, bool directory);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_ERRORS_H_
