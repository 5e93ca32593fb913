// A fresh temporary directory for one test, removed with everything in it
// when the object goes.
#ifndef CRAWLPEEK_TESTS_SUPPORT_SCRATCH_DIR_H_
#define CRAWLPEEK_TESTS_SUPPORT_SCRATCH_DIR_H_

#include <string>

class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &path() const { return path_; }
    // path() joined with name.
    std::string file(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The whole content of a file; empty when it cannot be read.
std::string read_file(const std::string &path);
// Replaces the file's content; false on failure.
bool write_file(const std::string &path, const std::string &content);
bool file_exists(const std::string &path);

#endif  // CRAWLPEEK_TESTS_SUPPORT_SCRATCH_DIR_H_
