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

std::string encodeNameOrId(const NameOrId& cell) {
    std::string bytes;
    if (cell.isOrdinal) {
        appendLittleEndian16(bytes, RES_ORDINAL_MARKER);
        appendLittleEndian16(bytes, cell.ordinal);
        return bytes;
    }
    std::u16string wide = widenName(cell.text);
    // A text whose first unit is 0xFFFF would read back as an ordinal; such a
    // name (U+FFFF first) keeps its bytes, each widened on its own.
    if (!wide.empty() && wide.front() == RES_ORDINAL_MARKER) wide = widenBytes(cell.text);
    bytes.reserve(2 * (wide.size() + 1));
    for (char16_t unit : wide) appendLittleEndian16(bytes, static_cast<std::uint16_t>(unit));
    appendLittleEndian16(bytes, 0);
    return bytes;
}

std::uint32_t fieldBytes(const NameOrId& cell) { return static_cast<std::uint32_t>(encodeNameOrId(cell).size()); }

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
