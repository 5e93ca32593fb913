#include "tool/crawldb/progress.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>

namespace {

constexpr std::chrono::seconds kQuietTime{2};
constexpr std::chrono::milliseconds kRefresh{250};

int progress_fd = STDERR_FILENO;

}  // namespace

Progress::Progress(std::string what, uint64_t total)
    : what_(std::move(what)),
      total_(total),
      enabled_(isatty(progress_fd) == 1),
      start_(std::chrono::steady_clock::now()),
      next_show_(start_ + kQuietTime) {}

void Progress::show_on(int fd) {
    progress_fd = fd;
}

Progress::~Progress() {
    if (!shown_) return;
    // Back to the start of the line, which is then cleared to its end.
    dprintf(progress_fd, "\r\x1b[K");
}

void Progress::show() {
    const auto now = std::chrono::steady_clock::now();
    if (now < next_show_) return;
    next_show_ = now + kRefresh;
    shown_ = true;
    // Records added by a live crawler can take the count past the total.
    if (total_ != 0 && done_ <= total_) {
        dprintf(progress_fd, "\rcrawldb %s: %" PRIu64 " of %" PRIu64 " records (%" PRIu64 "%%)",
                what_.c_str(), done_, total_, done_ * 100 / total_);
    } else {
        dprintf(progress_fd, "\rcrawldb %s: %" PRIu64 " records", what_.c_str(), done_);
    }
}
