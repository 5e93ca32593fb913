// The one line a reader writes when a file read from its pages on disk (a
// crawler was writing it) had pages or records it passed over.
#ifndef CRAWLPEEK_TOOL_READING_PAGES_PASSED_OVER_H_
#define CRAWLPEEK_TOOL_READING_PAGES_PASSED_OVER_H_

#include "robot/storage_object.h"

// Writes "PROGRAM: FILE: N pages and M records caught being written were
// passed over" on standard error when obj's file is read from its pages and
// any were; nothing otherwise. Accepts null.
void report_pages_passed_over(const char *program, const storage_object *obj);

#endif  // CRAWLPEEK_TOOL_READING_PAGES_PASSED_OVER_H_
