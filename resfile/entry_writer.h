// Lays out the resource file: the leading entry, then one entry per stored file (its
// header, its data, and the zero bytes that align the end of the name and of the
// data), taking back an entry whose input failed so that the file stays a sequence
// of whole, aligned entries. What an outcome means to the user is the caller's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "resfile/output_buffer.h"
#include "resfile/res_format.h"

// Told of each zero byte of padding just before it is written.
class PaddingObserver {
public:
    virtual ~PaddingObserver() = default;
    virtual void headerPadding() = 0;  // after an entry's name
    virtual void dataPadding() = 0;    // after an entry's data
};

enum class EntryOutcome {
    STORED,         // the entry is complete
    READ_FAILED,    // the input could not be read: the entry was taken back
    SIZE_CHANGED,   // the input held other than its size said: the entry was taken back
    COMPLETED,      // the input failed after part of the entry had left for a pipe: the
                    // entry was completed with zeros, so every later one stays in place
    OUTPUT_FAILED,  // the output failed; what it holds is for the caller to discard
};

class EntryWriter {
public:
    // `observer` may be null: then padding is written without a word.
    EntryWriter(OutputBuffer& out, PaddingObserver* observer) : out_(out), observer_(observer) {}

    // The empty entry that opens every resource file.
    void writeLeadingEntry();
    // Writes the entry of the type BUNDLE_TYPE_NAME named `name` holding the bytes of
    // `input`, whose size is at most RES_MAX_DATA_SIZE.
    EntryOutcome writeEntry(std::string_view name, InputFile& input);

    // The bytes of the header writeEntry writes for `name` and `dataSize` bytes of
    // data, padding included, into `bytes`; returns the length of the whole entry.
    static std::uint64_t headerBytesOf(std::string_view name, std::uint32_t dataSize, std::string& bytes);

private:
    struct EntryHeader {
        NameOrId nameCell;
        ResHeader header;
        std::uint32_t padding;
    };
    // `name` must outlive the header, which points at it.
    static void layOut(std::string_view name, std::uint32_t dataSize, EntryHeader& entry);
    void writeHeader(const ResHeader& header, std::uint32_t padding);
    void putPadding(std::uint32_t count, void (PaddingObserver::*report)());

    OutputBuffer& out_;
    PaddingObserver* observer_;
    std::string headerBytes_;  // reused from entry to entry
};
