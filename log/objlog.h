// Log objects: one log file (or standard output or error) with its own level,
// rotation size and mutex, written by many threads.
//
// A message line is "[05/Dec/2026:08:45:57]  1234@001: ERROR: text": the local
// time, the process id in five columns, the writer's thread number (1 for the
// main thread, others numbered from 2 in the order they first write; three
// hex digits, two in the located form), then the severity word, or the source
// position "(robot_db:35):\t" of a located message, and the caller's text,
// which ends with its own newline. A raw message (severity 4) is the caller's
// text alone; every 100th raw message in the process is preceded by a line
// "Time: <time stamp>".
//
// To write, hold the log's lock from setting the pending message until it is
// printed:
//
//   std::lock_guard<std::mutex> hold(rlog->lock);
//   if (rlog->level >= threshold) {
//       objlog_set_params(rlog, severity, "robot_db", __LINE__);
//       rlog_do_print("...\n", ...);
//   }
//
// or call rlog_write, which does the same. The level and the rotation size
// may be changed at any time without the lock; `level` and `rotate_size` are
// atomic so that a writer reads either the old or the new value.
//
// A file log is rotated when, before a write, the file is larger than the
// rotation size: the older generations move one number up (at most ten,
// "<name>.0" newest to "<name>.9" oldest), the file becomes generation 0, and
// a new file begins with a "<time stamp> Log Rotated" line. As root, every log
// file opened is given to the user "nobody".
#ifndef CRAWLPEEK_LOG_OBJLOG_H_
#define CRAWLPEEK_LOG_OBJLOG_H_

#include <sys/types.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "log/log_file.h"

struct objlog {
    std::string name;               // a file path, "stdout" or "stderr"
    std::atomic<int32_t> level{0};  // messages whose threshold is above it are not written
    int32_t module = 1;             // kept for callers; nothing here reads it
    // The destination, fixed by objlog_init and afterwards changed only under
    // `lock` (by a rotation or objlog_terminate).
    logfile::FilePtr fp;                  // the open file; null for a standard stream or no file
    int32_t to_stderr = 0;                // messages go to standard error
    int32_t to_stdout = 0;                // messages go to standard output
    std::atomic<int32_t> rotate_size{0};  // rotate when larger before a write; 0 or less: never
    // The pending message, set by objlog_set_params and read by the print that
    // follows under the same hold of `lock`.
    int32_t severity = 0;
    const char *src_file = nullptr;  // not owned
    int32_t src_line = 0;
    std::mutex lock;
};

// The robot log; null until robot_log_init.
extern objlog *rlog;
// The filter log; null until filter_log_init.
extern objlog *f_log;

// A log named `name` with the given level and rotation size, not yet open;
// null for a null name.
objlog *create_objlog(const char *name, int32_t level, int32_t rotate_size);

// Releases the log, closing its file. Accepts null. Returns 0.
int32_t destroy_objlog(objlog *log);

// Opens the log: "stdout" and "stderr" name the standard streams; any other
// name is a file opened for appending ("Cannot append to <name>." on standard
// error when it cannot be; the log then drops messages). An existing file
// larger than open_threshold bytes is rotated at once.
void objlog_init(objlog *log, int32_t open_threshold);

// Describes the next message printed; call with `lock` held.
void objlog_set_params(objlog *log, int32_t severity, const char *src_file, int32_t src_line);

// Prints one message described by objlog_set_params; call with `lock` held.
// A log without a destination (never opened, or terminated) drops it silently.
void objlog_do_print(objlog *log, const char *format, va_list ap);
void rlog_do_print(const char *format, ...) __attribute__((format(printf, 1, 2)));
void flog_do_print(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The whole write sequence on the robot log: takes its lock, tests its level
// against threshold and prints. Nothing when the robot log does not exist.
void rlog_write(int32_t threshold, int32_t severity, const char *src_file, int32_t src_line,
                const char *format, ...) __attribute__((format(printf, 5, 6)));

// Moves the log's file to generation 0 and opens a new one. Takes `lock` only
// when take_lock is nonzero. Returns 1 without a log or an open file, else the
// result of renaming the file (0 done, -1 failed: writing goes on in the same
// file).
int32_t objlog_rotate_now(objlog *log, int32_t take_lock);

// The size of the log's file, -1 without a log or an open file.
long objlog_get_file_size(objlog *log);

// Both may be called at any time, with or without `lock` held.
void objlog_set_rotate_size(objlog *log, int32_t size);
void objlog_set_level(objlog *log, int32_t level);

// Closes the log's file and flushes the standard stream in use; every later
// message to the log is dropped. Takes `lock`, so it waits for a message
// being written and must not be called with `lock` held.
void objlog_terminate(objlog *log);

// rlog = a new log opened with rotate_size as its open threshold too.
void robot_log_init(const char *name, int32_t level, int32_t rotate_size);
// The same for f_log.
void filter_log_init(const char *name, int32_t level, int32_t rotate_size);

// Rotates the filter log now when threshold is 0 or less, else when its file
// is larger than threshold bytes. Nothing without a filter log file.
void filter_log_rotate(int32_t threshold);

void robot_log_set_level(int32_t level);
void filter_log_set_level(int32_t level);

// Makes every line this process writes from now on, to any log, show pid as
// its process id instead of its own: for a child that works on behalf of the
// process that started it, which the operator knows. 0 shows its own again.
void objlog_show_pid(pid_t pid);

#endif  // CRAWLPEEK_LOG_OBJLOG_H_
