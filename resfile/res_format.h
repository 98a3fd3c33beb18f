// The header record that mirrors one entry's header on disk, and its encoding;
// the layout's numbers are raduza/format/layout.h's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "raduza/format/layout.h"

using raduza::format::BUNDLE_TYPE_NAME;
using raduza::format::paddingFor;
using raduza::format::RES_FIXED_HEADER_BYTES;
using raduza::format::RES_FLAGS_MOVEABLE_PURE;
using raduza::format::RES_LANGUAGE_US_ENGLISH;
using raduza::format::RES_LEADING_ENTRY_SIZE;
using raduza::format::RES_MAX_DATA_SIZE;
using raduza::format::RES_ORDINAL_FIELD_BYTES;
using raduza::format::RES_ORDINAL_MARKER;
using raduza::format::RES_TRAILER_BYTES;

// A resource type or name: a 16-bit ordinal, or a string held as the platform's
// narrow text (widened to UTF-16LE only when written).
struct NameOrId {
    bool isOrdinal = true;
    std::uint16_t ordinal = 0;
    std::string_view text;

    static NameOrId ofOrdinal(std::uint16_t number) { return NameOrId{true, number, {}}; }
    static NameOrId ofText(std::string_view name) { return NameOrId{false, 0, name}; }
};

// The header of one entry, field for field in the order written to disk (the
// type and name fields and the header padding sit between HeaderSize and DataVersion).
struct ResHeader {
    std::uint32_t DataSize = 0;
    std::uint32_t HeaderSize = RES_LEADING_ENTRY_SIZE;
    std::uint32_t DataVersion = 0;
    std::uint16_t MemoryFlags = RES_FLAGS_MOVEABLE_PURE;
    std::uint16_t LanguageId = RES_LANGUAGE_US_ENGLISH;
    std::uint32_t Version = 0;
    std::uint32_t Characteristics = 0;
    const NameOrId* Type = nullptr;
    const NameOrId* Name = nullptr;
};

// The bytes of the type or name field as written: the ordinal form, or UTF-16LE text and a zero unit.
std::uint32_t fieldBytes(const NameOrId& cell);
// A text name as the file holds it (its UTF-16 units, written here as UTF-8), so that
// names that differ in their bytes but not once written compare equal. Plain ASCII
// is its own and is returned as it is; any other name is converted into `storage`.
std::string_view nameAsWritten(std::string_view name, std::string& storage);

// HeaderSize and the zero bytes after the name that bring it to a multiple of 4.
struct HeaderLayout {
    std::uint32_t headerSize = RES_LEADING_ENTRY_SIZE;
    std::uint32_t padding = 0;
};
HeaderLayout layoutHeader(std::uint32_t typeFieldBytes, std::uint32_t nameFieldBytes);

// The header's bytes before the padding (DataSize, HeaderSize, type, name) and after it
// (DataVersion to Characteristics), each written at `out`, which is returned past them;
// the padding itself is the writer's to add.
std::size_t headerStartBytes(const ResHeader& header);
char* encodeHeaderStart(char* out, const ResHeader& header);
char* encodeHeaderEnd(char* out, const ResHeader& header);
