#include "tool/reading/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

std::string TempFile::scratch_directory() {
    const char *dir = std::getenv("TMPDIR");
    return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

TempFile::TempFile() {
    std::string name = scratch_directory() + "/crawlpeek-XXXXXX";
    // Close-on-exec: the verifier and other children have no use for it.
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    unlink(name.c_str());
}

TempFile::~TempFile() {
    if (fd_ >= 0) close(fd_);
}
