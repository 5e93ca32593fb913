// A scratch file that no other process can find and that goes with its
// last descriptor: it is removed from its directory as soon as it is made,
// so a dump that is killed leaves nothing behind.
#ifndef CRAWLPEEK_TOOL_READING_TEMP_FILE_H_
#define CRAWLPEEK_TOOL_READING_TEMP_FILE_H_

#include <string>

class TempFile {
  public:
    // Makes the file in scratch_directory(); fd() is negative and error()
    // says why when it cannot be made.
    TempFile();
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    // The descriptor, open for reading and writing; negative when the file
    // could not be made.
    int fd() const { return fd_; }
    // The errno of the failed making; 0 when the file was made.
    int error() const { return error_; }

    // Where scratch files are made: $TMPDIR, or /tmp when it is unset or empty.
    static std::string scratch_directory();

  private:
    int fd_ = -1;
    int error_ = 0;
};

#endif  // CRAWLPEEK_TOOL_READING_TEMP_FILE_H_
