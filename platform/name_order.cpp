#include "platform/name_order.h"

#include <algorithm>

namespace {

unsigned char foldedByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 'a' && byte <= 'z') ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
}

}  // namespace

bool precedesInNameOrder(const std::string& a, const std::string& b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char x = foldedByte(a[i]), y = foldedByte(b[i]);
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

void sortInNameOrder(std::vector<DirEntry>& entries) {
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& x, const DirEntry& y) { return precedesInNameOrder(x.name, y.name); });
}
