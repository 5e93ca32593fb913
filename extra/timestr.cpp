#include "extra/timestr.h"

namespace {

void format_gmt(time_t t, char *buf, size_t cap, const char *format) {
    struct tm parts = {};
    gmtime_r(&t, &parts);
    if (cap == 0) return;
    buf[0] = '\0';
    strftime(buf, cap, format, &parts);
}

}  // namespace

void vel_time2str(time_t t, char *buf, size_t cap) {
    format_gmt(t, buf, cap, "%a, %d %h %Y %H:%M:%S GMT");
}

void vel_time2str_simple_dateonly(time_t t, char *buf, size_t cap) {
    format_gmt(t, buf, cap, "%m/%d/%y");
}

void vel_time2str_simple_datetimeonly(time_t t, char *buf, size_t cap) {
    format_gmt(t, buf, cap, "%m/%d/%y %H:%M:%S");
}

void vel_time2informix(time_t t, char *buf, size_t cap) {
    const struct tm *parts = localtime(&t);
    if (cap == 0) return;
    buf[0] = '\0';
    if (parts != nullptr) strftime(buf, cap, "%Y-%m-%d %T", parts);
}
