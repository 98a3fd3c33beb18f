// The listing's lines.
#include <cstdio>

#include "lister/lister.h"

// UTF-8, with control characters escaped so that one entry stays one line.
std::string printableName(std::u16string_view text) {
    std::string out;
    for (char c : raduza::toUtf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out += c;
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        out += escaped;
    }
    return out;
}

namespace {

std::string fieldText(const raduza::ResourceField& field) {
    if (field.isOrdinal()) return "#" + std::to_string(field.ordinal());
    return printableName(field.text());
}

}  // namespace

std::string listingLine(const raduza::ResourceEntry& entry) {
    char size[24];
    std::snprintf(size, sizeof size, "%10zu", entry.data.size());
    std::string line = std::string(size) + "  " + fieldText(entry.name);
    if (!entry.type.is(raduza::BUNDLE_TYPE)) line += "  (type " + fieldText(entry.type) + ")";
    return line;
}
