// A scratch file that no other process can find and that goes with its
// last descriptor: it is removed from its directory as soon as it is made,
// so a dump that is killed leaves nothing behind.
#ifndef CRAWLPEEK_TOOL_READING_TEMP_FILE_H_
#define CRAWLPEEK_TOOL_READING_TEMP_FILE_H_

#include <cstdio>

class TempFile {
  public:
    // Makes the file in $TMPDIR, or /tmp when that is not set; file() is
    // null when it cannot be made.
    TempFile();
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    // The stream, open for reading and writing with a large buffer; null
    // when the file could not be made.
    FILE *file() const { return file_; }

  private:
    FILE *file_ = nullptr;
};

#endif  // CRAWLPEEK_TOOL_READING_TEMP_FILE_H_
