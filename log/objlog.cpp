#include "log/objlog.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "robot/crawler_hooks.h"

objlog *rlog = nullptr;
objlog *f_log = nullptr;

namespace {

using logfile::FilePtr;

constexpr int kRawStampEvery = 100;

// Raw messages since the last "Time: " line, one count for the whole process.
std::atomic<int> raw_messages{0};

// Counts a raw message; true when it is the one to be preceded by a time line.
bool count_raw_message() {
    int seen = raw_messages.load();
    int next;
    do {
        next = seen + 1 >= kRawStampEvery ? 0 : seen + 1;
    } while (!raw_messages.compare_exchange_weak(seen, next));
    return next == 0;
}

// A small number for the calling thread: 1 for the process's main thread,
// then 2, 3, ... in the order other threads first write. A forked child
// numbers its threads afresh.
int thread_number() {
    static std::atomic<int> next_number{2};
    thread_local pid_t numbered_in = 0;
    thread_local int number = 0;
    const pid_t pid = getpid();
    if (numbered_in != pid) {
        numbered_in = pid;
        number = gettid() == pid ? 1 : next_number.fetch_add(1);
    }
    return number;
}

size_t compose(objlog *log, char *line, const char *format, va_list ap) {
    if (log->severity == logfile::kRaw) {
        size_t used = 0;
        if (count_raw_message()) {
            char stamp[64];
            logfile::format_timestamp(stamp, sizeof stamp);
            used = static_cast<size_t>(
                std::snprintf(line, logfile::kLineCapacity, "Time: %s\n", stamp));
        }
        return logfile::append_message(line, used, format, ap);
    }
    char plain[16], located[16];
    const int number = thread_number();
    std::snprintf(plain, sizeof plain, "%.3x", number);
    std::snprintf(located, sizeof located, "%.2x", number);
    const logfile::MessageParams params{log->severity, log->src_file, log->src_line};
    return logfile::format_line(line, params, {plain, located}, format, ap);
}

void print_report(objlog *log, int line, const char *format, ...) {
    if (log->level.load(std::memory_order_relaxed) < 1) return;
    const int32_t severity = log->severity;
    const char *src_file = log->src_file;
    const int32_t src_line = log->src_line;
    objlog_set_params(log, logfile::kWarning, "objlog", line);
    va_list ap;
    va_start(ap, format);
    objlog_do_print(log, format, ap);
    va_end(ap);
    objlog_set_params(log, severity, src_file, src_line);
}

// Gives a log file to a user, reporting failure through the robot log.
// `held` is the log whose lock this thread holds (a log being rotated), or
// null. When that is the robot log the report is written under the same hold,
// and the pending message of the writer that started the rotation is put
// back afterwards. Without a robot log the report goes to standard error.
void objlog_chown(const char *path, const char *user, objlog *held) {
    const logfile::ChownResult result = logfile::give_to_user(path, user);
    if (result == logfile::ChownResult::kDone) return;

    char *reason = nullptr;
    if (result == logfile::ChownResult::kFailed) reason = VEL_GetErrorString();
    const char *why = reason ? reason : "unknown error";

    if (rlog == nullptr) {
        if (result == logfile::ChownResult::kUnknownUser) {
            std::fprintf(stderr, "Unknown user %s: Cannot chown %s.\n", user, path);
        } else {
            std::fprintf(stderr, "chown: %s: %s\n", path, why);
        }
    } else {
        std::unique_lock<std::mutex> hold(rlog->lock, std::defer_lock);
        if (rlog != held) hold.lock();
        if (result == logfile::ChownResult::kUnknownUser) {
            print_report(rlog, 58, "Unknown user %s: Cannot chown %s.\n", user, path);
        } else {
            print_report(rlog, 63, "chown: %s: %s\n", path, why);
        }
    }
    std::free(reason);
}

void give_to_nobody_if_root(objlog *log, objlog *held) {
    if (geteuid() == 0) objlog_chown(log->name.c_str(), "nobody", held);
}

// Where the log's messages go: a standard stream, its file, or null when it
// has none. Read with `lock` held.
FILE *destination(const objlog *log) {
    if (log->to_stdout) return stdout;
    if (log->to_stderr) return stderr;
    return log->fp.get();
}

// Writes a message to fp, the log's file, rotating it first when it has grown
// too large; the rotation replaces the log's file.
void write_file_message(objlog *log, FILE *fp, const char *line, size_t len) {
    std::fseek(fp, 0, SEEK_END);
    const long size = std::ftell(fp);
    const int32_t rotate_size = log->rotate_size.load(std::memory_order_relaxed);
    if (rotate_size >= 1 && size > rotate_size) {
        objlog_rotate_now(log, 0);
        fp = log->fp.get();
        if (fp == nullptr) return;
        char stamp[64];
        logfile::format_timestamp(stamp, sizeof stamp);
        std::fprintf(fp, "%s Log Rotated\n", stamp);
    }
    std::fwrite(line, 1, len, fp);
    std::fflush(fp);
}

void init_global(objlog **slot, const char *name, int32_t level, int32_t rotate_size) {
    *slot = create_objlog(name, level, rotate_size);
    objlog_init(*slot, rotate_size);
}

void set_level_if_exists(objlog *log, int32_t level) {
    if (log) objlog_set_level(log, level);
}

}  // namespace

objlog *create_objlog(const char *name, int32_t level, int32_t rotate_size) {
    if (name == nullptr) return nullptr;
    objlog *log = new (std::nothrow) objlog;
    if (log == nullptr) return nullptr;
    log->name = name;
    log->level = level;
    log->rotate_size = rotate_size;
    return log;
}

int32_t destroy_objlog(objlog *log) {
    delete log;
    return 0;
}

void objlog_init(objlog *log, int32_t open_threshold) {
    if (log == nullptr) return;
    if (log->name == "stdout") {
        log->to_stdout = 1;
        return;
    }
    if (log->name == "stderr") {
        log->to_stderr = 1;
        return;
    }
    log->fp.reset(std::fopen(log->name.c_str(), "a"));
    if (!log->fp) {
        std::fprintf(stderr, "Cannot append to %s.\n", log->name.c_str());
        return;
    }
    give_to_nobody_if_root(log, nullptr);
    std::fseek(log->fp.get(), 0, SEEK_END);
    if (std::ftell(log->fp.get()) > open_threshold) objlog_rotate_now(log, 1);
}

void objlog_set_params(objlog *log, int32_t severity, const char *src_file, int32_t src_line) {
    log->severity = severity;
    log->src_file = src_file;
    log->src_line = src_line;
}

void objlog_do_print(objlog *log, const char *format, va_list ap) {
    if (log == nullptr) return;
    // The stream is read once: the caller's hold of `lock` keeps it open
    // until the message is written.
    FILE *stream = destination(log);
    if (stream == nullptr) return;
    char line[logfile::kLineCapacity];
    const size_t len = compose(log, line, format, ap);
    if (stream == stdout || stream == stderr) {
        std::fwrite(line, 1, len, stream);
        std::fflush(stream);
        return;
    }
    write_file_message(log, stream, line, len);
}

void rlog_do_print(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    objlog_do_print(rlog, format, ap);
    va_end(ap);
}

void flog_do_print(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    objlog_do_print(f_log, format, ap);
    va_end(ap);
}

void rlog_write(int32_t threshold, int32_t severity, const char *src_file, int32_t src_line,
                const char *format, ...) {
    objlog *log = rlog;
    if (log == nullptr) return;
    std::lock_guard<std::mutex> hold(log->lock);
    if (log->level.load(std::memory_order_relaxed) < threshold) return;
    objlog_set_params(log, severity, src_file, src_line);
    va_list ap;
    va_start(ap, format);
    objlog_do_print(log, format, ap);
    va_end(ap);
}

int32_t objlog_rotate_now(objlog *log, int32_t take_lock) {
    if (log == nullptr) return 1;
    std::unique_lock<std::mutex> hold(log->lock, std::defer_lock);
    if (take_lock) hold.lock();
    if (!log->fp) return 1;

    log->fp.reset();
    const char *path = log->name.c_str();
    logfile::shift_generations(path);
    const int32_t result =
        std::rename(path, logfile::generation_name(path, 0).c_str()) == 0 ? 0 : -1;
    log->fp.reset(std::fopen(path, "a"));
    give_to_nobody_if_root(log, log);
    return result;
}

long objlog_get_file_size(objlog *log) {
    if (log == nullptr || !log->fp) return -1;
    return std::ftell(log->fp.get());
}

void objlog_set_rotate_size(objlog *log, int32_t size) {
    log->rotate_size.store(size, std::memory_order_relaxed);
}

void objlog_set_level(objlog *log, int32_t level) {
    log->level.store(level, std::memory_order_relaxed);
}

void objlog_terminate(objlog *log) {
    // Under the lock: a writer that has read the stream keeps it until its
    // message is out, and every later one finds no destination.
    std::lock_guard<std::mutex> hold(log->lock);
    log->fp.reset();
    if (log->to_stdout) std::fflush(stdout);
    if (log->to_stderr) std::fflush(stderr);
    log->to_stdout = 0;
    log->to_stderr = 0;
}

void robot_log_init(const char *name, int32_t level, int32_t rotate_size) {
    init_global(&rlog, name, level, rotate_size);
}

void filter_log_init(const char *name, int32_t level, int32_t rotate_size) {
    init_global(&f_log, name, level, rotate_size);
}

void filter_log_rotate(int32_t threshold) {
    objlog *log = f_log;
    if (log == nullptr) return;
    std::lock_guard<std::mutex> hold(log->lock);
    if (!log->fp) return;
    if (threshold > 0) {
        std::fseek(log->fp.get(), 0, SEEK_END);
        if (std::ftell(log->fp.get()) <= threshold) return;
    }
    objlog_rotate_now(log, 0);
}

void robot_log_set_level(int32_t level) {
    set_level_if_exists(rlog, level);
}

void filter_log_set_level(int32_t level) {
    set_level_if_exists(f_log, level);
}

void objlog_show_pid(pid_t pid) {
    logfile::show_pid(pid);
}
