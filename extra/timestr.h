// Time values as text, written into a buffer of the caller's.
//
// Each formatter takes the time value (seconds since the epoch), the buffer
// and its capacity including the terminating NUL. The buffer's first byte is
// set to NUL before formatting; a capacity too small for the text leaves the
// contents to strftime. Every caller in the system passes 256 bytes.
#ifndef CRAWLPEEK_EXTRA_TIMESTR_H_
#define CRAWLPEEK_EXTRA_TIMESTR_H_

#include <cstddef>
#include <ctime>

// "Thu, 01 Jan 1970 00:00:00 GMT": always converted as GMT. Thread-safe.
void vel_time2str(time_t t, char *buf, size_t cap);

// "01/01/70", in GMT. Thread-safe.
void vel_time2str_simple_dateonly(time_t t, char *buf, size_t cap);

// "01/01/70 00:00:00", in GMT. Thread-safe.
void vel_time2str_simple_datetimeonly(time_t t, char *buf, size_t cap);

// "1970-01-01 00:00:00" in the local time zone. Uses localtime's shared
// record, so concurrent callers may see each other's values.
void vel_time2informix(time_t t, char *buf, size_t cap);

#endif  // CRAWLPEEK_EXTRA_TIMESTR_H_
