// Narrow-to-UTF-16 conversions; the platform picks one as `widenName`.
#include "platform/text.h"

#include <optional>

namespace {

// Decodes one UTF-8 sequence at `text[pos]`, advancing `pos`; nothing when the
// bytes there are not a valid, shortest-form sequence.
std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    int extra;
    char32_t value;
    if (lead < 0x80) { ++pos; return lead; }
    if (lead >= 0xC2 && lead <= 0xDF) { extra = 1; value = lead & 0x1F; }
    else if (lead >= 0xE0 && lead <= 0xEF) { extra = 2; value = lead & 0x0F; }
    else if (lead >= 0xF0 && lead <= 0xF4) { extra = 3; value = lead & 0x07; }
    else return std::nullopt;
    if (text.size() - pos <= static_cast<std::size_t>(extra)) return std::nullopt;
    for (int i = 1; i <= extra; ++i) {
        const unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        value = (value << 6) | (next & 0x3F);
    }
    static const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (value < minimum[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    pos += extra + 1;
    return value;
}

}  // namespace

std::u16string widenBytes(std::string_view narrow) {
    std::u16string wide;
    wide.reserve(narrow.size());
    for (char c : narrow) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return wide;
}

std::u16string widenUtf8(std::string_view narrow) {
    std::u16string wide;
    wide.reserve(narrow.size());
    std::size_t pos = 0;
    while (pos < narrow.size()) {
        const std::optional<char32_t> code = decodeUtf8(narrow, pos);
        if (!code) return widenBytes(narrow);
        if (*code >= 0x10000) {
            const char32_t offset = *code - 0x10000;
            wide.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
        } else {
            wide.push_back(static_cast<char16_t>(*code));
        }
    }
    return wide;
}
