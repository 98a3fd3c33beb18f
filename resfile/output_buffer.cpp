#include "resfile/output_buffer.h"

#include <algorithm>
#include <cstring>

// The buffer is not zero-filled, so pages a short run never touches cost nothing.
OutputBuffer::OutputBuffer(OutputFile& sink, std::size_t capacity)
    : sink_(sink), buffer_(new char[capacity]), capacity_(capacity) {}

void OutputBuffer::put(const char* data, std::size_t size) {
    while (size > 0) {
        if (used_ == capacity_ && !flush()) return;
        const std::size_t chunk = std::min(size, capacity_ - used_);
        std::memcpy(buffer_.get() + used_, data, chunk);
        used_ += chunk;
        data += chunk;
        size -= chunk;
    }
}

void OutputBuffer::putZeros(std::size_t count) {
    static const char zeros[4096] = {};
    while (count > 0) {
        const std::size_t chunk = std::min(count, sizeof zeros);
        put(zeros, chunk);
        count -= chunk;
    }
}

Result<void> OutputBuffer::flush() {
    if (failed_) used_ = 0;  // bytes after a failure are dropped, never handed over
    else if (used_ > 0 && !sink_.write(buffer_.get(), used_)) failed_ = true;
    handedOver_ += used_;
    used_ = 0;
    if (failed_) return SystemError{SystemError::Kind::OTHER, sink_.errorText()};
    return {};
}

char* OutputBuffer::freeSpace(std::size_t minimum, std::size_t& available) {
    if (capacity_ - used_ < minimum) (void)flush();
    available = capacity_ - used_;
    return buffer_.get() + used_;
}

std::uint64_t OutputBuffer::copyInSystem(InputFile& input, std::uint64_t count) {
    if (count < SYSTEM_COPY_MIN_SIZE || !flush()) return 0;
    std::uint64_t copied = 0;
    while (copied < count) {
        const std::optional<std::uint64_t> got = sink_.copyFrom(input, count - copied);
        if (!got || *got == 0) break;
        copied += *got;
        handedOver_ += *got;
    }
    return copied;
}

bool OutputBuffer::dropFrom(std::uint64_t offset) {
    if (offset >= handedOver_) {
        used_ = static_cast<std::size_t>(std::min<std::uint64_t>(used_, offset - handedOver_));
        return true;
    }
    if (failed_ || !sink_.truncate(offset)) return false;
    handedOver_ = offset;
    used_ = 0;
    return true;
}
