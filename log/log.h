// The module log: the one process-wide log of the shared utility modules.
//
// A message line is "[05/Dec/2026:08:45:57]  1234@0: ERROR: text": the local
// time, the process id in five columns, 0 where the object log shows the
// thread, the severity word (or the source position of a located message) and
// the caller's text, which ends with its own newline. Until vellog_init the log
// has no destination and drops every message.
//
// To write, test the level, then set the pending message and print:
//
//   if (_vellog_level >= threshold) {
//       _vellog_set_params(severity, "vurl", __LINE__);
//       _vellog_do_print("...\n", ...);
//   }
//
// or call vellog_write, which does the same. The pending message is kept per
// thread and writes and rotations are serialised, so threads may log at once.
//
// A file log is rotated before a write when the file has reached the rotation
// size: its content is copied into generation 0 (after the older generations
// move one number up, keeping at most ten) and the live file is emptied in
// place, so its open stream stays valid.
#ifndef CRAWLPEEK_LOG_LOG_H_
#define CRAWLPEEK_LOG_LOG_H_

#include <atomic>
#include <cstdint>

// A caller writes a message only when this is at least the message's threshold.
// Atomic, so that it may be read while another thread sets it.
extern std::atomic<int32_t> _vellog_level;
// Kept for callers of the module log; nothing here reads it.
extern int32_t _vellog_module;

// Sets the level and the destination: standard error for a null name, the
// standard stream for "stdout" or "stderr", otherwise the file, opened for
// appending ("Cannot append to <name>." on standard error when it cannot be;
// the log then drops messages). As root the file is given to "nobody". The
// rotation size set earlier is kept.
void vellog_init(int32_t level, const char *name);

// Describes the next message this thread prints.
void _vellog_set_params(int32_t severity, const char *src_file, int32_t src_line);

// Prints one message described by this thread's _vellog_set_params.
void _vellog_do_print(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Tests the level against threshold and prints one message: the whole
// write sequence in one call.
void vellog_write(int32_t threshold, int32_t severity, const char *src_file, int32_t src_line,
                  const char *format, ...) __attribute__((format(printf, 5, 6)));

// Rotates the log file: always when force is nonzero, else only when the file
// has reached the rotation size. Nothing without a file.
void vellog_rotate_now(int32_t force);

// Sets the size in bytes at which the file is rotated; 0 or less rotates
// before every message. The default is 5242880.
void vellog_set_rotate_size(int32_t size);

// May be called at any time, from any thread.
void vellog_set_level(int32_t level);

// Closes the file, flushes the standard stream in use and returns the log to
// the dropping state. Level and rotation size are kept.
void vellog_terminate();

// A newly allocated (malloc) copy of text with every white-space character
// replaced by a blank; a new empty string for null or empty text. The caller
// frees it.
char *vellog_linestr(const char *text);

// Splits path at its last '/' (or last backslash when it has no '/'): the part
// before goes to dir, the part after to base. Without a separator dir is empty
// and base is the whole path. Both buffers must hold the whole path. Returns
// base, or null (writing nothing) for a null path.
char *get_path_name(const char *path, char *dir, char *base);

#endif  // CRAWLPEEK_LOG_LOG_H_
