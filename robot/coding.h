// Fixed-width encoding of stored integers, and a reader and a writer of
// stored bytes that never step past their end.
//
// Every integer in the crawler's database files is 32 bits wide, most
// significant byte first, so that Berkeley DB's byte-wise key order sorts
// record ids numerically.
#ifndef CRAWLPEEK_ROBOT_CODING_H_
#define CRAWLPEEK_ROBOT_CODING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

// Writes value at dst as 4 bytes, most significant first.
inline void encode_fixed32(uint8_t *dst, uint32_t value) {
    dst[0] = static_cast<uint8_t>(value >> 24);
    dst[1] = static_cast<uint8_t>(value >> 16);
    dst[2] = static_cast<uint8_t>(value >> 8);
    dst[3] = static_cast<uint8_t>(value);
}

// The 4 bytes at src, most significant first.
inline uint32_t decode_fixed32(const uint8_t *src) {
    return (static_cast<uint32_t>(src[0]) << 24) | (static_cast<uint32_t>(src[1]) << 16) |
           (static_cast<uint32_t>(src[2]) << 8) | static_cast<uint32_t>(src[3]);
}

// Reads a stored value front to back. Every read checks the bytes that remain
// and fails instead of reading past the end; a failed read leaves the
// position where it was.
class ByteReader {
  public:
    ByteReader(const void *data, size_t size)
        : data_(static_cast<const uint8_t *>(data)), size_(data == nullptr ? 0 : size) {}

    size_t position() const { return pos_; }
    size_t remaining() const { return size_ - pos_; }
    bool at_end() const { return pos_ == size_; }

    // The next byte, without moving.
    std::optional<uint8_t> peek_byte() const {
        if (at_end()) return std::nullopt;
        return data_[pos_];
    }

    std::optional<uint8_t> read_byte() {
        std::optional<uint8_t> b = peek_byte();
        if (b) ++pos_;
        return b;
    }

    std::optional<uint32_t> read_fixed32() {
        if (remaining() < 4) return std::nullopt;
        uint32_t v = decode_fixed32(data_ + pos_);
        pos_ += 4;
        return v;
    }

    // The next n bytes.
    std::optional<std::string_view> read_bytes(size_t n) {
        if (remaining() < n) return std::nullopt;
        std::string_view v(reinterpret_cast<const char *>(data_ + pos_), n);
        pos_ += n;
        return v;
    }

    // A string ended by a zero byte, without that byte; the position moves past
    // the zero. Fails when no zero byte comes before the end.
    std::optional<std::string_view> read_cstring() {
        if (at_end()) return std::nullopt;
        const void *nul = std::memchr(data_ + pos_, 0, remaining());
        if (nul == nullptr) return std::nullopt;
        size_t n = static_cast<const uint8_t *>(nul) - (data_ + pos_);
        std::string_view v(reinterpret_cast<const char *>(data_ + pos_), n);
        pos_ += n + 1;
        return v;
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// Writes a stored value front to back into a buffer of fixed capacity. A
// write that does not fit fails and writes nothing.
class ByteWriter {
  public:
    ByteWriter(uint8_t *data, size_t capacity) : data_(data), capacity_(capacity) {}

    size_t position() const { return pos_; }

    bool write_byte(uint8_t b) { return write_bytes(&b, 1); }

    bool write_fixed32(uint32_t value) {
        uint8_t bytes[4];
        encode_fixed32(bytes, value);
        return write_bytes(bytes, sizeof bytes);
    }

    bool write_bytes(const void *src, size_t n) {
        if (capacity_ - pos_ < n) return false;
        if (n != 0) std::memcpy(data_ + pos_, src, n);
        pos_ += n;
        return true;
    }

    // text and its zero byte.
    bool write_cstring(std::string_view text) {
        if (capacity_ - pos_ <= text.size()) return false;
        return write_bytes(text.data(), text.size()) && write_byte(0);
    }

  private:
    uint8_t *data_;
    size_t capacity_;
    size_t pos_ = 0;
};

#endif  // CRAWLPEEK_ROBOT_CODING_H_
