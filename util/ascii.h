// ASCII case folding: the only letters the tool folds, as Windows does for resource
// names and file-name patterns. Bytes above 0x7F are never changed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "raduza/format/name_order.h"

using raduza::format::upperAscii;

// upperAscii on each of the eight bytes of `word` at once: a byte from 'a' to 'z'
// loses 0x20, and no other byte changes. Per byte, bit 7 of the sums is set where
// the byte's low seven bits reach 'a' and where they pass 'z'; no sum carries into
// the next byte, since the low seven bits never exceed 0x7F.
inline std::uint64_t asciiUpperWord(std::uint64_t word) {
    constexpr std::uint64_t EACH_BYTE = 0x0101010101010101ull;
    const std::uint64_t low7 = word & (EACH_BYTE * 0x7F);
    const std::uint64_t atLeastA = low7 + EACH_BYTE * (0x80 - 'a');
    const std::uint64_t aboveZ = low7 + EACH_BYTE * (0x80 - 'z' - 1);
    const std::uint64_t lower = atLeastA & ~aboveZ & ~word & (EACH_BYTE * 0x80);
    return word - (lower >> 2);
}

inline void makeAsciiUpper(std::string& text) {
    for (char& c : text) c = upperAscii(c);
}

inline bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upperAscii(a[i]) != upperAscii(b[i])) return false;
    return true;
}
