#include "resfile/name_tree.h"

#include <cstring>
#include <new>

namespace {

unsigned char foldedByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

// FNV-1a over the case-folded bytes, so names equal but for case hash alike.
std::size_t foldedHash(std::string_view key) {
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : key) hash = (hash ^ foldedByte(c)) * 1099511628211ull;
    return static_cast<std::size_t>(hash ^ (hash >> 32));
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldedByte(a[i]) != foldedByte(b[i])) return false;
    return true;
}

constexpr std::size_t LENGTH_BYTES = sizeof(std::uint32_t);

}  // namespace

std::size_t NameTree::findSlot(std::string_view key, std::size_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const NameRef ref = slots_[slot];
        if (ref == EMPTY_SLOT || equalIgnoringCase(nameAt(ref), key)) return slot;
    }
}

bool NameTree::contains(std::string_view key) const {
    if (count_ == 0) return false;
    return slots_[findSlot(key, foldedHash(key))] != EMPTY_SLOT;
}

bool NameTree::insert(std::string_view key) {
    // Keep the load at most one half, so probes stay short.
    if (2 * (count_ + 1) > slots_.size()) grow();
    const std::size_t slot = findSlot(key, foldedHash(key));
    if (slots_[slot] != EMPTY_SLOT) return false;
    slots_[slot] = copyName(key);
    ++count_;
    return true;
}

std::string_view NameTree::nameAt(NameRef ref) const {
    const char* record = blocks_[ref >> OFFSET_BITS].get() + (ref & ((1u << OFFSET_BITS) - 1)) * RECORD_ALIGNMENT;
    std::uint32_t length;
    std::memcpy(&length, record, LENGTH_BYTES);
    return {record + LENGTH_BYTES, length};
}

NameTree::NameRef NameTree::copyName(std::string_view key) {
    const std::size_t size = (LENGTH_BYTES + key.size() + RECORD_ALIGNMENT - 1) / RECORD_ALIGNMENT * RECORD_ALIGNMENT;
    const bool ownBlock = size > BLOCK_SIZE / 4;  // a long name keeps the shared blocks dense
    if (ownBlock || BLOCK_SIZE - blockUsed_ < size) {
        // Running out of references is running out of memory: 16 GiB of names.
        if (blocks_.size() >= MAX_BLOCKS) throw std::bad_alloc();
        blocks_.emplace_back(new char[ownBlock ? size : BLOCK_SIZE]);
        if (!ownBlock) {
            currentBlock_ = blocks_.size() - 1;
            blockUsed_ = 0;
        }
    }
    const std::size_t block = ownBlock ? blocks_.size() - 1 : currentBlock_;
    const std::size_t offset = ownBlock ? 0 : blockUsed_;
    if (!ownBlock) blockUsed_ += size;
    char* record = blocks_[block].get() + offset;
    const auto length = static_cast<std::uint32_t>(key.size());
    std::memcpy(record, &length, LENGTH_BYTES);
    if (!key.empty()) std::memcpy(record + LENGTH_BYTES, key.data(), key.size());
    return static_cast<NameRef>((block << OFFSET_BITS) | (offset / RECORD_ALIGNMENT));
}

void NameTree::grow() {
    std::vector<NameRef> old(slots_.empty() ? 64 : 2 * slots_.size(), EMPTY_SLOT);
    slots_.swap(old);
    for (const NameRef ref : old)
        if (ref != EMPTY_SLOT) slots_[findSlot(nameAt(ref), foldedHash(nameAt(ref)))] = ref;
}
