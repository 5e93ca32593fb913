#include "tool/reading/temp_file.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// Spill files are written and read front to back in long runs.
constexpr size_t kStreamBuffer = 1 << 20;

}  // namespace

TempFile::TempFile() {
    const char *dir = std::getenv("TMPDIR");
    std::string name = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") +
                       "/crawlpeek-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) return;
    unlink(name.c_str());
    file_ = fdopen(fd, "w+");
    if (file_ == nullptr) {
        close(fd);
        return;
    }
    std::setvbuf(file_, nullptr, _IOFBF, kStreamBuffer);
}

TempFile::~TempFile() {
    if (file_ != nullptr) std::fclose(file_);
}
