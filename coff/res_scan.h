// Reading a resource file for conversion without holding it: its entries' headers
// are read through a window of the file, checked as raduza/resource_file.h checks
// them, and kept as the directory (types, names, languages and where each entry's
// data lies); the data is copied from the file later, by the system where it can.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "raduza/resource_file.h"
#include "resfile/output_buffer.h"
#include "util/arena.h"

// A part of a file read into memory, moved and refilled as the reading goes on.
class InputWindow {
public:
    explicit InputWindow(InputFile& input) : input_(input), size_(input.size()) {}

    std::uint64_t fileSize() const { return size_; }
    // The `count` bytes of the file from `offset`, which lie within the file, or
    // nullptr when they could not be read (the file failed, or ended before its
    // size, so it changed). Valid until the next call.
    const unsigned char* bytes(std::uint64_t offset, std::size_t count);
    // Appends the `count` bytes of the file from `offset` to `out`: large spans
    // copied by the system where it can, small ones through the window. False when
    // the file failed or ended early (then readFailed() is true) or `out` failed.
    bool copyTo(OutputBuffer& out, std::uint64_t offset, std::uint64_t count);
    bool readFailed() const { return !readError_.empty(); }
    // "it could not be read", "it ended before its size: it changed while it was read".
    const std::string& readError() const { return readError_; }

    // What one refill reads: headers and small entries' data come in such pieces.
    static constexpr std::size_t CHUNK = OutputBuffer::MIN_READ_SPACE;

private:
    bool moveTo(std::uint64_t offset);
    bool readInto(char* target, std::size_t count, std::size_t& got);

    InputFile& input_;
    std::uint64_t size_;
    std::vector<unsigned char> buffer_;
    std::uint64_t start_ = 0;   // the file offset of buffer_[0]
    std::size_t filled_ = 0;    // bytes of buffer_ that hold the file's
    std::uint64_t inputAt_ = 0;  // where the input's reading stands
    std::string readError_;
};

// A type or name of the directory: an ordinal, or UTF-16LE units kept in an arena.
struct ResourceId {
    Arena::Ref text = Arena::NO_REF;  // NO_REF for an ordinal
    std::uint32_t value = 0;          // the ordinal, or the text's length in units
    bool isOrdinal() const { return text == Arena::NO_REF; }
};

// One resource: the fields the object's directory needs, and where its data lies.
struct ScannedResource {
    ResourceId type;
    ResourceId name;
    std::uint64_t offset = 0;       // of the entry's header in the resource file
    std::uint32_t headerSize = 0;   // its data follows the header
    std::uint32_t dataSize = 0;
    std::uint16_t language = 0;
    std::uint64_t dataOffset() const { return offset + headerSize; }
};

// The resources of one file in file order, and the units of their text names.
struct ScannedFile {
    std::vector<ScannedResource> resources;
    Arena texts;
    // The text's units (little-endian bytes, 2 a unit), for a text id.
    const unsigned char* units(const ResourceId& id) const {
        return reinterpret_cast<const unsigned char*>(texts.at(id.text));
    }
};

// Types and names longer than this fit no resource directory: its strings count
// their units in 16 bits.
inline constexpr std::uint32_t MAX_DIRECTORY_STRING_UNITS = 0xFFFF;

struct ScanOutcome {
    enum class Kind {
        SCANNED,
        BROKEN,         // `error` at `offset`, as raduza/resource_file.h names it
        NAME_TOO_LONG,  // the entry at `offset` has a type or name of more than 65,535 units
        READ_FAILED,    // the window's readError()
    };
    Kind kind = Kind::SCANNED;
    raduza::BundleError error = raduza::BundleError::NONE;
    std::uint64_t offset = 0;
};

// Reads every entry's header into `file`, the empty entries that open resource
// files passed over, as walkResources does.
ScanOutcome scanResourceFile(InputWindow& window, ScannedFile& file);
