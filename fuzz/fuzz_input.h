// Reading a fuzzer's input as a sequence of small decisions, and handing
// bytes to Berkeley DB-style readers.
#ifndef CRAWLPEEK_FUZZ_FUZZ_INPUT_H_
#define CRAWLPEEK_FUZZ_FUZZ_INPUT_H_

#include <db.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

class FuzzInput {
  public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ == size_; }

    // The next byte; 0 once the input is used up.
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

    // The next two bytes as a number, low byte first.
    uint32_t u16() {
        const uint32_t low = byte();
        return low | static_cast<uint32_t>(byte()) << 8;
    }

    // Up to n of the next bytes.
    std::string_view bytes(size_t n) {
        if (n > size_ - at_) n = size_ - at_;
        std::string_view taken(reinterpret_cast<const char *>(data_ + at_), n);
        at_ += n;
        return taken;
    }

    // The bytes up to the next zero byte (which is consumed), or to the end.
    std::string_view until_zero() {
        const size_t start = at_;
        while (at_ < size_ && data_[at_] != 0) ++at_;
        std::string_view taken(reinterpret_cast<const char *>(data_ + start), at_ - start);
        if (at_ < size_) ++at_;
        return taken;
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

// A descriptor of size bytes at data, which the caller keeps.
inline DBT dbt_over(const void *data, size_t size) {
    DBT dbt{};
    dbt.data = const_cast<void *>(data);
    dbt.size = static_cast<uint32_t>(size);
    return dbt;
}

#endif  // CRAWLPEEK_FUZZ_FUZZ_INPUT_H_
