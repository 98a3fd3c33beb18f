#include "resfile/name_tree.h"

#include <algorithm>
#include <cstring>

#include "util/ascii.h"

namespace {

// Over the case-folded bytes eight at a time, so names equal but for case hash
// alike. The high half is kept in the slot and also picks it, so growing needs no name.
std::uint64_t foldedHash(std::string_view key) {
    constexpr std::uint64_t MULTIPLIER = 0x9E3779B97F4A7C15ull;
    std::uint64_t hash = key.size() * MULTIPLIER;
    for (std::size_t at = 0; at < key.size(); at += sizeof(std::uint64_t)) {
        std::uint64_t word = 0;  // the last word is padded with zeros
        std::memcpy(&word, key.data() + at, std::min(sizeof word, key.size() - at));
        hash = (hash ^ asciiUpperWord(word)) * MULTIPLIER;
        hash ^= hash >> 29;
    }
    // Every bit of the input reaches the high half, which picks the slot.
    hash ^= hash >> 32;
    hash *= 0xD6E8FEB86659FD93ull;
    return hash ^ (hash >> 32);
}

std::size_t home(std::uint64_t hashOrSlot, std::size_t mask) { return static_cast<std::size_t>(hashOrSlot >> 32) & mask; }

constexpr std::size_t LENGTH_BYTES = sizeof(std::uint32_t);

}  // namespace

std::size_t NameTree::findSlot(std::string_view key, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    const Slot wanted = slotOf(hash, 0);
    for (std::size_t slot = home(hash, mask);; slot = (slot + 1) & mask) {
        const Slot held = slots_[slot];
        if (held == EMPTY_SLOT) return slot;
        if (slotOf(held, 0) == wanted && equalIgnoringAsciiCase(nameAt(static_cast<Arena::Ref>(held)), key))
            return slot;
    }
}

NameTree::Place NameTree::find(std::string_view key) const {
    Place place;
    place.hash = foldedHash(key);
    if (slots_.empty()) return place;  // no table yet: insertAt makes one
    place.slot = findSlot(key, place.hash);
    place.found = slots_[place.slot] != EMPTY_SLOT;
    return place;
}

void NameTree::insertAt(const Place& place, std::string_view key) {
    if (place.found) return;
    std::size_t slot = place.slot;
    // Keep the load at most seven eighths: with the hashes in the slots, probes
    // past other names read no name, so a full table costs little and stays small.
    if (slots_.empty() || 8 * (count_ + 1) > 7 * slots_.size()) {
        grow();
        slot = findSlot(key, place.hash);
    }
    slots_[slot] = slotOf(place.hash, copyName(key));
    ++count_;
}

bool NameTree::insert(std::string_view key) {
    const Place place = find(key);
    insertAt(place, key);
    return !place.found;
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
    std::vector<Slot> old(slots_.empty() ? 64 : 2 * slots_.size(), EMPTY_SLOT);
    slots_.swap(old);
    // Names are distinct and their hashes' high halves are at hand: no name is read.
    const std::size_t mask = slots_.size() - 1;
    for (const Slot held : old) {
        if (held == EMPTY_SLOT) continue;
        std::size_t slot = home(held, mask);
        while (slots_[slot] != EMPTY_SLOT) slot = (slot + 1) & mask;
        slots_[slot] = held;
    }
}
