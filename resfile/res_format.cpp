#include "resfile/res_format.h"

#include "platform/text.h"

void appendLittleEndian16(std::string& bytes, std::uint16_t value) {
    bytes.push_back(static_cast<char>(value & 0xFF));
    bytes.push_back(static_cast<char>(value >> 8));
}

void appendLittleEndian32(std::string& bytes, std::uint32_t value) {
    appendLittleEndian16(bytes, static_cast<std::uint16_t>(value & 0xFFFF));
    appendLittleEndian16(bytes, static_cast<std::uint16_t>(value >> 16));
}

namespace {

// Plain ASCII is every unit's own byte on both platforms; most names are, and they
// are written without a conversion.
bool isAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
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

}  // namespace

std::string nameAsWritten(std::string_view name) {
    if (isAscii(name)) return std::string(name);  // written unit for unit as it is
    const std::u16string units = unitsOf(name);
    std::string written;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t code = units[i];
        const bool pair = code >= 0xD800 && code < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                          units[i + 1] < 0xE000;
        if (pair) code = 0x10000 + ((code - 0xD800) << 10) + (units[++i] - 0xDC00);
        appendUtf8(written, code);  // a lone surrogate gets its own three bytes, so no two texts meet
    }
    return written;
}

std::string encodeNameOrId(const NameOrId& cell) {
    std::string bytes;
    if (cell.isOrdinal) {
        appendLittleEndian16(bytes, RES_ORDINAL_MARKER);
        appendLittleEndian16(bytes, cell.ordinal);
        return bytes;
    }
    if (isAscii(cell.text)) {
        bytes.resize(2 * (cell.text.size() + 1), '\0');
        for (std::size_t i = 0; i < cell.text.size(); ++i) bytes[2 * i] = cell.text[i];
        return bytes;
    }
    const std::u16string wide = unitsOf(cell.text);
    bytes.reserve(2 * (wide.size() + 1));
    for (char16_t unit : wide) appendLittleEndian16(bytes, static_cast<std::uint16_t>(unit));
    appendLittleEndian16(bytes, 0);
    return bytes;
}

std::uint32_t fieldBytes(const NameOrId& cell) {
    if (cell.isOrdinal) return RES_ORDINAL_FIELD_BYTES;
    const std::size_t units = isAscii(cell.text) ? cell.text.size() : unitsOf(cell.text).size();
    return static_cast<std::uint32_t>(2 * (units + 1));
}

HeaderLayout layoutHeader(std::uint32_t typeFieldBytes, std::uint32_t nameFieldBytes) {
    const std::uint32_t unpadded = RES_FIXED_HEADER_BYTES + typeFieldBytes + nameFieldBytes;
    return HeaderLayout{unpadded + paddingFor(unpadded), paddingFor(unpadded)};
}

std::string encodeHeaderStart(const ResHeader& header) {
    std::string bytes;
    appendLittleEndian32(bytes, header.DataSize);
    appendLittleEndian32(bytes, header.HeaderSize);
    bytes += encodeNameOrId(*header.Type);
    bytes += encodeNameOrId(*header.Name);
    return bytes;
}

std::string encodeHeaderEnd(const ResHeader& header) {
    std::string bytes;
    appendLittleEndian32(bytes, header.DataVersion);
    appendLittleEndian16(bytes, header.MemoryFlags);
    appendLittleEndian16(bytes, header.LanguageId);
    appendLittleEndian32(bytes, header.Version);
    appendLittleEndian32(bytes, header.Characteristics);
    return bytes;
}
