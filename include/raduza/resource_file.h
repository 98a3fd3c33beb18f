// raduza/resource_file.h: reads a Win32 binary resource file (.res) in memory,
// entry by entry, checking every offset and length against the image's size.
// raduza/bundle.h builds its tree of files on it; raduza-list lists with it.
//
//   raduza::WalkOutcome outcome = raduza::walkResources(image, size, [](const raduza::ResourceEntry& entry) {
//       if (entry.isBundled()) std::printf("%s\n", raduza::toUtf8(entry.name.text()).c_str());
//   });
//   if (outcome.error != raduza::BundleError::NONE) ... raduza::describe(outcome.error), outcome.offset
//
// Header-only C++17, the standard library alone. No exceptions are thrown for bad input.
//
// SPDX-License-Identifier: MIT (see LICENSE; copyright the raduza authors)
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "raduza/format/layout.h"
#include "raduza/format/name_order.h"
#include "raduza/format/text.h"

namespace raduza {

enum class BundleError {
    NONE,
    NOT_A_RESOURCE_FILE,  // the 32-byte empty entry that opens every resource file is missing
    HEADER_CUT_SHORT,     // an entry's header runs past the end of the image
    BAD_HEADER_SIZE,      // HeaderSize is too small, not a multiple of 4, or disagrees with the fields
    UNTERMINATED_TEXT,    // a type or name string has no terminating zero inside its header
    DATA_CUT_SHORT,       // an entry's data or its padding runs past the end of the image
    MODULE_UNREADABLE,    // Windows: the module's resources could not be listed or loaded
    BAD_PROGRAM_HEADERS,       // a PE or ELF file's headers or section table are cut short or make no sense
    BAD_RESOURCE_DIRECTORY,    // a PE resource directory's table, name or data lies outside the file
    RESOURCE_DIRECTORY_LOOPS,  // a PE resource directory reaches one of its tables twice
};

inline const char* describe(BundleError error) noexcept {
    switch (error) {
        case BundleError::NONE: return "no error";
        case BundleError::NOT_A_RESOURCE_FILE: return "not a resource file (no leading empty entry)";
        case BundleError::HEADER_CUT_SHORT: return "an entry's header runs past the end";
        case BundleError::BAD_HEADER_SIZE: return "an entry's HeaderSize disagrees with its fields";
        case BundleError::UNTERMINATED_TEXT: return "a type or name runs past its header";
        case BundleError::DATA_CUT_SHORT: return "an entry's data runs past the end";
        case BundleError::MODULE_UNREADABLE: return "the module's resources cannot be read";
        case BundleError::BAD_PROGRAM_HEADERS: return "the headers or the section table run past the end or make no sense";
        case BundleError::BAD_RESOURCE_DIRECTORY: return "the resource directory points outside the file, or to the wrong kind of entry";
        case BundleError::RESOURCE_DIRECTORY_LOOPS: return "the resource directory reaches one of its tables twice";
    }
    return "unknown error";
}

// The bytes of one bundled file, not copied. data() lies on a 4-byte boundary
// when the image it points into does (a resource file pads every entry to 4
// bytes; a program's bundle is placed so); no wider alignment is promised.
class FileView {
public:
    FileView() = default;
    FileView(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const unsigned char* begin() const { return data_; }
    const unsigned char* end() const { return data_ + size_; }
    std::string_view text() const { return {reinterpret_cast<const char*>(data_), size_}; }

private:
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

// A type or name field of a resource entry as it lies in the image: a 16-bit
// ordinal, or text of UTF-16LE units (read byte by byte: the image need not be aligned).
class ResourceField {
public:
    ResourceField() = default;
    static ResourceField ofOrdinal(std::uint16_t number) {
        ResourceField field;
        field.ordinal_ = number;
        return field;
    }
    static ResourceField ofText(const unsigned char* unitsLe, std::size_t units) {
        ResourceField field;
        field.isOrdinal_ = false;
        field.text_ = unitsLe;
        field.length_ = units;
        return field;
    }

    bool isOrdinal() const { return isOrdinal_; }
    std::uint16_t ordinal() const { return ordinal_; }
    std::size_t length() const { return length_; }  // in UTF-16 units
    char16_t unit(std::size_t i) const {
        return static_cast<char16_t>(text_[2 * i] | (text_[2 * i + 1] << 8));
    }
    std::u16string text() const {
        std::u16string units(length_, u'\0');
        for (std::size_t i = 0; i < length_; ++i) units[i] = unit(i);
        return units;
    }
    bool is(std::u16string_view units) const {
        if (isOrdinal_ || units.size() != length_) return false;
        for (std::size_t i = 0; i < length_; ++i)
            if (unit(i) != units[i]) return false;
        return true;
    }

private:
    bool isOrdinal_ = true;
    std::uint16_t ordinal_ = 0;
    const unsigned char* text_ = nullptr;
    std::size_t length_ = 0;
};

using format::BUNDLE_TYPE;

// One entry of a resource file, as walkResources hands it out.
struct ResourceEntry {
    std::size_t offset = 0;  // of the entry's header, from the start of the image
    ResourceField type;
    ResourceField name;
    std::uint16_t language = 0;
    FileView data;

    // An RT_RADUZA resource with a name, which is what raduza writes; an empty name names no file.
    bool isBundled() const { return type.is(BUNDLE_TYPE) && !name.isOrdinal() && name.length() > 0; }
};

struct WalkOutcome {
    BundleError error = BundleError::NONE;
    std::size_t offset = 0;  // where the fault lies, when there is one
};

namespace detail {

using format::paddingFor;
using format::readLe16;
using format::readLe32;

// Reads a type or name field at `at`, which must end by `limit`; the position after it, or 0.
inline std::size_t readField(const unsigned char* image, std::size_t at, std::size_t limit, ResourceField& field) {
    if (limit - at < 2) return 0;
    if (readLe16(image + at) == format::RES_ORDINAL_MARKER) {
        if (limit - at < format::RES_ORDINAL_FIELD_BYTES) return 0;
        field = ResourceField::ofOrdinal(readLe16(image + at + 2));
        return at + format::RES_ORDINAL_FIELD_BYTES;
    }
    for (std::size_t end = at; limit - end >= 2; end += 2) {
        if (readLe16(image + end) == 0) {
            field = ResourceField::ofText(image + at, (end - at) / 2);
            return end + 2;
        }
    }
    return 0;
}

inline bool isLeadingEntry(const unsigned char* image, std::size_t size) {
    using format::RES_LEADING_ENTRY_START;
    if (size < format::RES_LEADING_ENTRY_SIZE) return false;
    if (std::memcmp(image, RES_LEADING_ENTRY_START, sizeof RES_LEADING_ENTRY_START) != 0) return false;
    for (std::size_t i = sizeof RES_LEADING_ENTRY_START; i < format::RES_LEADING_ENTRY_SIZE; ++i)
        if (image[i] != 0) return false;
    return true;
}

// Reads the header at the start of `header`, of which `available` bytes may be
// read, into `entry` (its offset and data left as they are); the header's size, or
// 0 with `error` set. Needs the header alone, not the data after it, so that a
// reader that streams a file rather than holds it checks entries as walkResources does.
inline std::size_t readHeader(const unsigned char* header, std::size_t available, ResourceEntry& entry,
                              std::uint32_t& dataSize, BundleError& error) {
    const auto fail = [&error](BundleError why) {
        error = why;
        return std::size_t{0};
    };
    if (available < format::RES_SIZES_BYTES) return fail(BundleError::HEADER_CUT_SHORT);
    dataSize = readLe32(header);
    const std::uint32_t headerSize = readLe32(header + 4);
    if (headerSize < format::RES_LEADING_ENTRY_SIZE || headerSize % format::RES_ALIGNMENT != 0)
        return fail(BundleError::BAD_HEADER_SIZE);
    if (headerSize > available) return fail(BundleError::HEADER_CUT_SHORT);
    const std::size_t fieldsLimit = headerSize - format::RES_TRAILER_BYTES;
    std::size_t at = readField(header, format::RES_SIZES_BYTES, fieldsLimit, entry.type);
    if (at != 0) at = readField(header, at, fieldsLimit, entry.name);
    if (at == 0) return fail(BundleError::UNTERMINATED_TEXT);
    if (at + paddingFor(at) + format::RES_TRAILER_BYTES != headerSize) return fail(BundleError::BAD_HEADER_SIZE);
    entry.language = readLe16(header + headerSize - format::RES_TRAILER_BYTES + format::RES_LANGUAGE_IN_TRAILER);
    return headerSize;
}

// Reads the entry at `offset` into `entry`; the offset of the next entry, or 0 with `error` set.
inline std::size_t readEntry(const unsigned char* image, std::size_t size, std::size_t offset, ResourceEntry& entry,
                             BundleError& error) {
    std::uint32_t dataSize = 0;
    entry.offset = offset;
    const std::size_t headerSize = readHeader(image + offset, size - offset, entry, dataSize, error);
    if (headerSize == 0) return 0;
    const std::size_t headerEnd = offset + headerSize;
    if (size - headerEnd < dataSize) {
        error = BundleError::DATA_CUT_SHORT;
        return 0;
    }
    entry.data = FileView(image + headerEnd, dataSize);
    const std::size_t dataEnd = headerEnd + dataSize;
    if (size - dataEnd < paddingFor(dataEnd)) {
        error = BundleError::DATA_CUT_SHORT;
        return 0;
    }
    return dataEnd + paddingFor(dataEnd);
}

// The empty entry that opens a resource file; resource files laid end to end hold several.
inline bool isEmptyEntry(const ResourceEntry& entry, std::size_t dataSize) {
    return entry.type.isOrdinal() && entry.type.ordinal() == 0 && entry.name.isOrdinal() &&
           entry.name.ordinal() == 0 && dataSize == 0;
}
inline bool isEmptyEntry(const ResourceEntry& entry) { return isEmptyEntry(entry, entry.data.size()); }

}  // namespace detail

// Visits every resource of a resource file image in file order, calling
// visit(const ResourceEntry&); the empty entries that open resource files are
// passed over, so resource files laid end to end read as one. Stops at the first
// structural fault and says what and where; entries before it were visited.
// Every offset and length is checked against `size`: nothing outside the image is read.
template <typename Visitor>
WalkOutcome walkResources(const void* image, std::size_t size, Visitor&& visit) {
    const auto* bytes = static_cast<const unsigned char*>(image);
    if (bytes == nullptr || !detail::isLeadingEntry(bytes, size)) return {BundleError::NOT_A_RESOURCE_FILE, 0};
    for (std::size_t offset = format::RES_LEADING_ENTRY_SIZE; offset < size;) {
        ResourceEntry entry;
        BundleError error = BundleError::NONE;
        const std::size_t next = detail::readEntry(bytes, size, offset, entry, error);
        if (next == 0) return {error, offset};
        if (!detail::isEmptyEntry(entry)) visit(static_cast<const ResourceEntry&>(entry));
        offset = next;
    }
    return {};
}

// One entry's header read alone, for a reader that streams a resource file
// rather than holds it (raduza-coff): the same checks as walkResources makes.
struct EntryHeader {
    ResourceEntry fields;         // type, name and language; the type and name point into the bytes read
    std::uint32_t headerSize = 0;  // the data starts this far from the header's start
    std::uint32_t dataSize = 0;    // then padding to a multiple of 4 up to the next entry
    // The empty entry that opens every resource file: resource files laid end to end hold several.
    bool isEmpty() const { return detail::isEmptyEntry(fields, dataSize); }
};

// The bytes a resource file starts with: its leading empty entry.
inline constexpr std::size_t RESOURCE_FILE_START_BYTES = format::RES_LEADING_ENTRY_SIZE;
inline bool startsResourceFile(const void* bytes, std::size_t size) {
    return bytes != nullptr && detail::isLeadingEntry(static_cast<const unsigned char*>(bytes), size);
}

// Reads the header that starts at `bytes`, of which `available` may be read (the
// rest of the file, or at least the HeaderSize its first 8 bytes give). NONE, or
// what is wrong with it: HEADER_CUT_SHORT when fewer bytes are available than the
// header needs. Whether the data fits in the file is the caller's to check.
inline BundleError readEntryHeader(const void* bytes, std::size_t available, EntryHeader& header) {
    BundleError error = BundleError::NONE;
    header.headerSize = static_cast<std::uint32_t>(
        detail::readHeader(static_cast<const unsigned char*>(bytes), available, header.fields, header.dataSize, error));
    return error;
}

// UTF-8 to UTF-16, as raduza names files from paths: a string that is not valid
// UTF-8 throughout is widened byte by byte (so Latin-1 text keeps its letters).
inline std::u16string toUtf16(std::string_view utf8) { return format::widenUtf8(utf8); }

// UTF-16 to UTF-8; a surrogate without its other half, which raduza never
// writes, becomes its own three bytes (see raduza/format/text.h).
inline std::string toUtf8(std::u16string_view utf16) { return format::narrowUtf8(utf16); }

// ASCII letters upper-cased, every other unit as it is: the only letters raduza
// folds in names, as Windows does when it looks a resource up.
inline std::u16string upperAscii(std::u16string_view text) {
    std::u16string upper(text);
    for (char16_t& unit : upper) unit = format::upperAscii(unit);
    return upper;
}

}  // namespace raduza
