// Resource limits of the calling process. Each setter changes only the soft
// (current) limit and leaves the hard limit as it is; a failure is reported
// in the module log at severity ERROR and leaves the limit unchanged.
#ifndef CRAWLPEEK_EXTRA_RLIMITS_H_
#define CRAWLPEEK_EXTRA_RLIMITS_H_

#include <sys/resource.h>

#include <cstdint>

// Sets the soft open-files limit to count.
void libvel_set_filedescs(int32_t count);

// Sets the soft CPU-time limit to seconds.
void libvel_set_cputime(int32_t seconds);

// Raises the soft open-files limit to the hard limit.
void libvel_max_filedescs();

// Raises the soft data-segment limit to the hard limit.
void libvel_max_heap();

// Sets the soft limit of resource to value, or to the hard limit when
// to_hard is true. Reports nothing, so a child between fork and exec can
// call it. 0 on success, 1 when getrlimit fails, 2 when setrlimit fails.
int vel_set_soft_limit(int resource, rlim_t value, bool to_hard);

#endif  // CRAWLPEEK_EXTRA_RLIMITS_H_
