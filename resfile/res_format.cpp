#include "resfile/res_format.h"

#include <cstring>

#include "platform/text.h"

namespace {

// Each writes a value at `out` as little-endian bytes and returns the byte after it.
char* putLittleEndian16(char* out, std::uint16_t value) {
    out[0] = static_cast<char>(value & 0xFF);
    out[1] = static_cast<char>(value >> 8);
    return out + 2;
}

char* putLittleEndian32(char* out, std::uint32_t value) {
    return putLittleEndian16(putLittleEndian16(out, static_cast<std::uint16_t>(value & 0xFFFF)),
                             static_cast<std::uint16_t>(value >> 16));
}

// Plain ASCII is every unit's own byte on both platforms; most names are, and they
// are written without a conversion.
bool isAscii(std::string_view text) {
    // Eight bytes at a time: any byte above 0x7F sets a high bit.
    std::size_t at = 0;
    for (std::uint64_t word; at + sizeof word <= text.size(); at += sizeof word) {
        std::memcpy(&word, text.data() + at, sizeof word);
        if (word & 0x8080808080808080ull) return false;
    }
    for (; at < text.size(); ++at)
        if (static_cast<unsigned char>(text[at]) >= 0x80) return false;
    return true;
}

// The units a text field holds: the platform's conversion, except that a text whose
// first unit is 0xFFFF would read back as an ordinal, so such a name (U+FFFF first)
// keeps its bytes, each widened on its own.
std::u16string unitsOf(std::string_view text) {
    std::u16string wide = widenName(text);
    if (!wide.empty() && wide.front() == RES_ORDINAL_MARKER) wide = widenBytes(text);
    return wide;
}

}  // namespace

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string_view nameAsWritten(std::string_view name, std::string& storage) {
    if (isAscii(name)) return name;  // written unit for unit as it is
    const std::u16string units = unitsOf(name);
    storage.clear();
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t code = units[i];
        const bool pair = code >= 0xD800 && code < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                          units[i + 1] < 0xE000;
        if (pair) code = 0x10000 + ((code - 0xD800) << 10) + (units[++i] - 0xDC00);
        appendUtf8(storage, code);  // a lone surrogate gets its own three bytes, so no two texts meet
    }
    return storage;
}

namespace {

// Writes the type or name field, fieldBytes(cell) of them, at `out`: the ordinal form,
// or UTF-16LE text and a zero unit. Returns the byte after it.
char* putNameOrId(char* out, const NameOrId& cell) {
    if (cell.isOrdinal) return putLittleEndian16(putLittleEndian16(out, RES_ORDINAL_MARKER), cell.ordinal);
    if (isAscii(cell.text)) {
        for (char c : cell.text) {
            *out++ = c;
            *out++ = '\0';
        }
    } else {
        for (char16_t unit : unitsOf(cell.text)) out = putLittleEndian16(out, static_cast<std::uint16_t>(unit));
    }
    return putLittleEndian16(out, 0);
}

}  // namespace

std::uint32_t fieldBytes(const NameOrId& cell) {
    if (cell.isOrdinal) return RES_ORDINAL_FIELD_BYTES;
    const std::size_t units = isAscii(cell.text) ? cell.text.size() : unitsOf(cell.text).size();
    return static_cast<std::uint32_t>(2 * (units + 1));
}

HeaderLayout layoutHeader(std::uint32_t typeFieldBytes, std::uint32_t nameFieldBytes) {
    const std::uint32_t unpadded = RES_FIXED_HEADER_BYTES + typeFieldBytes + nameFieldBytes;
    return HeaderLayout{unpadded + paddingFor(unpadded), paddingFor(unpadded)};
}

std::size_t headerStartBytes(const ResHeader& header) {
    return 2 * sizeof(std::uint32_t) + fieldBytes(*header.Type) + fieldBytes(*header.Name);
}

char* encodeHeaderStart(char* out, const ResHeader& header) {
    out = putLittleEndian32(out, header.DataSize);
    out = putLittleEndian32(out, header.HeaderSize);
    return putNameOrId(putNameOrId(out, *header.Type), *header.Name);
}

char* encodeHeaderEnd(char* out, const ResHeader& header) {
    out = putLittleEndian32(out, header.DataVersion);
    out = putLittleEndian16(out, header.MemoryFlags);
    out = putLittleEndian16(out, header.LanguageId);
    return putLittleEndian32(putLittleEndian32(out, header.Version), header.Characteristics);
}
