// raduza/format/text.h: the conversions between narrow text and the UTF-16 of
// resource names, one rule each for raduza and for the headers that read its files.
// UTF-8 to UTF-16 is strict: text that is not valid, shortest-form UTF-8 throughout
// (surrogates included) is widened byte by byte instead. UTF-16 to UTF-8 is total:
// a surrogate without its other half, which raduza never writes, becomes its own
// three bytes, so no two names meet.
//
// Header-only C++17, the standard library alone.
//
// SPDX-License-Identifier: MIT (see LICENSE; copyright the raduza authors)
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace raduza::format {

// Decodes one UTF-8 sequence at text[pos], advancing pos; -1 when the bytes there
// are not a valid, shortest-form sequence.
inline long decodeUtf8(std::string_view text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    // The sequence's length and the lead byte's bits, by the lead byte's range.
    const std::size_t extra = lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2
                            : lead >= 0xF0 && lead <= 0xF4 ? 3 : 0;
    if (extra == 0 || text.size() - pos <= extra) return -1;
    long value = lead & (0x3F >> extra);
    for (std::size_t i = 1; i <= extra; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return -1;
        value = (value << 6) | (byte(pos + i) & 0x3F);
    }
    static const long MINIMUM[] = {0, 0x80, 0x800, 0x10000};
    if (value < MINIMUM[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return -1;
    pos += extra + 1;
    return value;
}

// Every byte zero-extended: how the Windows build widens names (the narrow set is
// the ANSI code page), and how text that is not UTF-8 is widened.
inline std::u16string widenBytes(std::string_view narrow) {
    std::u16string wide(narrow.size(), u'\0');
    for (std::size_t i = 0; i < narrow.size(); ++i) wide[i] = static_cast<unsigned char>(narrow[i]);
    return wide;
}

// UTF-8 to UTF-16, or byte by byte when the whole is not valid UTF-8: how the
// POSIX build widens names.
inline std::u16string widenUtf8(std::string_view narrow) {
    std::u16string wide;
    wide.reserve(narrow.size());
    for (std::size_t pos = 0; pos < narrow.size();) {
        const long code = decodeUtf8(narrow, pos);
        if (code < 0) return widenBytes(narrow);
        if (code >= 0x10000) {
            wide.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            wide.push_back(static_cast<char16_t>(code));
        }
    }
    return wide;
}

// Appends the UTF-8 bytes of `code`, a surrogate's as any other's: a lead byte
// that says how many continuation bytes of six bits each follow.
inline void appendUtf8(std::string& out, char32_t code) {
    static const unsigned char LEAD[] = {0x00, 0xC0, 0xE0, 0xF0};
    const int extra = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    out += static_cast<char>(LEAD[extra] | (code >> (6 * extra)));
    for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6) out += static_cast<char>(0x80 | ((code >> shift) & 0x3F));
}

// UTF-16 to UTF-8, into `out` (cleared first): a surrogate pair makes one code
// point, a lone surrogate its own three bytes.
inline void narrowUtf8(std::u16string_view wide, std::string& out) {
    out.clear();
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t code = wide[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (wide[++i] - 0xDC00u);
        appendUtf8(out, code);
    }
}
inline std::string narrowUtf8(std::u16string_view wide) {
    std::string out;
    narrowUtf8(wide, out);
    return out;
}

}  // namespace raduza::format
