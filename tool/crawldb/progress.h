// Progress of a long walk for an operator watching a terminal.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_PROGRESS_H_
#define CRAWLPEEK_TOOL_CRAWLDB_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <string>

// Once a walk has run for 2 s, shows on standard error how many records it
// has read (of total, when that is known), and erases the line when it goes.
// Shows nothing when standard error is not a terminal.
class Progress {
  public:
    // what names the walk, as "check: vid.db"; total 0 when unknown.
    Progress(std::string what, uint64_t total);
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    // Shows progress on fd rather than on standard error (which may be
    // held back meanwhile); for every Progress made later.
    static void show_on(int fd);

    // Counts one record read.
    void step() {
        if (enabled_ && ++done_ % kStride == 0) show();
    }

  private:
    // Records between two looks at the clock.
    static constexpr uint64_t kStride = 4096;

    void show();

    std::string what_;
    uint64_t total_;
    uint64_t done_ = 0;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point next_show_;
};

#endif  // CRAWLPEEK_TOOL_CRAWLDB_PROGRESS_H_
