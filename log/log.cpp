#include "log/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "log/log_file.h"

std::atomic<int32_t> _vellog_level{0};
int32_t _vellog_module = 1;

namespace {

using logfile::FilePtr;

constexpr int32_t kDefaultRotateSize = 5 * 1024 * 1024;
constexpr size_t kCopyPiece = 1024;
// The module log shows 0 where the object log shows the writer's thread.
constexpr logfile::ThreadTag kNoThread = {"0", "0"};

// The destination and rotation settings. `mu` guards every field and
// serialises whole messages and rotations.
struct ModuleLog {
    std::mutex mu;
    FilePtr fp;
    bool to_stdout = false;
    bool to_stderr = false;
    int32_t rotate_size = kDefaultRotateSize;
    std::string name;
};

ModuleLog &module_log() {
    static ModuleLog log;
    return log;
}

// Each thread describes its own next message, so two writers never mix.
thread_local logfile::MessageParams pending;

// Copies the file at path into the stream `to`; false when any byte could not
// be read or written. The live stream is write-only, so the copy reads
// through a descriptor of its own.
bool copy_file(const char *path, FILE *to) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char piece[kCopyPiece];
    bool ok = true;
    for (;;) {
        const ssize_t n = read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (std::fwrite(piece, 1, static_cast<size_t>(n), to) != static_cast<size_t>(n)) {
            ok = false;
            break;
        }
    }
    close(fd);
    return ok;
}

void rotate_locked(ModuleLog &log, bool force) {
    FILE *live = log.fp.get();
    if (live == nullptr) return;
    if (!force) {
        std::fseek(live, 0, SEEK_END);
        if (std::ftell(live) < log.rotate_size) return;
    }
    const char *path = log.name.c_str();
    logfile::shift_generations(path);
    FilePtr gen0(std::fopen(logfile::generation_name(path, 0).c_str(), "w"));
    if (!gen0) return;
    std::fflush(live);
    const bool copied = copy_file(path, gen0.get());
    // Empty the live file only when its content is safe in generation 0.
    if (std::fclose(gen0.release()) == 0 && copied) {
        if (ftruncate(fileno(live), 0) != 0) return;
    }
}

void write_line(ModuleLog &log, const char *line, size_t len) {
    if (log.to_stdout || log.to_stderr) {
        FILE *stream = log.to_stdout ? stdout : stderr;
        std::fwrite(line, 1, len, stream);
        std::fflush(stream);
        return;
    }
    rotate_locked(log, false);
    std::fwrite(line, 1, len, log.fp.get());
}

void print_pending(const char *format, va_list ap) {
    ModuleLog &log = module_log();
    std::lock_guard<std::mutex> hold(log.mu);
    if (!log.fp && !log.to_stdout && !log.to_stderr) return;
    char line[logfile::kLineCapacity];
    const size_t len = logfile::format_line(line, pending, kNoThread, format, ap);
    write_line(log, line, len);
}

void vellog_chown(const char *path, const char *user) {
    switch (logfile::give_to_user(path, user)) {
        case logfile::ChownResult::kDone:
            return;
        case logfile::ChownResult::kUnknownUser:
            vellog_write(1, logfile::kWarning, "log", 52, "Unknown user %s: Cannot chown %s.\n",
                         user, path);
            return;
        case logfile::ChownResult::kFailed:
            const int err = errno;
            vellog_write(1, logfile::kWarning, "log", 56, "chown: %s: %s\n", path,
                         std::strerror(err));
            return;
    }
}

bool is_blank_class(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

void vellog_init(int32_t level, const char *name) {
    ModuleLog &log = module_log();
    std::string opened;
    {
        std::lock_guard<std::mutex> hold(log.mu);
        _vellog_level.store(level, std::memory_order_relaxed);
        log.fp.reset();
        log.to_stdout = false;
        log.to_stderr = false;
        pending = {};
        if (name == nullptr || std::strcmp(name, "stderr") == 0) {
            log.to_stderr = true;
            return;
        }
        if (std::strcmp(name, "stdout") == 0) {
            log.to_stdout = true;
            return;
        }
        log.name = name;
        log.fp.reset(std::fopen(name, "a"));
        if (!log.fp) {
            std::fprintf(stderr, "Cannot append to %s.\n", name);
            return;
        }
        opened = log.name;
    }
    // Outside the lock: the change of owner reports through this log.
    if (geteuid() == 0) vellog_chown(opened.c_str(), "nobody");
}

void _vellog_set_params(int32_t severity, const char *src_file, int32_t src_line) {
    pending = {severity, src_file, src_line};
}

void _vellog_do_print(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    print_pending(format, ap);
    va_end(ap);
}

void vellog_write(int32_t threshold, int32_t severity, const char *src_file, int32_t src_line,
                  const char *format, ...) {
    if (_vellog_level.load(std::memory_order_relaxed) < threshold) return;
    _vellog_set_params(severity, src_file, src_line);
    va_list ap;
    va_start(ap, format);
    print_pending(format, ap);
    va_end(ap);
}

void vellog_rotate_now(int32_t force) {
    ModuleLog &log = module_log();
    std::lock_guard<std::mutex> hold(log.mu);
    rotate_locked(log, force != 0);
}

void vellog_set_rotate_size(int32_t size) {
    ModuleLog &log = module_log();
    std::lock_guard<std::mutex> hold(log.mu);
    log.rotate_size = size;
}

void vellog_set_level(int32_t level) {
    _vellog_level.store(level, std::memory_order_relaxed);
}

void vellog_terminate() {
    ModuleLog &log = module_log();
    std::lock_guard<std::mutex> hold(log.mu);
    log.fp.reset();
    if (log.to_stdout) std::fflush(stdout);
    if (log.to_stderr) std::fflush(stderr);
    log.to_stdout = false;
    log.to_stderr = false;
    log.name.clear();
}

char *vellog_linestr(const char *text) {
    const size_t len = text ? std::strlen(text) : 0;
    char *line = static_cast<char *>(std::malloc(len + 1));
    if (line == nullptr) std::exit(-1);
    for (size_t i = 0; i < len; ++i) line[i] = is_blank_class(text[i]) ? ' ' : text[i];
    line[len] = '\0';
    return line;
}

char *get_path_name(const char *path, char *dir, char *base) {
    if (path == nullptr) return nullptr;
    std::string d, b;
    logfile::split_path(path, &d, &b);
    std::memcpy(dir, d.c_str(), d.size() + 1);
    std::memcpy(base, b.c_str(), b.size() + 1);
    return base;
}
