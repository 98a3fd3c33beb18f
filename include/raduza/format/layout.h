// raduza/format/layout.h: the layout of a Win32 binary resource file (.res), the one
// description that raduza writes by and that raduza/resource_file.h reads by: the
// sizes of an entry's parts, the values raduza gives its fields, the padding, and
// the little-endian numbers the file is made of.
//
// Header-only C++17, the standard library alone.
//
// SPDX-License-Identifier: MIT (see LICENSE; copyright the raduza authors)
#pragma once

#include <cstdint>
#include <string_view>

namespace raduza::format {

// An entry: DataSize and HeaderSize, the type and name fields, zero bytes up to a
// multiple of RES_ALIGNMENT, the trailer (DataVersion, MemoryFlags, LanguageId,
// Version, Characteristics), then the data and zero bytes up to the next entry.
inline constexpr std::uint32_t RES_ALIGNMENT = 4;
inline constexpr std::uint32_t RES_SIZES_BYTES = 8;
inline constexpr std::uint32_t RES_TRAILER_BYTES = 16;
inline constexpr std::uint32_t RES_LANGUAGE_IN_TRAILER = 6;  // after DataVersion and MemoryFlags
inline constexpr std::uint32_t RES_FIXED_HEADER_BYTES = RES_SIZES_BYTES + RES_TRAILER_BYTES;
// A type or name field: the marker and a 16-bit ordinal, or UTF-16LE text and a zero unit.
inline constexpr std::uint32_t RES_ORDINAL_FIELD_BYTES = 4;
inline constexpr std::uint16_t RES_ORDINAL_MARKER = 0xFFFF;
inline constexpr std::uint64_t RES_MAX_DATA_SIZE = 0xFFFFFFFFu;  // DataSize is 32 bits wide

// The empty entry that opens every file: its first bytes (sizes 0 and 32, type
// and name ordinal 0), then zero bytes to RES_LEADING_ENTRY_SIZE.
inline constexpr std::uint32_t RES_LEADING_ENTRY_SIZE = 32;
inline constexpr unsigned char RES_LEADING_ENTRY_START[RES_SIZES_BYTES + 2 * RES_ORDINAL_FIELD_BYTES] = {
    0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};

// What raduza gives every file it stores: this type, these flags, this language.
inline constexpr std::string_view BUNDLE_TYPE_NAME = "RT_RADUZA";
inline constexpr std::u16string_view BUNDLE_TYPE = u"RT_RADUZA";
inline constexpr std::uint16_t RES_FLAGS_MOVEABLE_PURE = 0x0030;
inline constexpr std::uint16_t RES_LANGUAGE_US_ENGLISH = 0x0409;

// Zero bytes that bring `offset` up to the next multiple of RES_ALIGNMENT.
constexpr std::uint32_t paddingFor(std::uint64_t offset) {
    return static_cast<std::uint32_t>((RES_ALIGNMENT - offset % RES_ALIGNMENT) % RES_ALIGNMENT);
}

// Read byte by byte: neither an image nor a field need be aligned.
inline std::uint16_t readLe16(const unsigned char* at) { return static_cast<std::uint16_t>(at[0] | (at[1] << 8)); }
inline std::uint32_t readLe32(const unsigned char* at) {
    return static_cast<std::uint32_t>(readLe16(at)) | (static_cast<std::uint32_t>(readLe16(at + 2)) << 16);
}

// Each writes `value` at `out` and returns the byte after it.
inline char* writeLe16(char* out, std::uint16_t value) {
    out[0] = static_cast<char>(value & 0xFF);
    out[1] = static_cast<char>(value >> 8);
    return out + 2;
}
inline char* writeLe32(char* out, std::uint32_t value) {
    return writeLe16(writeLe16(out, static_cast<std::uint16_t>(value & 0xFFFF)), static_cast<std::uint16_t>(value >> 16));
}

}  // namespace raduza::format
