// Copies entries from the resource file an earlier run wrote into the new one, for
// the files that have not changed since: an entry's bytes do not depend on where it
// lies, and entries that lay side by side go as one span, copied by the system where
// it can. An update then costs what changed, not everything stored.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "resfile/output_buffer.h"

class EarlierEntries {
public:
    // `earlier` is the earlier resource file, opened for reading; `out` the new one.
    EarlierEntries(std::unique_ptr<InputFile> earlier, OutputBuffer& out) : earlier_(std::move(earlier)), out_(out) {}

    // True when the earlier file holds exactly `bytes` at `offset`: a record's word on
    // where an entry lies is checked against the entry's header before it is copied.
    // Headers that lie close together are read in one go.
    bool holdsAt(std::uint64_t offset, std::string_view bytes);

    // Takes the entry of `length` bytes at `offset` of the earlier file as the next
    // entry of the new one. It is copied with its neighbours by flush().
    void add(std::uint64_t offset, std::uint64_t length);
    // Where the next entry of the new file begins: after everything taken so far.
    std::uint64_t nextEntryOffset() const { return out_.position() + pendingLength_; }

    // Copies every entry taken and not yet copied; due before anything else is
    // written to the new file, and at its end. Fails with the output's words when
    // the new file could not be written, else with why the earlier one could not be read.
    Result<void> flush();
    // The earlier file could not be read: every later flush() fails.
    bool failed() const { return !earlierError_.empty(); }

private:
    enum class Outcome { COPIED, EARLIER_FAILED, OUTPUT_FAILED };
    Outcome copySpan(std::uint64_t offset, std::uint64_t length);

    std::unique_ptr<InputFile> earlier_;
    OutputBuffer& out_;
    std::uint64_t pendingOffset_ = 0;
    std::uint64_t pendingLength_ = 0;
    std::uint64_t readingAt_ = 0;  // where the earlier file's reading stands
    std::string earlierError_;
    // A piece of the earlier file read for holdsAt(), and where it starts.
    std::string window_;
    std::uint64_t windowStart_ = 0;
};
