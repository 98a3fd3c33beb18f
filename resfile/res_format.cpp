#include "resfile/res_format.h"

#include <cstring>

#include "platform/text.h"
#include "raduza/format/text.h"

namespace {

using raduza::format::writeLe16;
using raduza::format::writeLe32;

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

std::string_view nameAsWritten(std::string_view name, std::string& storage) {
    if (isAscii(name)) return name;  // written unit for unit as it is
    raduza::format::narrowUtf8(unitsOf(name), storage);
    return storage;
}

namespace {

// Writes the type or name field, fieldBytes(cell) of them, at `out`: the ordinal form,
// or UTF-16LE text and a zero unit. Returns the byte after it.
char* putNameOrId(char* out, const NameOrId& cell) {
    if (cell.isOrdinal) return writeLe16(writeLe16(out, RES_ORDINAL_MARKER), cell.ordinal);
    if (isAscii(cell.text)) {
        for (char c : cell.text) {
            *out++ = c;
            *out++ = '\0';
        }
    } else {
        for (char16_t unit : unitsOf(cell.text)) out = writeLe16(out, static_cast<std::uint16_t>(unit));
    }
    return writeLe16(out, 0);
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
    out = writeLe32(out, header.DataSize);
    out = writeLe32(out, header.HeaderSize);
    return putNameOrId(putNameOrId(out, *header.Type), *header.Name);
}

char* encodeHeaderEnd(char* out, const ResHeader& header) {
    out = writeLe32(out, header.DataVersion);
    out = writeLe16(out, header.MemoryFlags);
    out = writeLe16(out, header.LanguageId);
    return writeLe32(writeLe32(out, header.Version), header.Characteristics);
}
