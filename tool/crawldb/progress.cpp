#include "tool/crawldb/progress.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>

namespace {

constexpr std::chrono::seconds kQuietTime{2};
constexpr std::chrono::milliseconds kRefresh{250};

}  // namespace

Progress::Progress(std::string what, uint64_t total)
    : what_(std::move(what)),
      total_(total),
      enabled_(isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()),
      next_show_(start_ + kQuietTime) {}

Progress::~Progress() {
    if (!shown_) return;
    // Back to the start of the line, which is then cleared to its end.
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
}

void Progress::show() {
    const auto now = std::chrono::steady_clock::now();
    if (now < next_show_) return;
    next_show_ = now + kRefresh;
    shown_ = true;
    // Records added by a live crawler can take the count past the total.
    if (total_ != 0 && done_ <= total_) {
        std::fprintf(stderr, "\rcrawldb %s: %" PRIu64 " of %" PRIu64 " records (%" PRIu64 "%%)",
                     what_.c_str(), done_, total_, done_ * 100 / total_);
    } else {
        std::fprintf(stderr, "\rcrawldb %s: %" PRIu64 " records", what_.c_str(), done_);
    }
    std::fflush(stderr);
}
