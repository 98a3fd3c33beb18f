#include "resfile/res_format.h"

#include <cstring>

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

void appendNameOrId(std::string& bytes, const NameOrId& cell) {
    if (cell.isOrdinal) {
        appendLittleEndian16(bytes, RES_ORDINAL_MARKER);
        appendLittleEndian16(bytes, cell.ordinal);
        return;
    }
    if (isAscii(cell.text)) {
        const std::size_t start = bytes.size();
        bytes.resize(start + 2 * (cell.text.size() + 1), '\0');
        char* unit = &bytes[start];
        for (char c : cell.text) {
            *unit = c;
            unit += 2;
        }
        return;
    }
    const std::u16string wide = unitsOf(cell.text);
    for (char16_t unit : wide) appendLittleEndian16(bytes, static_cast<std::uint16_t>(unit));
    appendLittleEndian16(bytes, 0);
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

void appendHeaderStart(std::string& bytes, const ResHeader& header) {
    appendLittleEndian32(bytes, header.DataSize);
    appendLittleEndian32(bytes, header.HeaderSize);
    appendNameOrId(bytes, *header.Type);
    appendNameOrId(bytes, *header.Name);
}

void appendHeaderEnd(std::string& bytes, const ResHeader& header) {
    const std::uint32_t fields[] = {header.DataVersion, header.MemoryFlags | std::uint32_t{header.LanguageId} << 16,
                                    header.Version, header.Characteristics};
    char end[sizeof fields];
    for (std::size_t i = 0; i < sizeof end; ++i) end[i] = static_cast<char>(fields[i / 4] >> (8 * (i % 4)));
    bytes.append(end, sizeof end);
}
