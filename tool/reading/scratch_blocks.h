// Scratch bytes written and read in blocks, every write and read checked.
//
// A ScratchFile is one unlinked file (TempFile) that writers append whole
// blocks to. Each ScratchWriter keeps the extents its blocks took, so that
// several writers may share one file (the partitions of a dump's ids, say)
// and each still reads back as one stream through a ScratchReader. The
// first failed write is kept in the file and every later append refused:
// what was written before it stays readable, and no writer believes a
// block is there that is not.
#ifndef CRAWLPEEK_TOOL_READING_SCRATCH_BLOCKS_H_
#define CRAWLPEEK_TOOL_READING_SCRATCH_BLOCKS_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tool/reading/temp_file.h"

// A run of bytes of a scratch file.
struct ScratchExtent {
    off_t offset = 0;
    size_t size = 0;
};

class ScratchFile {
  public:
    ScratchFile() : error_(file_.error()) {}

    int fd() const { return file_.fd(); }
    // The errno of the failed making or of the first failed write; 0 while
    // every write has gone through.
    int error() const { return error_; }

    // Writes size bytes at the end of the file, at *at; false, keeping the
    // reason in error(), when they were not all written.
    bool append(const char *data, size_t size, off_t *at);

  private:
    TempFile file_;
    off_t end_ = 0;
    int error_;
};

class ScratchWriter {
  public:
    // Appends to file through a buffer of block bytes, taken at the first put.
    ScratchWriter(ScratchFile *file, size_t block) : file_(file), block_(block) {}

    void put(const void *data, size_t size) {
        // Most puts are a few bytes into a buffer with room.
        if (size <= buffer_.size() - used_) {
            std::memcpy(buffer_.data() + used_, data, size);
            used_ += size;
        } else {
            put_slowly(data, size);
        }
    }
    void put_u32(uint32_t value) { put(&value, sizeof value); }
    // The size as 32 bits, then the bytes.
    void put_text(std::string_view text);

    // Writes what the buffer holds and gives the buffer back; whether every
    // byte put has reached the file.
    bool finish();

    // Where the bytes written so far lie, in order.
    const std::vector<ScratchExtent> &extents() const { return extents_; }

  private:
    void put_slowly(const void *data, size_t size);
    bool write_buffer();

    ScratchFile *file_;
    size_t block_;
    std::vector<char> buffer_;  // empty until the first put, and after finish
    size_t used_ = 0;           // bytes of buffer_ not yet written
    std::vector<ScratchExtent> extents_;
    bool failed_ = false;
};

class ScratchReader {
  public:
    // Reads the bytes of extents of the file open on fd, front to back,
    // through a buffer of block bytes.
    ScratchReader(int fd, std::vector<ScratchExtent> extents, size_t block);

    // The next size bytes into to; false when fewer remain or the file
    // could not be read (error() then says why). Nothing is read past the
    // extents.
    bool read(void *to, size_t size) {
        // Most reads are a few bytes the buffer holds.
        if (size <= filled_ - used_) {
            std::memcpy(to, buffer_.data() + used_, size);
            used_ += size;
            remaining_ -= size;
            return true;
        }
        return read_slowly(to, size);
    }
    bool read_u32(uint32_t *value) { return read(value, sizeof *value); }
    // What put_text wrote; false also when its size passes what remains.
    bool read_text(std::string *text);

    // Bytes not yet read.
    uint64_t remaining() const { return remaining_; }
    // The errno of a failed read; 0 while none failed.
    int error() const { return error_; }

  private:
    bool read_slowly(void *to, size_t size);
    bool fill();

    int fd_;
    std::vector<ScratchExtent> extents_;
    size_t extent_ = 0;           // the extent the next fill reads from
    size_t extent_read_ = 0;      // bytes of it already in the buffer
    std::vector<char> buffer_;
    size_t used_ = 0;
    size_t filled_ = 0;
    uint64_t remaining_ = 0;
    int error_ = 0;
};

#endif  // CRAWLPEEK_TOOL_READING_SCRATCH_BLOCKS_H_
