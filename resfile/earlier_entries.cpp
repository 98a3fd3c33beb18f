#include "resfile/earlier_entries.h"

#include <algorithm>

namespace {

// A window large enough to hold the headers of many small entries in one read.
constexpr std::size_t HEADER_WINDOW_BYTES = 64 << 10;
constexpr std::uint64_t READING_POSITION_UNKNOWN = UINT64_MAX;

}  // namespace

bool EarlierEntries::holdsAt(std::uint64_t offset, std::string_view bytes) {
    const bool inWindow = offset >= windowStart_ && offset - windowStart_ <= window_.size() &&
                          bytes.size() <= window_.size() - (offset - windowStart_);
    if (!inWindow) {
        readingAt_ = READING_POSITION_UNKNOWN;  // the copy must seek again
        window_.resize(std::max(HEADER_WINDOW_BYTES, bytes.size()));
        windowStart_ = offset;
        std::size_t filled = 0;
        if (earlier_->seek(offset)) {
            while (filled < window_.size()) {
                const std::optional<std::size_t> got = earlier_->read(&window_[filled], window_.size() - filled);
                if (!got || *got == 0) break;
                filled += *got;
            }
        }
        window_.resize(filled);
        if (bytes.size() > filled) return false;
    }
    return std::string_view(window_).substr(static_cast<std::size_t>(offset - windowStart_), bytes.size()) == bytes;
}

void EarlierEntries::add(std::uint64_t offset, std::uint64_t length) {
    if (pendingLength_ > 0 && offset == pendingOffset_ + pendingLength_) {
        pendingLength_ += length;
        return;
    }
    // A failure here stays: the caller's next flush() meets and reports it.
    (void)flush();
    pendingOffset_ = offset;
    pendingLength_ = length;
}

Result<void> EarlierEntries::flush() {
    if (pendingLength_ == 0) return {};
    switch (copySpan(pendingOffset_, pendingLength_)) {
    case Outcome::COPIED: pendingLength_ = 0; return {};
    case Outcome::OUTPUT_FAILED: return out_.flush();  // a failed output's flush says why
    case Outcome::EARLIER_FAILED: break;
    }
    return SystemError{SystemError::Kind::OTHER, earlierError_};
}

EarlierEntries::Outcome EarlierEntries::copySpan(std::uint64_t offset, std::uint64_t length) {
    if (out_.failed()) return Outcome::OUTPUT_FAILED;
    if (!earlierError_.empty()) return Outcome::EARLIER_FAILED;
    if (offset != readingAt_ && !earlier_->seek(offset)) {
        earlierError_ = "it could not be read";
        return Outcome::EARLIER_FAILED;
    }
    readingAt_ = offset;
    std::uint64_t remaining = length - out_.copyInSystem(*earlier_, length);
    if (out_.failed()) return Outcome::OUTPUT_FAILED;
    while (remaining > 0) {
        std::size_t space = 0;
        char* target = out_.freeSpace(OutputBuffer::MIN_READ_SPACE, space);
        if (out_.failed()) return Outcome::OUTPUT_FAILED;
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(space, remaining));
        const std::optional<std::size_t> got = earlier_->read(target, wanted);
        if (!got || *got == 0) {
            earlierError_ = got ? "it is shorter than its record says" : "it could not be read";
            return Outcome::EARLIER_FAILED;
        }
        out_.commit(*got);
        remaining -= *got;
    }
    readingAt_ = offset + length;
    return Outcome::COPIED;
}
