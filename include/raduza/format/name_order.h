// raduza/format/name_order.h: raduza's name order, the one order of names that its
// walk stores a directory's files in and that raduza/bundle.h lists and iterates in.
//
// Two names compare character by character, ASCII letters as upper case and every
// other character by its code point; a name that is the start of another goes
// first. Names equal so are ordered by their plain characters. Over UTF-8 (what
// the POSIX build names files in) and over text widened byte by byte (the Windows
// build's) that is the order of the bytes; over UTF-16 it needs one step more,
// since a surrogate pair (U+10000 and above) has units below U+E000.
//
// Header-only C++17, the standard library alone.
//
// SPDX-License-Identifier: MIT (see LICENSE; copyright the raduza authors)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace raduza::format {

// The only letters raduza folds in names, as Windows does when it looks a resource up.
constexpr char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char16_t upperAscii(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

// A UTF-16 unit's place in code point order: the surrogates after U+E000 to U+FFFF.
constexpr std::uint32_t codePointRank(char16_t unit) {
    return unit < 0xD800 ? unit : unit < 0xE000 ? unit + 0x2000u : unit - 0x800u;
}

// <0, 0 or >0 as `a` compares with `b`, unit by unit by rank(unit), a prefix first.
template <typename Unit, typename Rank>
int compareRanked(std::basic_string_view<Unit> a, std::basic_string_view<Unit> b, Rank rank) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        if (a[i] == b[i]) continue;  // equal units rank alike: most of a name costs no ranking
        const std::uint32_t x = rank(a[i]), y = rank(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// Names as the order sees them before ties: ASCII letters folded.
inline int compareFolded(std::string_view a, std::string_view b) {
    return compareRanked(a, b, [](char c) -> std::uint32_t { return static_cast<unsigned char>(upperAscii(c)); });
}
inline int compareFolded(std::u16string_view a, std::u16string_view b) {
    return compareRanked(a, b, [](char16_t unit) { return codePointRank(upperAscii(unit)); });
}

inline bool precedesInNameOrder(std::string_view a, std::string_view b) {
    const int folded = compareFolded(a, b);
    return folded != 0 ? folded < 0 : a < b;  // std::string_view compares bytes as unsigned
}
inline bool precedesInNameOrder(std::u16string_view a, std::u16string_view b) {
    const int folded = compareFolded(a, b);
    return folded != 0 ? folded < 0 : compareRanked(a, b, codePointRank) < 0;
}

// Stored names are paths, '/' or '\' between directories: they compare directory
// by directory in name order (a separator ranks below every character), so the
// names below one directory follow each other in the order of their own names.
// Names that differ only in the case of ASCII letters or in their separators compare equal.
inline int comparePaths(std::u16string_view a, std::u16string_view b) {
    return compareRanked(a, b, [](char16_t unit) -> std::uint32_t {
        return unit == u'/' || unit == u'\\' ? 0 : codePointRank(upperAscii(unit)) + 1;
    });
}

}  // namespace raduza::format
