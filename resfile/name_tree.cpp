#include "resfile/name_tree.h"

#include <cstring>

#include "util/ascii.h"

namespace {

// FNV-1a over the case-folded bytes, so names equal but for case hash alike.
std::size_t foldedHash(std::string_view key) {
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : key) hash = (hash ^ static_cast<unsigned char>(asciiUpper(c))) * 1099511628211ull;
    return static_cast<std::size_t>(hash ^ (hash >> 32));
}

constexpr std::size_t LENGTH_BYTES = sizeof(std::uint32_t);

}  // namespace

std::size_t NameTree::findSlot(std::string_view key, std::size_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const Arena::Ref ref = slots_[slot];
        if (ref == Arena::NO_REF || equalIgnoringAsciiCase(nameAt(ref), key)) return slot;
    }
}

bool NameTree::contains(std::string_view key) const {
    if (count_ == 0) return false;
    return slots_[findSlot(key, foldedHash(key))] != Arena::NO_REF;
}

bool NameTree::insert(std::string_view key) {
    // Keep the load at most one half, so probes stay short.
    if (2 * (count_ + 1) > slots_.size()) grow();
    const std::size_t slot = findSlot(key, foldedHash(key));
    if (slots_[slot] != Arena::NO_REF) return false;
    slots_[slot] = copyName(key);
    ++count_;
    return true;
}

std::string_view NameTree::nameAt(Arena::Ref ref) const {
    const char* record = records_.at(ref);
    std::uint32_t length;
    std::memcpy(&length, record, LENGTH_BYTES);
    return {record + LENGTH_BYTES, length};
}

Arena::Ref NameTree::copyName(std::string_view key) {
    const Arena::Ref ref = records_.allocate(LENGTH_BYTES + key.size());
    char* record = records_.at(ref);
    const auto length = static_cast<std::uint32_t>(key.size());
    std::memcpy(record, &length, LENGTH_BYTES);
    if (!key.empty()) std::memcpy(record + LENGTH_BYTES, key.data(), key.size());
    return ref;
}

void NameTree::grow() {
    std::vector<Arena::Ref> old(slots_.empty() ? 64 : 2 * slots_.size(), Arena::NO_REF);
    slots_.swap(old);
    for (const Arena::Ref ref : old)
        if (ref != Arena::NO_REF) slots_[findSlot(nameAt(ref), foldedHash(nameAt(ref)))] = ref;
}
