// The wildcard matcher against a naive reference, over every short name and pattern.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <random>

#include "platform/name_order.h"
#include "platform/text.h"
#include "platform/wildcard.h"
#include "util/ascii.h"

namespace {

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Straight recursive definition: obviously right, exponential, fine for short inputs.
bool plainMatch(const std::string& pattern, const std::string& name) {
    if (pattern.empty()) return name.empty();
    if (pattern[0] == '*')
        return plainMatch(pattern.substr(1), name) || (!name.empty() && plainMatch(pattern, name.substr(1)));
    if (name.empty()) return false;
    return (pattern[0] == '?' || upper(pattern[0]) == upper(name[0])) && plainMatch(pattern.substr(1), name.substr(1));
}

bool referenceMatch(const std::string& pattern, const std::string& name) {
    return pattern == "*.*" || plainMatch(pattern, name);
}

void forEachString(const std::string& alphabet, std::size_t maxLength, const std::function<void(const std::string&)>& f) {
    std::function<void(std::string)> extend = [&](std::string s) {
        f(s);
        if (s.size() == maxLength) return;
        for (char c : alphabet) extend(s + c);
    };
    extend("");
}

TEST(Wildcard, AgreesWithTheReferenceOnAllShortNamesAndPatterns) {
    std::vector<std::string> names;
    forEachString("aB.", 4, [&](const std::string& name) { names.push_back(name); });
    std::size_t compared = 0;
    forEachString("*?Ab.", 4, [&](const std::string& pattern) {
        for (const std::string& name : names) {
            ASSERT_EQ(wildcardMatch(pattern, name), referenceMatch(pattern, name)) << pattern << " vs " << name;
            ++compared;
        }
    });
    EXPECT_EQ(compared, 781u * 121u);  // patterns of up to 4 of 5 symbols, names of up to 4 of 3
}

TEST(Wildcard, StarDotStarMatchesNamesWithoutADot) {
    EXPECT_TRUE(wildcardMatch("*.*", "README"));
    EXPECT_TRUE(wildcardMatch("*.GIF", "logo.gif"));
    EXPECT_FALSE(wildcardMatch("*.gif", "logo.gifx"));
    EXPECT_FALSE(wildcardMatch("\xE9*", "\xC9x"));  // only ASCII letters fold
}

TEST(Wildcard, StaysFastOnPathologicalPatterns) {
    const std::string name(10000, 'a');
    EXPECT_FALSE(wildcardMatch(std::string(50, '*') + std::string(100, 'a') + "b", name));
}

TEST(NameOrder, SortsCaseInsensitivelyThenByBytes) {
    std::vector<DirEntry> entries;
    for (const char* name : {"b", "B", "a_", "A", "[", "Z", "a"}) entries.push_back(DirEntry{name, false, false, false});
    sortInNameOrder(entries);
    std::vector<std::string> sorted;
    for (const DirEntry& entry : entries) sorted.push_back(entry.name);
    // '[' (0x5B) and '_' (0x5F) sort after the upper-cased letters, as on NTFS.
    EXPECT_EQ(sorted, (std::vector<std::string>{"A", "a", "a_", "B", "b", "Z", "["}));
}

TEST(NameOrder, SortedEntriesComeInNameOrderWithTheirKindsUntilTheVisitorStops) {
    SortedEntries entries;
    const std::string longName(20000, 'm');
    entries.add("b", false, false, false);
    entries.add("sub", true, false, false);
    entries.add(".hidden", false, true, false);
    entries.add(longName.c_str(), false, false, true);
    entries.add("B", false, false, false);
    entries.add("a_", true, true, true);
    std::vector<std::string> seen;
    entries.visitInOrder([&](const DirEntry& entry) {
        seen.push_back(entry.name + ":" + (entry.isDirectory ? "d" : "") + (entry.isHidden ? "h" : "") +
                       (entry.isSystem ? "s" : ""));
        return true;
    });
    EXPECT_EQ(seen, (std::vector<std::string>{".hidden:h", "a_:dhs", "B:", "b:", longName + ":s", "sub:d"}));

    int visits = 0;
    entries.visitInOrder([&](const DirEntry&) { return ++visits < 2; });
    EXPECT_EQ(visits, 2);
}

// Listings compare names a word at a time; the order must be the one the byte-wise
// rule gives, around every case boundary, past bytes above 0x7F, and for names that
// share long prefixes or end on a word's edge.
TEST(NameOrder, ListingsSortAsTheByteWiseRuleDoes) {
    const std::string alphabet = std::string("aAzZ`{@[_0\x7f\x80\xc1\xe1\xff", 15);
    std::mt19937 random(7);
    std::vector<std::string> names;
    for (int i = 0; i < 4000; ++i) {
        std::string name(i % 3 == 0 ? "shared-prefix-" : "");  // 14 bytes: past one word, within two
        const std::size_t length = 1 + random() % 18;
        for (std::size_t j = 0; j < length; ++j) name += alphabet[random() % alphabet.size()];
        names.push_back(name);
    }
    SortedEntries entries;
    for (const std::string& name : names) entries.add(name.c_str(), false, false, false);
    std::vector<std::string> listed;
    entries.visitInOrder([&](const DirEntry& entry) {
        listed.push_back(entry.name);
        return true;
    });
    std::stable_sort(names.begin(), names.end(),
                     [](const std::string& a, const std::string& b) { return precedesInNameOrder(a, b); });
    EXPECT_EQ(listed, names);
}

// One order for both ends: the tool sorts the bytes of UTF-8 names, the reader
// their UTF-16 units. Code points around every boundary where the two encodings
// rank differently (surrogate pairs against U+E000 to U+FFFF), and ASCII case.
TEST(NameOrder, TheByteRuleOverUtf8IsTheUnitRuleOverUtf16) {
    const char32_t alphabet[] = {U'a',     U'A',     U'z',     U'_',     U'.',     U'/',      0x7F,   0xC9,
                                 0xE9,     0x7FF,    0x800,    0xD7FF,   0xE000,   0xFF01,    0xFFFF, 0x10000,
                                 0x1F600,  0x10FFFF};
    std::mt19937 random(11);
    std::vector<std::u16string> names;
    for (int i = 0; i < 3000; ++i) {
        std::u16string name;
        for (std::size_t length = 1 + random() % 6; length > 0; --length) {
            const char32_t code = alphabet[random() % std::size(alphabet)];
            if (code < 0x10000) {
                name += static_cast<char16_t>(code);
            } else {
                name += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
                name += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
            }
        }
        names.push_back(name);
    }
    std::vector<std::u16string> byUnits = names;
    std::sort(byUnits.begin(), byUnits.end(),
              [](const std::u16string& a, const std::u16string& b) { return precedesInNameOrder(a, b); });
    std::vector<std::string> byBytes;
    for (const std::u16string& name : names) byBytes.push_back(raduza::format::narrowUtf8(name));
    std::sort(byBytes.begin(), byBytes.end(),
              [](const std::string& a, const std::string& b) { return precedesInNameOrder(a, b); });
    for (std::size_t i = 0; i < names.size(); ++i)
        ASSERT_EQ(widenUtf8(byBytes[i]), byUnits[i]) << "at " << i;
    EXPECT_TRUE(precedesInNameOrder(u"\uE000", u"\uFF01") && precedesInNameOrder(u"\uFF01", u"\U0001F600"));
}

// The eight-byte fold agrees with the byte rule for every byte, in every position,
// beside neighbours that could carry into it.
TEST(NameOrder, FoldsEightBytesAtOnceAsTheByteRuleDoes) {
    for (unsigned value = 0; value < 256; ++value) {
        for (const unsigned neighbour : {0x00u, 0x7Fu, 0x80u, 0xFFu, unsigned{'a'}, unsigned{'z'}}) {
            for (unsigned position = 0; position < 8; ++position) {
                unsigned char bytes[8];
                std::fill(std::begin(bytes), std::end(bytes), static_cast<unsigned char>(neighbour));
                bytes[position] = static_cast<unsigned char>(value);
                std::uint64_t word;
                std::memcpy(&word, bytes, sizeof word);
                word = asciiUpperWord(word);
                unsigned char folded[8];
                std::memcpy(folded, &word, sizeof word);
                for (unsigned i = 0; i < 8; ++i)
                    ASSERT_EQ(folded[i], static_cast<unsigned char>(upperAscii(static_cast<char>(bytes[i]))))
                        << "byte " << value << " at " << position << " beside " << neighbour;
            }
        }
    }
}

}  // namespace
