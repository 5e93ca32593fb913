// A fresh temporary directory for one test, removed with everything in it
// when the object goes; and whole files read and written.
#ifndef CRAWLPEEK_TESTS_SUPPORT_SCRATCH_DIR_H_
#define CRAWLPEEK_TESTS_SUPPORT_SCRATCH_DIR_H_

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

class ScratchDir {
  public:
    ScratchDir() : path_((std::filesystem::temp_directory_path() / "crawlpeek-XXXXXX").string()) {
        if (mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &path() const { return path_; }
    // path() joined with name.
    std::string file(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The whole content of a file; empty when it cannot be read.
inline std::string read_file(const std::string &path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}
// Replaces the file's content; false on failure.
inline bool write_file(const std::string &path, const std::string &content) {
    return static_cast<bool>(std::ofstream(path, std::ios::binary | std::ios::trunc) << content);
}
inline bool file_exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

#endif  // CRAWLPEEK_TESTS_SUPPORT_SCRATCH_DIR_H_
