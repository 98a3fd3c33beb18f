#include "resfile/name_tree.h"

#include <cstring>

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

}  // namespace

std::size_t NameTree::findSlot(std::string_view key, std::size_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t index = slots_[slot];
        if (index == EMPTY_SLOT || equalIgnoringCase(nameAt(index), key)) return slot;
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
    slots_[slot] = static_cast<std::uint32_t>(count_);
    names_.push_back(copyName(key));
    lengths_.push_back(static_cast<std::uint32_t>(key.size()));
    ++count_;
    return true;
}

const char* NameTree::copyName(std::string_view key) {
    char* copy;
    if (key.size() > BLOCK_SIZE / 4) {
        // A long name gets a block of its own, so the shared blocks stay densely used.
        blocks_.emplace_back(new char[key.size()]);
        copy = blocks_.back().get();
    } else {
        if (currentBlock_ == nullptr || BLOCK_SIZE - blockUsed_ < key.size()) {
            blocks_.emplace_back(new char[BLOCK_SIZE]);
            currentBlock_ = blocks_.back().get();
            blockUsed_ = 0;
        }
        copy = currentBlock_ + blockUsed_;
        blockUsed_ += key.size();
    }
    if (!key.empty()) std::memcpy(copy, key.data(), key.size());
    return copy;
}

void NameTree::grow() {
    std::vector<std::uint32_t> bigger(slots_.empty() ? 64 : 2 * slots_.size(), EMPTY_SLOT);
    slots_.swap(bigger);
    for (std::uint32_t index = 0; index < count_; ++index) slots_[findSlot(nameAt(index), foldedHash(nameAt(index)))] = index;
}
