#include "extra/rlimits.h"

#include "log/log.h"

namespace {

constexpr char kSource[] = "extra";

// Sets the limit and reports a failure under the resource's name.
void set_and_report(int resource, const char *name, rlim_t value, bool to_hard, int line) {
    switch (vel_set_soft_limit(resource, value, to_hard)) {
    case 1:
        vellog_write(1, 3, kSource, line, "getrlimit(%s)\n", name);
        break;
    case 2:
        vellog_write(1, 3, kSource, line, "setrlimit(%s)\n", name);
        break;
    default:
        break;
    }
}

}  // namespace

int vel_set_soft_limit(int resource, rlim_t value, bool to_hard) {
    struct rlimit limit;
    if (getrlimit(resource, &limit) != 0) return 1;
    limit.rlim_cur = to_hard ? limit.rlim_max : value;
    return setrlimit(resource, &limit) == 0 ? 0 : 2;
}

void libvel_set_filedescs(int32_t count) {
    set_and_report(RLIMIT_NOFILE, "RLIMIT_NOFILE", static_cast<rlim_t>(count), false, __LINE__);
}

void libvel_set_cputime(int32_t seconds) {
    set_and_report(RLIMIT_CPU, "RLIMIT_CPU", static_cast<rlim_t>(seconds), false, __LINE__);
}

void libvel_max_filedescs() { set_and_report(RLIMIT_NOFILE, "RLIMIT_NOFILE", 0, true, __LINE__); }

void libvel_max_heap() { set_and_report(RLIMIT_DATA, "RLIMIT_DATA", 0, true, __LINE__); }
