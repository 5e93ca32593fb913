#include "tool/reading/scratch_blocks.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

bool ScratchFile::append(const char *data, size_t size, off_t *at) {
    if (error_ != 0) return false;
    *at = end_;
    while (size > 0) {
        const ssize_t wrote = pwrite(fd(), data, size, end_);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            // A write of no bytes makes no progress: the disk is full.
            error_ = wrote < 0 ? errno : ENOSPC;
            return false;
        }
        data += wrote;
        size -= static_cast<size_t>(wrote);
        end_ += wrote;
    }
    return true;
}

void ScratchWriter::put_slowly(const void *data, size_t size) {
    if (failed_) return;
    if (buffer_.empty()) buffer_.resize(block_);
    const char *from = static_cast<const char *>(data);
    while (size > 0) {
        if (used_ == buffer_.size() && !write_buffer()) return;
        const size_t piece = std::min(size, buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, from, piece);
        used_ += piece;
        from += piece;
        size -= piece;
    }
}

void ScratchWriter::put_text(std::string_view text) {
    put_u32(static_cast<uint32_t>(text.size()));
    put(text.data(), text.size());
}

bool ScratchWriter::write_buffer() {
    off_t at = 0;
    if (!file_->append(buffer_.data(), used_, &at)) {
        failed_ = true;
        return false;
    }
    // Blocks of one writer alone in its file lie end to end: one extent.
    if (!extents_.empty() &&
        extents_.back().offset + static_cast<off_t>(extents_.back().size) == at) {
        extents_.back().size += used_;
    } else {
        extents_.push_back({at, used_});
    }
    used_ = 0;
    return true;
}

bool ScratchWriter::finish() {
    if (!failed_ && used_ > 0) write_buffer();
    std::vector<char>().swap(buffer_);
    used_ = 0;
    return !failed_;
}

ScratchReader::ScratchReader(int fd, std::vector<ScratchExtent> extents, size_t block)
    : fd_(fd), extents_(std::move(extents)), buffer_(block) {
    for (const ScratchExtent &extent : extents_) remaining_ += extent.size;
}

bool ScratchReader::fill() {
    while (extent_ < extents_.size() && extent_read_ == extents_[extent_].size) {
        ++extent_;
        extent_read_ = 0;
    }
    if (extent_ == extents_.size()) return false;
    const ScratchExtent &extent = extents_[extent_];
    const size_t want = std::min(buffer_.size(), extent.size - extent_read_);
    ssize_t got;
    while ((got = pread(fd_, buffer_.data(), want, extent.offset + static_cast<off_t>(extent_read_))) <
               0 &&
           errno == EINTR) {
    }
    if (got <= 0) {
        // The extent was written whole: a file that ends before it has lost bytes.
        error_ = got < 0 ? errno : EIO;
        return false;
    }
    extent_read_ += static_cast<size_t>(got);
    used_ = 0;
    filled_ = static_cast<size_t>(got);
    return true;
}

bool ScratchReader::read_slowly(void *to, size_t size) {
    if (error_ != 0 || size > remaining_) return false;
    char *out = static_cast<char *>(to);
    while (size > 0) {
        if (used_ == filled_ && !fill()) return false;
        const size_t piece = std::min(size, filled_ - used_);
        std::memcpy(out, buffer_.data() + used_, piece);
        used_ += piece;
        out += piece;
        size -= piece;
        remaining_ -= piece;
    }
    return true;
}

bool ScratchReader::read_text(std::string *text) {
    uint32_t size = 0;
    if (!read_u32(&size) || size > remaining_) return false;
    text->resize(size);
    return read(text->data(), size);
}
