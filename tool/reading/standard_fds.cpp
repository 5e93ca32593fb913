#include "tool/reading/standard_fds.h"

#include <fcntl.h>
#include <unistd.h>

unsigned standard_fds_reopen() {
    unsigned closed = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        closed |= 1u << fd;
        // The lowest free descriptor is this one: those below it are open.
        const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
    return closed;
}
