#include "platform/name_order.h"

#include <algorithm>
#include <cstring>

#include "util/ascii.h"

namespace {

enum EntryFlag : unsigned char { ENTRY_DIRECTORY = 1, ENTRY_HIDDEN = 2, ENTRY_SYSTEM = 4 };

}  // namespace

void sortInNameOrder(std::vector<DirEntry>& entries) {
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& x, const DirEntry& y) { return precedesInNameOrder(x.name, y.name); });
}

namespace {

constexpr std::size_t WORD = sizeof(std::uint64_t);
constexpr std::uintptr_t FLAG_BITS = ENTRY_DIRECTORY | ENTRY_HIDDEN | ENTRY_SYSTEM;
static_assert(FLAG_BITS < WORD, "the flags fit below a word-aligned address");
static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= WORD, "the arena's blocks start at a multiple of 8");

constexpr std::uint64_t bytesOf(unsigned char value) { return 0x0101010101010101ull * value; }

// Eight bytes of a padded name with ASCII letters upper-cased, arranged so that
// comparing two such numbers compares their bytes in order.
std::uint64_t foldedWord(const char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, WORD);
    word = asciiUpperWord(word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
}

bool hasZeroByte(std::uint64_t word) { return ((word - bytesOf(0x01)) & ~word & bytesOf(0x80)) != 0; }

const char* nameOf(std::uintptr_t entry) { return reinterpret_cast<const char*>(entry & ~FLAG_BITS); }

// precedesInNameOrder over padded names, a word at a time (a NUL ends a name). Equal words that hold a
// NUL end both names; the padding after a NUL is zeros in both.
bool precedesPadded(const char* a, const char* b) {
    for (std::size_t at = 0;; at += WORD) {
        const std::uint64_t x = foldedWord(a + at);
        const std::uint64_t y = foldedWord(b + at);
        if (x != y) return x < y;
        if (hasZeroByte(x)) break;
    }
    return std::strcmp(a, b) < 0;
}

}  // namespace

void SortedEntries::add(const char* name, bool isDirectory, bool isHidden, bool isSystem) {
    const std::size_t length = std::strlen(name);
    const std::size_t padded = (length / WORD + 1) * WORD;  // room for the NUL, and zeros to the word's end
    char* record = names_.at(names_.allocate(padded));
    std::memcpy(record, name, length);
    std::memset(record + length, 0, padded - length);
    // The arena's blocks are aligned at least to 8, and every allocation made here is
    // a multiple of 8 bytes long, so every name starts at a multiple of 8.
    const auto address = reinterpret_cast<std::uintptr_t>(record);
    entries_.push_back(address | (isDirectory ? ENTRY_DIRECTORY : 0) | (isHidden ? ENTRY_HIDDEN : 0) |
                       (isSystem ? ENTRY_SYSTEM : 0));
}

void SortedEntries::sort() {
    if (sorted_) return;
    sorted_ = true;
    // Sorted beside the first word of each name, most comparisons are settled without
    // reading a name. The pairs live only while sorting: over one large directory the
    // registry of stored names is still empty then, so they add nothing to the peak.
    struct Keyed {
        std::uint64_t firstWord;
        std::uintptr_t entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(entries_.size());
    for (const std::uintptr_t entry : entries_) keyed.push_back(Keyed{foldedWord(nameOf(entry)), entry});
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& x, const Keyed& y) {
        if (x.firstWord != y.firstWord) return x.firstWord < y.firstWord;
        return precedesPadded(nameOf(x.entry), nameOf(y.entry));
    });
    std::size_t i = 0;
    for (const Keyed& k : keyed) entries_[i++] = k.entry;
}

const char* SortedEntries::nameAt(std::size_t index) const { return nameOf(entries_[index]); }

bool SortedEntries::isDirectoryAt(std::size_t index) const { return (entries_[index] & ENTRY_DIRECTORY) != 0; }

void SortedEntries::visitInOrder(const EntryVisitor& visit) {
    sort();
    // The names lie in the order they were listed: fetch a few ahead of the visit.
    constexpr std::size_t AHEAD = 8;
    DirEntry entry;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (i + AHEAD < entries_.size()) __builtin_prefetch(nameOf(entries_[i + AHEAD]));
        const std::uintptr_t flags = entries_[i] & FLAG_BITS;
        entry.name.assign(nameOf(entries_[i]));
        entry.isDirectory = (flags & ENTRY_DIRECTORY) != 0;
        entry.isHidden = (flags & ENTRY_HIDDEN) != 0;
        entry.isSystem = (flags & ENTRY_SYSTEM) != 0;
        if (!visit(entry)) break;
    }
}

std::vector<std::string> SortedEntries::sortedNames() {
    sort();
    std::vector<std::string> names;
    names.reserve(entries_.size());
    for (const std::uintptr_t entry : entries_) names.emplace_back(nameOf(entry));
    return names;
}
