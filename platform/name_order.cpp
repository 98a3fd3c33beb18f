#include "platform/name_order.h"

#include <algorithm>
#include <cstring>

#include "util/ascii.h"

namespace {

enum EntryFlag : unsigned char { ENTRY_DIRECTORY = 1, ENTRY_HIDDEN = 2, ENTRY_SYSTEM = 4 };

}  // namespace

bool precedesInNameOrder(const char* a, const char* b) {
    for (std::size_t i = 0;; ++i) {
        const auto x = static_cast<unsigned char>(asciiUpper(a[i]));
        const auto y = static_cast<unsigned char>(asciiUpper(b[i]));
        if (x != y) return x < y;  // a name that ends first has its NUL here, and goes first
        if (x == 0) break;
    }
    return std::strcmp(a, b) < 0;  // compares as unsigned char
}

bool precedesInNameOrder(const std::string& a, const std::string& b) {
    return precedesInNameOrder(a.c_str(), b.c_str());
}

void sortInNameOrder(std::vector<DirEntry>& entries) {
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& x, const DirEntry& y) { return precedesInNameOrder(x.name, y.name); });
}

void SortedEntries::add(const char* name, bool isDirectory, bool isHidden, bool isSystem) {
    const std::size_t length = std::strlen(name);
    char* record = records_.at(records_.allocate(length + 2));
    record[0] = static_cast<char>((isDirectory ? ENTRY_DIRECTORY : 0) | (isHidden ? ENTRY_HIDDEN : 0) |
                                  (isSystem ? ENTRY_SYSTEM : 0));
    std::memcpy(record + 1, name, length + 1);
    entries_.push_back(record);
}

void SortedEntries::visitInOrder(const EntryVisitor& visit) {
    std::sort(entries_.begin(), entries_.end(),
              [](const char* x, const char* y) { return precedesInNameOrder(x + 1, y + 1); });
    DirEntry entry;
    for (const char* record : entries_) {
        const auto flags = static_cast<unsigned char>(record[0]);
        entry.name.assign(record + 1);
        entry.isDirectory = (flags & ENTRY_DIRECTORY) != 0;
        entry.isHidden = (flags & ENTRY_HIDDEN) != 0;
        entry.isSystem = (flags & ENTRY_SYSTEM) != 0;
        if (!visit(entry)) break;
    }
}
