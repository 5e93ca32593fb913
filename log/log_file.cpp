#include "log/log_file.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <ctime>

namespace logfile {

namespace {

// The process id lines show in place of the writer's own; 0 for none.
std::atomic<pid_t> shown_pid{0};

const char *or_placeholder(const char *text) {
    if (text == nullptr) return "(null)";
    return *text == '\0' ? "(empty)" : text;
}

const char *base_name(const char *path) {
    if (path == nullptr) return nullptr;
    const char *slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

bool exists(const std::string &path) {
    FILE *fp = std::fopen(path.c_str(), "r");
    if (fp == nullptr) return false;
    std::fclose(fp);
    return true;
}

// Clamps a snprintf result to what the buffer really received.
size_t written(int result, size_t used, size_t cap) {
    if (result < 0) return used;
    size_t end = used + static_cast<size_t>(result);
    return end < cap ? end : cap - 1;
}

}  // namespace

void show_pid(pid_t pid) {
    shown_pid.store(pid, std::memory_order_relaxed);
}

void format_timestamp(char *buf, size_t cap) {
    time_t now = std::time(nullptr);
    struct tm parts = {};
    localtime_r(&now, &parts);
    buf[0] = '\0';
    std::strftime(buf, cap, "[%d/%b/%Y:%H:%M:%S]", &parts);
}

size_t format_line(char *buf, const MessageParams &params, ThreadTag tag, const char *format,
                   va_list ap) {
    char stamp[64];
    format_timestamp(stamp, sizeof stamp);
    const pid_t shown = shown_pid.load(std::memory_order_relaxed);
    const int pid = static_cast<int>(shown != 0 ? shown : getpid());
    int n;
    switch (params.severity) {
        case kLocated:
            n = std::snprintf(buf, kLineCapacity, "%s %5d@%s: (%s:%d):\t ", stamp, pid, tag.located,
                              or_placeholder(base_name(params.src_file)), params.src_line);
            break;
        case kWarning:
            n = std::snprintf(buf, kLineCapacity, "%s %5d@%s: WARNING: ", stamp, pid, tag.plain);
            break;
        case kError:
            n = std::snprintf(buf, kLineCapacity, "%s %5d@%s: ERROR: ", stamp, pid, tag.plain);
            break;
        default:
            n = std::snprintf(buf, kLineCapacity, "%s %5d@%s:\t ", stamp, pid, tag.plain);
            break;
    }
    return append_message(buf, written(n, 0, kLineCapacity), format, ap);
}

size_t append_message(char *buf, size_t used, const char *format, va_list ap) {
    const size_t cap = kLineCapacity;
    int n;
    if (format == nullptr || *format == '\0') {
        n = std::snprintf(buf + used, cap - used, "%s", or_placeholder(format));
    } else {
        n = std::vsnprintf(buf + used, cap - used, format, ap);
    }
    const bool cut = n >= 0 && used + static_cast<size_t>(n) >= cap;
    size_t end = written(n, used, cap);
    // A cut line still ends the line, so the next message starts on its own.
    if (cut) buf[end - 1] = '\n';
    return end;
}

bool split_path(const char *path, std::string *dir, std::string *base) {
    const char *sep = std::strrchr(path, '/');
    if (sep == nullptr) sep = std::strrchr(path, '\\');
    if (sep == nullptr) {
        dir->clear();
        base->assign(path);
        return false;
    }
    dir->assign(path, static_cast<size_t>(sep - path));
    base->assign(sep + 1);
    return true;
}

std::string generation_name(const char *path, int n) {
    std::string dir, base;
    std::string suffix(1, '.');
    suffix += std::to_string(n);
    if (!split_path(path, &dir, &base)) return base + suffix;
    return dir + "/" + base + suffix;
}

void shift_generations(const char *path) {
    int free_gen = 0;
    while (free_gen < kLastGeneration && exists(generation_name(path, free_gen))) ++free_gen;
    if (free_gen == kLastGeneration && exists(generation_name(path, kLastGeneration))) {
        std::remove(generation_name(path, kLastGeneration).c_str());
    }
    for (int k = free_gen; k >= 1; --k) {
        std::rename(generation_name(path, k - 1).c_str(), generation_name(path, k).c_str());
    }
}

ChownResult give_to_user(const char *path, const char *user) {
    struct passwd entry;
    struct passwd *found = nullptr;
    char scratch[4096];
    if (getpwnam_r(user, &entry, scratch, sizeof scratch, &found) != 0 || found == nullptr) {
        return ChownResult::kUnknownUser;
    }
    if (chown(path, found->pw_uid, found->pw_gid) != 0) return ChownResult::kFailed;
    return ChownResult::kDone;
}

}  // namespace logfile
