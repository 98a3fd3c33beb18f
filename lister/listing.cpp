// The listing's lines.
#include <cstdio>

#include "lister/lister.h"

namespace {

// C0 controls, DEL and the C1 controls (U+0080 to U+009F, which the Windows build
// makes of bytes 0x80 to 0x9F): a terminal acts on them instead of showing them.
bool isControl(char16_t unit) { return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F); }

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Half of a UTF-16 pair without its other half: no UTF-8 holds it, so a terminal
// would show its bytes as garbage.
bool isLoneSurrogate(std::u16string_view text, std::size_t i) {
    if (isHighSurrogate(text[i])) return i + 1 == text.size() || !isLowSurrogate(text[i + 1]);
    return isLowSurrogate(text[i]) && (i == 0 || !isHighSurrogate(text[i - 1]));
}

std::string fieldText(const raduza::ResourceField& field) {
    if (field.isOrdinal()) return "#" + std::to_string(field.ordinal());
    return printableName(field.text());
}

}  // namespace

// UTF-8, with control characters escaped so that one entry stays one line, and
// lone surrogates so that the line stays valid UTF-8.
std::string printableName(std::u16string_view text) {
    std::string out;
    std::size_t plain = 0;  // where the units shown as they are start
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isControl(text[i]) && !isLoneSurrogate(text, i)) continue;
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(text[i]));
        out += raduza::toUtf8(text.substr(plain, i - plain)) + escaped;
        plain = i + 1;
    }
    return out + raduza::toUtf8(text.substr(plain));
}

std::string listingLine(const raduza::ResourceEntry& entry) {
    char size[24];
    std::snprintf(size, sizeof size, "%10zu", entry.data.size());
    std::string line = std::string(size) + "  " + fieldText(entry.name);
    if (!entry.type.is(raduza::BUNDLE_TYPE)) line += "  (type " + fieldText(entry.type) + ")";
    return line;
}
