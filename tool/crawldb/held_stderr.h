// Standard error held back, to be shown or dropped once the caller knows
// whether what was said there still matters.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_HELD_STDERR_H_
#define CRAWLPEEK_TOOL_CRAWLDB_HELD_STDERR_H_

class HeldStderr {
  public:
    // From now on, what this process and the children it starts write on
    // descriptor 2 is kept in memory. When that cannot be arranged, it goes
    // out as always.
    HeldStderr();
    // Releases what is held.
    ~HeldStderr() { release(); }
    HeldStderr(const HeldStderr &) = delete;
    HeldStderr &operator=(const HeldStderr &) = delete;

    // Drops what has been held so far.
    void discard();
    // Puts descriptor 2 back and writes out what is held; nothing is held
    // from then on.
    void release();

  private:
    int held_ = -1;   // the memory file descriptor 2 writes into
    int stderr_ = -1; // standard error as it was
};

#endif  // CRAWLPEEK_TOOL_CRAWLDB_HELD_STDERR_H_
