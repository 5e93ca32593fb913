// Pieces shared by the object log and the module log: the line layout, the
// ring of ten rotated generations and the change of a file's owner. Internal
// to log/.
#ifndef CRAWLPEEK_LOG_LOG_FILE_H_
#define CRAWLPEEK_LOG_LOG_FILE_H_

#include <sys/types.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace logfile {

// Message severities, common to both logs.
enum Severity { kPlain = 0, kLocated = 1, kWarning = 2, kError = 3, kRaw = 4 };

// Generations are numbered 0 (newest) to kLastGeneration (oldest).
constexpr int kLastGeneration = 9;

// Size of the buffer a whole message line is formatted in. A longer line is
// cut to fit and still ends with a newline.
constexpr size_t kLineCapacity = 8192;

struct FileCloser {
    void operator()(FILE *fp) const { std::fclose(fp); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// The pending message's description, set before printing.
struct MessageParams {
    int severity = kPlain;
    const char *src_file = nullptr;
    int src_line = 0;
};

// How the writer's thread is shown after the process id: `plain` in every
// header but the located one, which shows `located`.
struct ThreadTag {
    const char *plain;
    const char *located;
};

// Lines formatted from now on show pid as their process id; 0: the writer's.
void show_pid(pid_t pid);

// Writes the local time as "[%d/%b/%Y:%H:%M:%S]" into buf (at least 32 bytes).
void format_timestamp(char *buf, size_t cap);

// Formats one message line into buf (kLineCapacity bytes): the time stamp, the
// header of the params' severity with the process id and thread tag, then the
// caller's format applied to ap. Severity kRaw is not handled here: both logs
// treat it their own way. A null format prints "(null)", an empty one
// "(empty)"; likewise the source file name of a located message, of which only
// the base name is shown. Returns the line's length.
size_t format_line(char *buf, const MessageParams &params, ThreadTag tag, const char *format,
                   va_list ap);

// Appends the caller's format applied to ap to the used bytes of buf
// (kLineCapacity bytes), cutting it to fit. Returns the new length.
size_t append_message(char *buf, size_t used, const char *format, va_list ap);

// Splits a path at its last '/' (or, when it has none, its last backslash)
// into the directory before it and the base name after it. Without either the
// directory is empty and the base name is the whole path. Returns whether a
// separator was found.
bool split_path(const char *path, std::string *dir, std::string *base);

// The name of generation n of the log file at path: "<dir>/<base>.<n>". A path
// without a directory keeps its generations beside it ("<path>.<n>").
std::string generation_name(const char *path, int n);

// Makes room for a new generation 0 of the log at path: finds the first
// missing generation (deleting generation 9 when all ten exist) and renames
// each generation below it one number up. A gap ends the search, so copies
// beyond it are left alone.
void shift_generations(const char *path);

enum class ChownResult { kDone, kUnknownUser, kFailed };

// Gives the file at path to the named user and that user's group. On
// kFailed, errno holds the reason.
ChownResult give_to_user(const char *path, const char *user);

}  // namespace logfile

#endif  // CRAWLPEEK_LOG_LOG_FILE_H_
