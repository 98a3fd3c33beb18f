// Buffers the bytes of the resource file (or of the console) in front of an
// OutputFile, and can take back an entry that turned out bad.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_system.h"

class OutputBuffer {
public:
    explicit OutputBuffer(OutputFile& sink, std::size_t capacity = DEFAULT_CAPACITY);

    static constexpr std::size_t DEFAULT_CAPACITY = std::size_t{1} << 20;

    void put(const char* data, std::size_t size);
    void putZeros(std::size_t count);
    // Hands every buffered byte to the sink. Fails, with the system's words, once any
    // write has failed; after a failure, later bytes are dropped.
    Result<void> flush();
    bool failed() const { return failed_; }

    // Bytes accepted so far, buffered ones included: the offset of the next byte.
    std::uint64_t position() const { return handedOver_ + used_; }

    // Space to read into directly, at least `minimum` bytes (flushing to make room),
    // and the commit of what was read there.
    char* freeSpace(std::size_t minimum, std::size_t& available);
    void commit(std::size_t size) { used_ += size; }

    // Appends up to `count` bytes of `input` copied by the system, after writing out
    // what is buffered. Returns how many were copied: none below SYSTEM_COPY_MIN_SIZE,
    // fewer when the system cannot copy between the two, the input ended early, or
    // either side failed; the caller copies the rest through the buffer, and so meets
    // whatever stopped this.
    std::uint64_t copyInSystem(InputFile& input, std::uint64_t count);
    // From this many bytes on, the system's copy saves more than the write of the
    // buffered bytes before it costs.
    static constexpr std::uint64_t SYSTEM_COPY_MIN_SIZE = std::uint64_t{1} << 20;
    // Reads into the buffer ask for at least this much space: less would mean many
    // small system calls.
    static constexpr std::size_t MIN_READ_SPACE = 64 * 1024;

    // Takes back everything from `offset` on, from the buffer when the bytes are
    // still there, else by truncating the sink. False when that is impossible.
    [[nodiscard]] bool dropFrom(std::uint64_t offset);

private:
    OutputFile& sink_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_;
    std::size_t used_ = 0;
    std::uint64_t handedOver_ = 0;
    bool failed_ = false;
};
